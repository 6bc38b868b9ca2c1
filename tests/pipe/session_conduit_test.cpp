// Sessions and conduits over real pipes: the wire, replies, incoming packets, the ends of
// sessions and conduits, connecting to a server, and a companion that misbehaves.
#include "kyro/pipe/VexPipeConduit.h"

#include "PipeTestSupport.h"
#include "ReportCapture.h"
#include "kyro/pipe/VexPipeFacility.h"
#include "kyro/platform/presence_lock.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>

using namespace kyro::platform;
using pipetest::eventually;
using pipetest::Lines;

namespace {

const std::string pid = std::to_string(currentProcessId());

int countContaining(const Lines& lines, const std::string& part)
{
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(part) != std::string::npos;
    }));
}

long long msSince(std::chrono::steady_clock::time_point start)
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}

class Wired : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(wired.ready()); }
    std::string sent(int timeoutMs = 10000) { return wired.peer().received().take(timeoutMs); }
    pipetest::WiredConduit wired;
    VexPipeConduit* conduit = wired.conduit();
};

}  // namespace

// A companion, "<fault>:<prefix>": "gone" ends at once; "mute" ends on its first bytes;
// "silent" reads and never answers; "die" ends on "system.die"; "noGoodbye" leaves the ends of
// sessions and connections unanswered; "serve" holds the presence lock. All end with their clients.
KYRO_CHILD_ROLE(vexCompanion)
{
    const std::string::size_type colon = argument.find(':');
    const std::string mode = argument.substr(0, colon);
    const std::string prefix = argument.substr(colon + 1);
    if (mode == "gone")
        return 3;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    if (mode == "mute" || mode == "silent") {
        VexPipeNamedConduit names(TPath(prefix.c_str()), true, 0);
        const PipeHandle inbound = createInboundPipe(names.pipeName(0).utf8());
        char bytes[4096];
        while (std::chrono::steady_clock::now() < deadline) {
            const PipeResult got = pipeRead(inbound, bytes, sizeof(bytes));
            if (got.status == PipeStatus::Ok && mode == "mute")
                std::_Exit(0);
            if (got.status == PipeStatus::Broken)
                return 0;
            if (got.status != PipeStatus::Ok)
                sleepAlertable(5);
        }
        return 1;
    }
    VexPipeNamedConduit server(TPath(prefix.c_str()), true, 0);
    server.systemFacility()->addMethod("die", [](VexPipeSession*, VexPipePacket*, VexPipePacket*) -> long { std::_Exit(0); });
    for (const char* goodbye : {"ssnTerm", "cndTerm"}) {
        if (mode == "noGoodbye")
            server.systemFacility()->addMethod(goodbye, [](VexPipeSession*, VexPipePacket*, VexPipePacket*) -> long {
                return VexPipeFacility::kHandled;
            });
    }
    PresenceLock lock = kNoPresenceLock;
    if (mode == "serve" && acquirePresenceLock(VexPipeNamedConduit::presenceLockName(prefix.c_str()).utf8(),
                                               &lock) != PresenceResult::Acquired)
        return 2;
    int status = server.startListening() ? 1 : 2;
    for (bool served = false; status == 1 && std::chrono::steady_clock::now() < deadline;) {
        server.idleTick(50);
        served = served || server.readerCount() > 1;
        if (served && server.readerCount() == 1)
            status = 0;
    }
    if (lock != kNoPresenceLock)
        releasePresenceLock(lock);
    return status;
}

TEST(VexPipeConduit, HoldsItsSessionsAndState)
{
    VexPipeConduit conduit(false, VexPipePacket::kWait, false);
    EXPECT_EQ(conduit.state(), static_cast<std::uint32_t>(VexPipeConduit::kReady));
    VexPipeSession* system = conduit.findSession(1);
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(system->peerNumber(), 1u);
    EXPECT_EQ(conduit.defaultSession(), system);

    VexPipeSession* first = conduit.newSession();
    VexPipeSession* second = conduit.newSession();
    ASSERT_TRUE(first != nullptr && second != nullptr);
    EXPECT_GE(first->number(), 10u);
    EXPECT_EQ(second->number(), first->number() + 1);
    EXPECT_EQ(conduit.findSession(first->number()), first);
    EXPECT_EQ(conduit.sessionCount(), 3);
    EXPECT_EQ(conduit.findSession(4), nullptr);

    // The lock keeps its depth; an unlock too many leaves it at 0.
    EXPECT_TRUE(conduit.lock(0));
    EXPECT_TRUE(conduit.lock(50));
    EXPECT_EQ(conduit.lockDepth(), 2u);
    for (int i = 0; i < 3; ++i)
        conduit.unlock();
    EXPECT_EQ(conduit.lockDepth(), 0u);

    // The base class has no pipes of its own; with no reader no reply could ever come.
    EXPECT_FALSE(conduit.connectWriter(0));
    EXPECT_FALSE(conduit.openReader(1));
    EXPECT_EQ(conduit.reserved(), 0);
    EXPECT_TRUE(conduit.connectionLost());

    first->terminate(false);
    EXPECT_EQ(first->state(), static_cast<std::uint32_t>(VexPipeSession::kTerminated));
    EXPECT_EQ(first->conduit(), nullptr);
    EXPECT_EQ(conduit.findSession(first->number()), nullptr);
    first->release();
    second->release();   // still in the map: the conduit ends it

    conduit.findSession(1)->terminate(false);
    EXPECT_EQ(conduit.defaultSession(), nullptr);
    ReportCapture errors;
    VexPipePacket nowhere("f.m", VexPipePacket::kWait);
    EXPECT_EQ(conduit.transmit(&nowhere, nullptr, 0), 1);
    EXPECT_EQ(errors.lines(), Lines{"Error  No session to send f.m in"});
}

TEST_F(Wired, WritesPacketsAsLines)
{
    VexPipePacket wait("kyro.PleaseWaitDialog", VexPipePacket::kNoWait);
    wait.setString("waiting", "True");
    EXPECT_EQ(conduit->post(&wait, 0), 0);
    EXPECT_EQ(sent(), "65536;kyro.PleaseWaitDialog;1;1;0;1;waiting=hTrue");

    // In a session of its own, whose peer is not known yet.
    VexPipeSession* session = conduit->newSession();
    VexPipePacket request("f.m", VexPipePacket::kNoWait);
    request.setSessionNumber(static_cast<int>(session->number()));
    EXPECT_EQ(conduit->call(&request, nullptr, 0), 0);
    EXPECT_EQ(sent(), "65536;f.m;0;" + std::to_string(session->number()) + ";0;1");

    // An unknown writer: nothing written, nothing waited for.
    ReportCapture errors;
    VexPipePacket lost("f.m", VexPipePacket::kWait), reply;
    EXPECT_EQ(conduit->transmit(&lost, &reply, 5), 1);
    EXPECT_EQ(errors.lines(), Lines{"Error  Attempt to write to unknown writer 5"});
    EXPECT_FALSE(conduit->defaultSession()->isWaiting());
    session->release();

    // Nor a line longer than the peer's reader takes: it would drop it, and the wait never end.
    VexPipePacket huge("f.m", VexPipePacket::kWait);
    huge.setString("text", TStr(std::string(VexPipeReadEndpoint::kMaxLineBytes, 'x').c_str()));
    EXPECT_EQ(conduit->call(&huge, &reply, 0), 1);
    EXPECT_EQ(errors.lines(), (Lines{"Error  Attempt to write to unknown writer 5",
                                     "Error  Could not send f.m: its line of 16777240 bytes is longer than 16777216"}));
    EXPECT_FALSE(conduit->defaultSession()->isWaiting());
    EXPECT_EQ(sent(200), "(none)");

    // A named conduit puts the client process id into every packet.
    VexPipeNamedConduit::setClientProcessId(5120);
    VexPipeNamedConduit named(TPath(pipetest::uniqueName().c_str()), false, VexPipePacket::kNoWait);
    pipetest::LineReader companion(named.pipeName(0).utf8());
    ASSERT_TRUE(named.connectWriter(0));
    VexPipePacket connect("system.cndCnct", VexPipePacket::kNoWait);
    EXPECT_EQ(named.post(&connect, 0), 0);
    EXPECT_EQ(companion.take(), "65536;system.cndCnct;1;1;0;1;CPID=d5120");
    VexPipeNamedConduit::setClientProcessId(0);
}

TEST_F(Wired, CallsWaitForTheirReply)
{
    wired.peer().setResponder(&pipetest::RawPeer::answerAll);
    struct Idle {
        int calls = 0;
        std::uint32_t interval = 0;
        static void tick(void* self, std::uint32_t ms)
        {
            ++static_cast<Idle*>(self)->calls;
            static_cast<Idle*>(self)->interval = ms;
        }
    } idle;
    EXPECT_EQ(conduit->setIdleCallback(&Idle::tick, &idle), nullptr);

    ReportCapture traces(ReportCapture::kTrace);
    VexPipePacket request("kyro.ErrorDialog", VexPipePacket::kWait), reply;
    request.setString("selector", "ErrorDialogBase");
    EXPECT_EQ(conduit->call(&request, &reply, 0), 0);
    EXPECT_EQ(reply.fullName(), "kyro.RESP");
    EXPECT_EQ(reply.getString("RCOD"), "ErrorDialog");
    EXPECT_EQ(reply.sessionNumber(), 1);
    EXPECT_EQ(reply.peerSessionNumber(), 91);
    EXPECT_GE(idle.calls, 1);
    EXPECT_EQ(idle.interval, 100u);
    EXPECT_THAT(traces.lines(), testing::Contains("  packet received: kyro.RESP"));
    EXPECT_EQ(conduit->findSession(1)->peerNumber(), 91u);
    EXPECT_EQ(conduit->setIdleCallback(nullptr, nullptr), &Idle::tick);

    // Any packet for a waiting session is its reply, and is not dispatched.
    wired.peer().setResponder([](const std::string& line) -> Lines {
        VexPipePacket request;
        request.unmarshal(TStr(line.c_str()));
        return {"65536;system.index;" + std::to_string(request.peerSessionNumber()) + ";91;0;2"};
    });
    VexPipePacket second("kyro.MessageBox", VexPipePacket::kWait);
    EXPECT_EQ(conduit->call(&second, &reply, 0), 0);
    EXPECT_EQ(reply.fullName(), "system.index");
    wired.peer().setResponder(nullptr);
    sent();   // the two requests, and no answer to the "index"
    EXPECT_THAT(sent(), testing::StartsWith("65536;kyro.MessageBox;"));
    EXPECT_EQ(sent(200), "(none)");

    // No writer: a waited-for call returns at once, whichever of packet or conduit asks to wait.
    for (const std::uint32_t mode : {VexPipePacket::kWait, VexPipePacket::kWaitInherit}) {
        VexPipeConduit quiet(false, VexPipePacket::kWaitInherit, false);
        VexPipePacket request("f.m", mode);
        EXPECT_EQ(quiet.call(&request, &reply, 0), 1);
        EXPECT_FALSE(quiet.defaultSession()->isWaiting());
    }
}

TEST_F(Wired, HandsIncomingPacketsToTheirSessions)
{
    ReportCapture traces(ReportCapture::kTrace);
    // Session 0 makes a new session; its reply comes from there.
    ASSERT_TRUE(wired.deliver("65536;system.index;0;21;0;2"));
    EXPECT_EQ(conduit->arrivals(), 1u);
    EXPECT_EQ(conduit->sessionCount(), 2);
    VexPipePacket answer;
    answer.unmarshal(TStr(sent().c_str()));
    EXPECT_EQ(answer.sessionNumber(), 21);
    const long made = answer.peerSessionNumber();
    ASSERT_NE(conduit->findSession(made), nullptr);
    EXPECT_EQ(conduit->findSession(made)->peerNumber(), 21u);
    EXPECT_THAT(traces.lines(), testing::Contains("PROCESS: 0"));

    // An unknown number: a new session, after a trace line.
    ASSERT_TRUE(wired.deliver("65536;system.index;12345;22;0;2"));
    EXPECT_THAT(traces.lines(), testing::Contains("incoming packet had bad session id : 12345. Creating a new session."));
    EXPECT_EQ(conduit->arrivals(), 2u);
    EXPECT_THAT(sent(), testing::StartsWith("65536;system.RESP;22;"));

    // A known one takes the sender's number as its peer.
    ASSERT_TRUE(wired.deliver("65536;system.index;" + std::to_string(made) + ";23;0;2"));
    EXPECT_EQ(conduit->findSession(made)->peerNumber(), 23u);
    EXPECT_EQ(conduit->arrivals(), 2u);
    EXPECT_THAT(sent(), testing::StartsWith("65536;system.RESP;23;" + std::to_string(made) + ";"));

    // Lines that are not packets make no session and no answer.
    ASSERT_TRUE(wired.peer().inject("\ngarbage\n65537;system.index;1;7;0;2\n"));
    EXPECT_TRUE(wired.tickUntil([&] {
        return countContaining(traces.lines(), "Dropped an incoming line that is not a packet") == 3;
    }));
    EXPECT_EQ(conduit->arrivals(), 2u);

    // One line per reader per pass.
    ASSERT_TRUE(wired.peer().inject("65536;system.RESP;1;7;0;1\n65536;system.RESP;1;7;0;1\n"));
    ASSERT_TRUE(eventually([&] { return conduit->processIncoming() == 1; }));
    EXPECT_EQ(conduit->processIncoming(), 1);
    EXPECT_EQ(conduit->processIncoming(), 0);
    EXPECT_EQ(countContaining(traces.lines(), "System Facility Response received"), 2);
    EXPECT_EQ(sent(100), "(none)");
}

TEST_F(Wired, PacketsForUnknownSessionsLeaveNoSessionBehind)
{
    const int before = conduit->sessionCount();
    // Nothing answers these: a reply for no session, a notice, a facility nobody serves.
    for (const char* line : {"65536;kyro.RESP;999999;7;0;1;selected_button=d9", "65536;system.RESP;0;7;0;1",
                             "65536;system.error;-1;7;0;2;ECOD=d1",
                             "65536;kyro.PleaseWaitDialog;0;7;0;1;waiting=hTrue"}) {
        for (int i = 0; i < 100; ++i) {
            VexPipePacket packet;
            packet.unmarshal(line);
            EXPECT_EQ(conduit->dispatchIncoming(&packet), 1) << line;
        }
        EXPECT_EQ(conduit->sessionCount(), before) << line;
    }
    EXPECT_EQ(conduit->arrivals(), 400u);

    // One that answered stays for the rest of its conversation.
    ASSERT_TRUE(wired.deliver("65536;system.index;0;21;0;2"));
    EXPECT_EQ(conduit->sessionCount(), before + 1);
    EXPECT_THAT(sent(), testing::StartsWith("65536;system.RESP;21;"));

    // A peer that keeps opening conversations is refused beyond the cap.
    ReportCapture errors;
    VexPipePacket open;
    open.unmarshal("65536;system.index;0;22;0;2");
    for (int i = conduit->sessionCount(); i <= VexPipeConduit::kMaxSessions; ++i) {
        open.setSessionNumber(0);   // the conduit wrote the new session's number in
        EXPECT_EQ(conduit->dispatchIncoming(&open), i < VexPipeConduit::kMaxSessions ? 1 : 0);
    }
    EXPECT_EQ(conduit->sessionCount(), VexPipeConduit::kMaxSessions);
    EXPECT_EQ(errors.lines(), Lines{"Error -268435449 Could not find or allocate session : 0"});
}

TEST_F(Wired, SessionMethodOverrideGoesFirst)
{
    VexPipeSession* system = conduit->findSession(1);
    system->setMethodOverride([](VexPipeSession*, VexPipePacket*) -> long { return VexPipeSession::kPassOn; });
    ASSERT_TRUE(wired.deliver("65536;system.listFacilities;1;7;0;2"));
    EXPECT_THAT(sent(), testing::StartsWith("65536;system.RESP;7;1;"));
    system->setMethodOverride([](VexPipeSession*, VexPipePacket*) -> long { return 5; });
    ASSERT_TRUE(wired.deliver("65536;system.listFacilities;1;7;0;2"));
    EXPECT_EQ(sent(200), "(none)");
    VexPipePacket packet("system.index", VexPipePacket::kWait);
    EXPECT_EQ(system->receive(&packet), 5);
}

// A session's end, or the conduit's close, tells the peer as much as it must, once.
TEST(VexPipeConduit, ClosesOrTerminatesOnce)
{
    const std::string closing = " ==== Closing Conduit for " + pid;
    const struct {
        const char* name;
        bool terminate;      // the session's end, else the conduit's close
        bool initiator;
        long peer;           // the session's peer number, 0: not known
        bool otherSession;   // another session open beside it
        bool pipesGo;        // the peer sees the conduit's writer go
        Lines sent;          // "<n>": the session's number
        std::string trace;
    } rows[] = {
        {"close, not the initiator", false, false, 0, false, false, {}, closing + " (init:0, readers:1, writers:1)"},
        {"close as initiator", false, true, 30, false, false, {"65536;system.cndTerm;30;<n>;0;2"},
         closing + " (init:1, readers:1, writers:1)"},
        // Each session's end takes a client's pipes along: "cndTerm" then finds no writer.
        {"close with another session", false, true, 0, true, true, {}, "No writer to send system.cndTerm to"},
        {"the session's end", true, true, 44, false, true, {"65536;system.ssnTerm;44;<n>;0;2"}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        pipetest::WiredConduit wired;
        ASSERT_TRUE(wired.ready());
        if (row.initiator)
            wired.peer().setResponder(&pipetest::RawPeer::answerAll);
        VexPipeConduit* conduit = wired.conduit();
        VexPipeSession* session = conduit->newSession();
        const std::string number = std::to_string(session->number());
        if (row.peer != 0)
            session->setPeerNumber(static_cast<std::uint32_t>(row.peer));
        VexPipeSession* other = row.otherSession ? conduit->newSession() : nullptr;
        ReportCapture traces(ReportCapture::kTrace);
        if (row.terminate) {
            EXPECT_EQ(session->terminate(true), 0);
            EXPECT_EQ(session->terminate(true), 0);
            EXPECT_EQ(conduit->findSession(session->number()), nullptr);
            EXPECT_EQ(conduit->writerCount(), 0);
            EXPECT_EQ(conduit->readerCount(), 0);
        } else {
            conduit->setDefaultSession(session);
            EXPECT_EQ(conduit->close(row.initiator, true, true), 0);
            EXPECT_TRUE(conduit->isClosed());
            EXPECT_EQ(conduit->defaultSession(), conduit->findSession(1));
            EXPECT_EQ(conduit->close(true, true, true), 0);
            EXPECT_THAT(traces.lines(), testing::Contains("Conduit is already terminating"));
            EXPECT_EQ(conduit->processIncoming(), 0);
        }
        if (!row.trace.empty()) {
            EXPECT_THAT(traces.lines(), testing::Contains(row.trace));
        }
        EXPECT_EQ(session->state(), static_cast<std::uint32_t>(VexPipeSession::kTerminated));
        if (other != nullptr) {
            EXPECT_EQ(other->state(), static_cast<std::uint32_t>(VexPipeSession::kTerminated));
            other->release();
        }
        EXPECT_TRUE(!row.pipesGo || eventually([&] { return wired.peer().received().writerGone(); }));
        for (std::string expected : row.sent)
            EXPECT_EQ(wired.peer().received().take(), expected.replace(expected.find("<n>"), 3, number));
        EXPECT_EQ(wired.peer().received().take(100), "(none)");

        // A session without a conduit any more waits for nothing.
        VexPipePacket reply;
        session->prepareWait();
        EXPECT_EQ(session->waitForReply(&reply, 10), 1);
        EXPECT_EQ(session->send(&reply), 1);
        session->release();
    }
}

// The idle sleep ends when bytes come in, also on a reader added after the sleeping thread's
// waker was handed out, and is skipped while a line is waiting.
TEST(VexPipeConduit, IdleSleepEndsForIncomingLines)
{
    VexPipeConduit conduit(false, VexPipePacket::kWait, false);
    conduit.idleTick(0);
    pipetest::RawPeer peer;
    VexPipeFile* file = pipetest::addPeerReader(conduit, 7, peer);
    ASSERT_NE(file, nullptr);
    const std::string response = "65536;system.RESP;1;7;0;1\n";
    std::thread later([&] {
        sleepAlertable(300);
        peer.inject(response);
    });
    auto start = std::chrono::steady_clock::now();
    conduit.idleTick(45000);
    later.join();
    EXPECT_LT(msSince(start), 20000);
    EXPECT_EQ(conduit.processIncoming(), 1);

    // A pass that drops a line leaves the next one waiting: the tick does not sleep on it.
    ASSERT_TRUE(peer.inject("garbage\n" + response));
    ASSERT_TRUE(eventually([&] { return file->queuedBytes() == 8 + response.size(); }));
    sleepAlertable(0);   // the wake-up of those bytes is spent
    start = std::chrono::steady_clock::now();
    conduit.idleTick(45000);
    EXPECT_LT(msSince(start), 20000);
    EXPECT_EQ(conduit.processIncoming(), 1);
}

TEST_F(Wired, WaitsEndWhenTheConnectionIsGone)
{
    conduit->setIdleCallback([](void* peer, std::uint32_t) { static_cast<pipetest::RawPeer*>(peer)->disconnect(); },
                             &wired.peer());
    ReportCapture errors;
    VexPipePacket request("kyro.MessageBox", VexPipePacket::kWait), reply;
    EXPECT_EQ(conduit->call(&request, &reply, 0), 1);
    EXPECT_EQ(errors.lines(), Lines{"Error  Connection lost while session 1 waited for a reply"});
    EXPECT_TRUE(conduit->connectionLost());
}

TEST(VexPipeNamedConduit, CompanionFaults)
{
    // Under Wine or a sanitizer a process may take longer than 300 ms to start.
    const bool slow = KYRO_TEST_WINDOWS || KYRO_TEST_SANITIZED;
    const long long bound = slow ? 10000 : 3000;
    const int silentPatience = slow ? 2000 : 300;
    const std::string silentError = "Error  No reply in session \\d+ within " + std::to_string(silentPatience) + " ms";
    const std::string lost = "Error  Connection lost while session \\d+ waited for a reply";
    const std::string noPipe = "Error  Could not create client pipe";
    const struct {
        const char* fault;   // a vexCompanion mode, or "unstartable", "lockWithoutPipe"
        int patience;
        bool connects;
        Lines errors;        // patterns of the whole error lines, in order
    } rows[] = {
        {"gone", 30000, false, {}},   // not waited for until the timeout
        {"mute", 30000, false, {lost, noPipe}},
        {"silent", silentPatience, false, {silentError, noPipe}},
        {"unstartable", 100, false, {"Error  Could not execute server process"}},
        {"lockWithoutPipe", 100, false, {noPipe}},
        // The call, then the close's goodbye: lost too, or not even sent.
        {"die", 30000, true,
         {lost, "Error  (Connection lost while session \\d+ waited for a reply|"
                "Could not send system.cndTerm to any writer)"}},
        {"noGoodbye", 300, true, {"Error  No reply in session \\d+ within 300 ms"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        const std::string fault = row.fault;
        const std::string prefix = pipetest::uniqueName();
        ReportCapture errors;
        PresenceLock lock = kNoPresenceLock;
        if (fault == "lockWithoutPipe") {
            ASSERT_EQ(acquirePresenceLock(VexPipeNamedConduit::presenceLockName(prefix.c_str()).utf8(), &lock),
                      PresenceResult::Acquired);
        }
        const bool child = fault != "unstartable" && fault != "lockWithoutPipe";
        if (child)
            setEnvironmentVariable(kChildRoleVariable, ("vexCompanion:" + fault + ":" + prefix).c_str());
        auto start = std::chrono::steady_clock::now();
        VexPipeNamedConduit* conduit = VexPipeNamedConduit::connectToServer(
            child ? thisTestProgram() : TPath("C:\\Nowhere\\Vex.exe"), TStr(prefix.c_str()), row.patience);
        setEnvironmentVariable(kChildRoleVariable, nullptr);
        releasePresenceLock(lock);
        EXPECT_LT(msSince(start), bound);
        ASSERT_EQ(conduit != nullptr, row.connects);
        if (conduit != nullptr) {
            EXPECT_NE(conduit->companionProcessId(), 0u);
            EXPECT_EQ(conduit->patience(), static_cast<std::uint32_t>(row.patience));
            VexPipeSession* session = conduit->newSession();
            session->shareConnection(0);
            VexPipePacket locales("system.listLocales", VexPipePacket::kWait), reply;
            locales.setSessionNumber(static_cast<int>(session->number()));
            EXPECT_EQ(conduit->call(&locales, &reply, 0), 0);   // it answers while it lives
            EXPECT_EQ(reply.getString("RCOD"), "listLocales");
            start = std::chrono::steady_clock::now();
            if (fault == "die") {
                VexPipePacket die("system.die", VexPipePacket::kWait);
                EXPECT_EQ(conduit->call(&die, &reply, 0), 1);
            } else {
                // The goodbye waits out the patience; the connection then counts as lost.
                session->terminate(true);
                EXPECT_GE(msSince(start), row.patience);
                EXPECT_TRUE(conduit->connectionLost());
            }
            EXPECT_LT(msSince(start), bound);
            start = std::chrono::steady_clock::now();
            EXPECT_EQ(conduit->close(true, true, true), 0);
            EXPECT_LT(msSince(start), bound);
            session->release();
            delete conduit;
        }
        const Lines seen = errors.lines();
        EXPECT_EQ(seen.size(), row.errors.size()) << ::testing::PrintToString(seen);
        for (std::size_t i = 0; i < std::min(seen.size(), row.errors.size()); ++i)
            EXPECT_TRUE(std::regex_match(seen[i], std::regex(row.errors[i]))) << seen[i];
    }
}

TEST(VexPipeNamedConduit, NamesItsPipesReadersAndPrefix)
{
    const std::string prefix = "Vex.exe" + pid;
    EXPECT_EQ(VexPipeNamedConduit::makePipePrefix("C:\\Dir\\Vex.exe"), prefix.c_str());
    EXPECT_EQ(VexPipeNamedConduit::makePipePrefix("Vex.exe"), prefix.c_str());
    EXPECT_EQ(VexPipeNamedConduit::presenceLockName("Vex.exe5120"), "Global\\Norveldt_KYRO_Vex.exe5120");
    VexPipeNamedConduit conduit(TPath("Vex.exe5120"), false, VexPipePacket::kWait);
    EXPECT_EQ(conduit.pipeName(0), "\\\\.\\pipe\\Norveldt\\kyro\\Vex.exe5120\\inbound0");
    VexPipeNamedConduit slashed(TPath("a/b"), false, VexPipePacket::kWait);
    EXPECT_EQ(slashed.pipeName(7), "\\\\.\\pipe\\Norveldt\\kyro\\a\\b\\inbound7");
    VexPipeNamedConduit::setClientProcessId(4711);
    EXPECT_EQ(VexPipeNamedConduit::makePipePrefix("Vex.exe"), prefix.c_str());   // the real id
    VexPipeNamedConduit::setClientProcessId(0);

    VexPipeNamedConduit own(TPath(pipetest::uniqueName().c_str()), false, VexPipePacket::kWait);
    EXPECT_TRUE(own.openReader(12));
    EXPECT_TRUE(own.hasReader(12));
    EXPECT_TRUE(waitForPipe(own.pipeName(12).utf8(), 1000));
    own.removeReader(12);
    EXPECT_FALSE(own.hasReader(12));
    EXPECT_FALSE(own.connectWriter(99));   // nobody there: false, silently
}

TEST(VexPipeSession, ReceivesWithoutARegisteredSystemFacility)
{
    // The registry's "system" goes with the conduit destroyed first; the other's still answers.
    VexPipeConduit* first = new VexPipeConduit(false, VexPipePacket::kWait, false);
    pipetest::WiredConduit wired;
    ASSERT_TRUE(wired.ready());
    delete first;
    EXPECT_FALSE(VexPipeFacilityRegistry::contains("system"));
    ASSERT_TRUE(wired.deliver("65536;system.listLocales;1;7;0;2"));
    EXPECT_THAT(wired.peer().received().take(),
                testing::StartsWith("65536;system.RESP;7;1;0;1;RCOD=hlistLocales;RSCD=d0;LCLT="));

    // With no conduit and no facility anywhere the packet is dropped, and said so.
    ASSERT_FALSE(VexPipeFacilityRegistry::exists());
    ReportCapture errors;
    VexPipeSession* orphan = new VexPipeSession(nullptr, 99, 0, 0);
    VexPipePacket packet("system.index", VexPipePacket::kWait);
    EXPECT_EQ(orphan->receive(&packet), 1);
    EXPECT_EQ(errors.lines(), Lines{"Error -268435450 Can't find system facility!!!! Panic Now!"});
    orphan->release();
}

// A server process (ending once its clients have gone) serves clients, each with its own pipe.
TEST(VexPipeNamedConduit, ConnectsToAServer)
{
    const std::string prefix = pipetest::uniqueName();
    EXPECT_FALSE(VexPipeNamedConduit::isServerRunning(prefix.c_str()));
    setEnvironmentVariable(kChildRoleVariable, ("vexCompanion:serve:" + prefix).c_str());
    auto connect = [&](std::uint32_t client) {
        VexPipeNamedConduit::setClientProcessId(client);
        return VexPipeNamedConduit::connectToServer(thisTestProgram(), prefix.c_str(), 30000);
    };
    VexPipeNamedConduit* first = connect(71001);
    VexPipeNamedConduit* second = connect(71002);
    setEnvironmentVariable(kChildRoleVariable, nullptr);
    ASSERT_TRUE(first != nullptr && second != nullptr);
    EXPECT_TRUE(VexPipeNamedConduit::isServerRunning(prefix.c_str()));
    EXPECT_NE(first->companionProcessId(), 0u);
    EXPECT_EQ(second->companionProcessId(), 0u);   // found running, not started
    EXPECT_TRUE(first->hasReader(71001));
    EXPECT_NE(std::string(first->pipeName(71001).utf8()).find("\\" + prefix + "\\inbound71001"), std::string::npos);
    EXPECT_NE(first->defaultSession()->peerNumber(), 0u);   // the server's session
    for (VexPipeNamedConduit* client : {first, second, first}) {
        VexPipePacket request("system.listLocales", VexPipePacket::kWait), reply;
        ASSERT_EQ(client->call(&request, &reply, 0), 0);
        EXPECT_EQ(reply.getString("RCOD"), "listLocales");
        EXPECT_EQ(static_cast<std::uint32_t>(reply.sessionNumber()), client->defaultSession()->number());
    }
    // One goes, another comes after it.
    EXPECT_EQ(first->close(true, true, true), 0);
    delete first;
    VexPipeNamedConduit* third = connect(71003);
    ASSERT_NE(third, nullptr);
    VexPipePacket request("system.index", VexPipePacket::kWait), reply;
    EXPECT_EQ(third->call(&request, &reply, 0), 0);
    EXPECT_EQ(second->call(&request, &reply, 0), 0);
    for (VexPipeNamedConduit* client : {second, third}) {
        client->close(true, true, true);
        delete client;
    }
    EXPECT_TRUE(eventually([&] { return !VexPipeNamedConduit::isServerRunning(prefix.c_str()); }));
    VexPipeNamedConduit::setClientProcessId(0);
}
