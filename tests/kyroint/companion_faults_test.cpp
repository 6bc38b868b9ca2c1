// A companion that misbehaves, on purpose (the "+fault" answers of its script): it ends
// before its reply, cuts its reply off in the middle of a line or of an escape, ends while
// it answers the connection's close, writes lines that are no packets, replies for sessions
// that do not exist, writes one line of 32 MiB, or floods the host with empty lines. Each
// time the host's call ends with its documented result - the normal one where the fault
// does no harm, else the failure result with the error record - soon after the fault, and
// the host's next request works (with a fresh companion when the old one died). And a
// companion started through a wrapper (KYRO_USE_SQUISH) that ends before it, or that
// writes to its output when nobody reads it any more.
//
// Each case runs in a fresh host process (a child role): the library reads its custom
// environment file, which tells it where Vex.exe is, once per process.
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/int/dialog_requests.h"
#include "kyro/int/host_context.h"
#include "kyro/int/privacy_consent.h"
#include "kyro/pipe/TProcess.h"
#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/platform/fault_injection.h"
#include "kyro/platform/presence_lock.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "HostProcess.h"
#include "PipeReports.h"
#include "ScopedVariable.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using SteadyClock = std::chrono::steady_clock;

const kyrointutil::KyroProductIdentity kProduct{"Kyro Faults", "KyroFaults15"};

// How long a call may take once the companion has misbehaved. Natively a dead companion
// or a spoilt line is noticed within a wait tick or two (100 ms each); Wine's process and
// pipe calls are many times slower, and the 32 MiB line crawls through its pipes, so
// there the bound is wider. Either way a call that hangs fails the test, not its speed.
const auto kFaultBound = std::chrono::milliseconds(KYRO_TEST_WINDOWS ? 8000 : 2000);

// The plain message box of the requests below.
int askGoOn()
{
    return kyrointutil::showMessageBox("Kyro", "Go on?", 3, "Yes", "No", 1);
}

// The host's memory while it waits, looked at from its idle hook: how far it grew during
// a request. A host whose memory runs away ends itself, saying so, before it takes the
// machine with it.
struct MemoryWatch {
    std::int64_t base = 0;
    std::int64_t peak = 0;
    SteadyClock::time_point looked;

    static constexpr std::int64_t kRunaway = 512 * 1024 * 1024;

    void start() { base = peak = kyro::platform::privateMemoryBytes(); }
    std::int64_t grownMiB() const { return (peak - base) / (1024 * 1024); }
    static void look(void* context)
    {
        auto* watch = static_cast<MemoryWatch*>(context);
        const SteadyClock::time_point now = SteadyClock::now();
        if (now - watch->looked < std::chrono::milliseconds(20))
            return;
        watch->looked = now;
        const std::int64_t bytes = kyro::platform::privateMemoryBytes();
        if (bytes > watch->peak)
            watch->peak = bytes;
        if (bytes - watch->base > kRunaway) {
            std::printf("memory ran away: %lld MiB more\n", static_cast<long long>(watch->grownMiB()));
            std::fflush(stdout);
            std::_Exit(4);
        }
    }
};

// A host that runs the requests named in `argument` ("error,message,...") one after
// another and prints "<request>=<result> <milliseconds> <MiB its memory grew by>" for
// each, then the kinds of report the pipe framework made ("report: <text>").
KYRO_CHILD_ROLE(faultHost)
{
    KyroLogger::instance_m()->setLogFileName(hostTestFolder() / "errors.log");
    watchPipeReports();
    MemoryWatch memory;
    kyrointutil::setIdleHook(&MemoryWatch::look, &memory);

    std::stringstream requests(argument);
    std::string request;
    while (std::getline(requests, request, ',')) {
        const SteadyClock::time_point start = SteadyClock::now();
        memory.start();
        int result = -1;
        if (request == "error")
            result = kyrointutil::showErrorDialog("Kyro", "Something failed", "Details; more", 4);
        else if (request == "memory")
            result = kyrointutil::showInsufficientMemory();
        else if (request == "message")
            result = askGoOn();
        else if (request == "unreachable") {
            // A companion that holds its presence lock but never listens: the host holds it.
            using namespace kyro::platform;
            PresenceLock lock = kNoPresenceLock;
            const TStr name = VexPipeNamedConduit::presenceLockName(
                VexPipeNamedConduit::makePipePrefix("Vex.exe"));
            if (acquirePresenceLock(name.utf8(), &lock) == PresenceResult::Acquired) {
                result = askGoOn();
                releasePresenceLock(lock);
            }
        }
        else if (request == "noPipes" || request == "onePipeFails") {
            // This host cannot make its inbound pipe: ever (out of handles), or once.
            using namespace kyro::platform;
            armFault(FaultPoint::PipeCreate, 1,
                     request == "noPipes" ? FaultRepeat::FromThenOn : FaultRepeat::Once);
            result = askGoOn();
            disarmFaults();
        }
        else if (request == "hugeMessage")
            result = kyrointutil::showMessageBox("Kyro", TStr(std::string(17 << 20, 'x').c_str()), 3,
                                                 "Yes", "No", 1);
        else if (request == "privacy")
            result = kyrointutil::showPrivacyPolicy(kProduct, "", "");
        else if (request == "consent") {
            bool consented = false;
            result = kyrointutil::readPrivacyPolicyConsent(kProduct, &consented) ? consented : -1;
        }
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            SteadyClock::now() - start);
        std::printf("%s=%d %lld %lld\n", request.c_str(), result, static_cast<long long>(took.count()),
                    static_cast<long long>(memory.grownMiB()));
    }
    printPipeReports();
    return 0;
}

struct HostRun {
    Lines results;                  // "<request>=<result>"
    std::vector<long long> times;   // milliseconds, in the same order
    std::set<std::string> reports;
    std::string output;             // everything, for failure messages
};

class CompanionFaults : public testing::Test {
protected:
    // Runs a host whose companion answers by `script`.
    HostRun run(const char* requests, const char* script)
    {
        writeFileBytes(m_folder / "errors.log", "");
        HostRun run;
        run.output = runHost(m_folder, std::string("faultHost:") + requests, script);
        std::stringstream lines(run.output);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.compare(0, 8, "report: ") == 0) {
                run.reports.insert(line.substr(8));
                continue;
            }
            const std::string::size_type blank = line.find(' ');
            run.results.push_back(line.substr(0, blank));
            run.times.push_back(blank == std::string::npos ? -1 : std::atoll(line.c_str() + blank + 1));
        }
        return run;
    }

    Lines records() { return libraryRecords(m_folder / "errors.log"); }

    // The request at `index` (the faulty one) ended within the bound.
    static void expectSoon(const HostRun& run, std::size_t index)
    {
        ASSERT_LT(index, run.times.size()) << run.output;
        EXPECT_GE(run.times[index], 0) << run.output;
        EXPECT_LT(run.times[index], kFaultBound.count()) << run.output;
    }

    TempFolder m_folder;
};

const char* const kUnanswered = "5@dialog_requests.cpp";

TEST_F(CompanionFaults, ACompanionThatEndsBeforeItsReply)
{
    // The first request starts the companion; the second ends it unanswered; the third
    // starts a fresh one.
    HostRun host = run("error,message,error,message", "MessageBox=exit;ErrorDialog=reply");
    EXPECT_EQ(host.results, (Lines{"error=1", "message=0", "error=1", "message=0"})) << host.output;
    expectSoon(host, 1);
    expectSoon(host, 3);
    EXPECT_EQ(records(), (Lines{kUnanswered, kUnanswered}));

    host = run("message,error,privacy,error,memory", "ErrorDialog=exit;PrivacyPolicyDialog=exit;*=1");
    EXPECT_EQ(host.results,
              (Lines{"message=1", "error=0", "privacy=5", "error=0", "memory=0"})) << host.output;
    for (std::size_t i = 1; i < 5; ++i)
        expectSoon(host, i);
    EXPECT_EQ(records(), Lines(4, kUnanswered));
}

TEST_F(CompanionFaults, AReplyCutOffIsNoReply)
{
    // Half a line, or a line that ends inside an escape, then the companion ends: what came
    // is not taken for an answer, whatever it held.
    for (const char* fault : {"cut", "cutEscape"}) {
        SCOPED_TRACE(fault);
        const std::string script = std::string("MessageBox=1+") + fault +
                                   ";ErrorDialog=reply+" + fault + ";PrivacyPolicyDialog=3+" +
                                   fault;
        HostRun host = run("message,error,privacy,consent,message", script.c_str());
        // Consent is not recorded from a reply that never came whole.
        EXPECT_EQ(host.results,
                  (Lines{"message=0", "error=0", "privacy=5", "consent=-1", "message=0"}))
            << host.output;
        for (std::size_t i : {0, 1, 2, 4})
            expectSoon(host, i);
        EXPECT_EQ(records(), Lines(4, kUnanswered));
    }
}

TEST_F(CompanionFaults, ACompanionThatEndsWhileAnsweringTheClose)
{
    // The answer came; the goodbye after it did not, and the companion has gone. The call
    // keeps its answer, and the next one starts a new companion.
    HostRun host = run("message,error,message,privacy",
                       "MessageBox=1+cutClose;ErrorDialog=reply+cutClose;PrivacyPolicyDialog=2+cutClose");
    EXPECT_EQ(host.results, (Lines{"message=1", "error=1", "message=1", "privacy=19"}))
        << host.output;
    for (std::size_t i = 0; i < 4; ++i)
        expectSoon(host, i);
    EXPECT_EQ(records(), Lines{"19@dialog_requests.cpp"});

    // The same with a companion that ends right after its reply, before the close.
    host = run("message,error,message", "MessageBox=1+exit;ErrorDialog=reply+exit");
    EXPECT_EQ(host.results, (Lines{"message=1", "error=1", "message=1"})) << host.output;
    for (std::size_t i = 0; i < 3; ++i)
        expectSoon(host, i);
    EXPECT_EQ(records(), Lines{});
}

TEST_F(CompanionFaults, ACompanionSlowToEndIsWaitedFor)
{
    // Each companion replies and closes its pipes, but holds its presence lock 600 ms
    // longer: the next request finds it "running" yet cannot reach it, and waits for it
    // to be gone to start the next one.
    HostRun host = run("message,error,message,error", "MessageBox=1+slowExit;ErrorDialog=reply+slowExit");
    EXPECT_EQ(host.results, (Lines{"message=1", "error=1", "message=1", "error=1"})) << host.output;
    for (std::size_t i = 1; i < 4; ++i)
        expectSoon(host, i);
    EXPECT_EQ(records(), Lines{});
}

TEST_F(CompanionFaults, AConnectionThatCannotBeMadeIsGivenUpSoon)
{
    // A companion that shows itself running but never listens is given up after the
    // patience (2 s); a host that cannot make the pipe the answers come back on gives up
    // after a few tries rather than trying for hours. Each ends with the failure result,
    // and the next request starts a companion. One failure to make the pipe alone is tried
    // again.
    HostRun host = run("unreachable,message,noPipes,message,onePipeFails", "MessageBox=1");
    EXPECT_EQ(host.results, (Lines{"unreachable=0", "message=1", "noPipes=0", "message=1",
                                   "onePipeFails=1"}))
        << host.output;
    ASSERT_EQ(host.times.size(), 5u) << host.output;
    for (std::size_t i : {0, 2})
        EXPECT_LT(host.times[i], 2 * kFaultBound.count()) << host.output;
    EXPECT_EQ(records(), Lines(2, kUnanswered));
}

TEST_F(CompanionFaults, LinesThatAreNoPacketsOrAreMalformedAreDropped)
{
    HostRun host = run("message,error,message,privacy",
                       "MessageBox=1+garbage;ErrorDialog=reply+garbage;PrivacyPolicyDialog=2+garbage");
    EXPECT_EQ(host.results, (Lines{"message=1", "error=1", "message=1", "privacy=19"}))
        << host.output;
    for (std::size_t i = 1; i < 4; ++i)
        expectSoon(host, i);
    EXPECT_EQ(records(), Lines{"19@dialog_requests.cpp"});
}

TEST_F(CompanionFaults, RepliesForSessionsThatDoNotExistChangeNothing)
{
    HostRun host = run("message,error,message", "MessageBox=1+stray;ErrorDialog=reply+stray");
    EXPECT_EQ(host.results, (Lines{"message=1", "error=1", "message=1"})) << host.output;
    for (std::size_t i = 1; i < 3; ++i)
        expectSoon(host, i);
    EXPECT_EQ(records(), Lines{});
}

TEST_F(CompanionFaults, ALineLongerThanAReaderTakesIsDroppedForItsLength)
{
    // 32 MiB addressed to the waiting call, with a button of its own: the reader drops it
    // at its limit and the real answer after it is the reply.
    HostRun host = run("error,message,error", "MessageBox=1+huge;ErrorDialog=reply");
    EXPECT_EQ(host.results, (Lines{"error=1", "message=1", "error=1"})) << host.output;
    expectSoon(host, 1);
    EXPECT_EQ(host.reports.count("Dropped an incoming line longer than 16777216 bytes"), 1u)
        << host.output;
    EXPECT_EQ(records(), Lines{});
}

TEST_F(CompanionFaults, ARequestLongerThanTheCompanionReadsIsNotSent)
{
    // The companion would drop the line and never answer: the call fails at once instead
    // of waiting for ever, and the next request goes through.
    HostRun host = run("message,hugeMessage,message", "MessageBox=1");
    EXPECT_EQ(host.results, (Lines{"message=1", "hugeMessage=0", "message=1"})) << host.output;
    expectSoon(host, 1);
    EXPECT_EQ(host.reports.count("Could not send vex.MessageBox"), 1u) << host.output;
    EXPECT_EQ(records(), Lines{kUnanswered});
}

}  // namespace

TEST_F(CompanionFaults, ACompanionThatFloodsIsCutOff)
{
    // Empty lines without end before the reply: the host holds no more of them than its
    // reader's cap, cuts the companion off, and the call fails soon; the next request
    // connects afresh.
    HostRun host = run("message,error,message", "MessageBox=1;ErrorDialog=reply+flood");
    EXPECT_EQ(host.results, (Lines{"message=1", "error=0", "message=1"})) << host.output;
    expectSoon(host, 1);
    EXPECT_EQ(host.reports.count("Cut off a peer that sent more than 65536 lines or 67108864 bytes unread"),
              1u)
        << host.output;
    EXPECT_EQ(records(), Lines{kUnanswered});
}

TEST_F(CompanionFaults, ACompanionStartedThroughAWrapperIsJudgedByItsPresenceLock)
{
    // The wrapper (KYRO_USE_SQUISH) starts the companion and ends at once, or 300 ms later
    // while the answer (600 ms) is awaited, or writes to its output all along, after the
    // connection too, when nobody reads that any more. The companion serves on all the same.
    const TPath wrapper = thisTestProgram().directory() / KYRO_TEST_CHILD_NAME;
    const std::string survived = std::string((m_folder / "survived.txt").utf8());
    const struct {
        const char* name;
        std::string wrap;   // KYRO_TEST_WRAP: "<lifetime ms>[:<file>]"
    } rows[] = {
        {"ends at once", "0"},
        {"ends while the answer is awaited", "300"},
        {"writes after the connection", "1000:" + survived},
    };
    ScopedVariable squish(TProcess::kSquishVariable, wrapper.utf8());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedVariable wrap("KYRO_TEST_WRAP", row.wrap.c_str());
        HostRun host = run("message,message", "MessageBox=1@600");
        EXPECT_EQ(host.results, (Lines{"message=1", "message=1"})) << host.output;
        EXPECT_EQ(records(), Lines{});
    }
    // It lives a second; the host may have ended before that.
    std::string written;
    for (int i = 0; i < 100 && written.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        written = readFileBytes(m_folder / "survived.txt");
    }
    EXPECT_EQ(written, "survived\n");
}
