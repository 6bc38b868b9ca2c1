// Dialog requests through the real companion, each case in a scripted host process: every
// request as the companion received it, the answers, the records in the error log, the
// host's hooks and C entry points, and a companion misbehaving on purpose ("+fault").
#include "kyro/int/KyroIntWaitDialog.h"
#include "kyro/int/dialog_requests.h"
#include "kyro/int/host_context.h"
#include "kyro/kyroint.h"
#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/pipe/TProcess.h"
#include "kyro/pipe/VexPipePacket.h"
#include "kyro/pipe/VexValue.h"
#include "kyro/platform/presence_lock.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "HostProcess.h"
#include "ScopedVariable.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

int g_idleCalls = 0;
std::string g_states;

int askFor(const char* title, int focus)
{
    return kyrointutil::showMessageBox("Kyro", title, 3, "Yes", "No", focus);
}

void countIdle(void*) { ++g_idleCalls; }
void noteState(int* state, void*) { g_states += std::to_string(*state); }

KYRO_HOST_OPERATION(states)
{
    std::printf("idle=%s states=%s\n", g_idleCalls > 0 ? "called" : "never", g_states.c_str());
    return 0;
}
KYRO_HOST_OPERATION(errorNoDetail) { return kyrointutil::showErrorDialog("Kyro", "Something failed", "", 3); }
KYRO_HOST_OPERATION(privacyImages)
{
    return kyrointutil::showPrivacyPolicy(kHostProduct, "C:\\img\\brand.png", "C:\\img\\hero.png");
}
KYRO_HOST_OPERATION(acquire) { KyroIntWaitDialog::acquire(true); return static_cast<int>(KyroIntWaitDialog::useCount()); }
KYRO_HOST_OPERATION(release) { KyroIntWaitDialog::release(); return static_cast<int>(KyroIntWaitDialog::useCount()); }
KYRO_HOST_OPERATION(show) { return KyroIntWaitDialog::show(); }
KYRO_HOST_OPERATION(hide) { return KyroIntWaitDialog::hide(); }
KYRO_HOST_OPERATION(nested)
{
    // A message box asked for from the idle hook while another one waits.
    static int inner = -1;
    kyrointutil::setIdleHook(
        [](void*) {
            if (inner == -1) {
                inner = 0;   // once: the inner wait calls the hook too
                inner = askFor("Inner", 2);
            }
        },
        nullptr);
    const int outer = askFor("Outer", 1);
    kyrointutil::setIdleHook(nullptr, nullptr);
    return outer * 10 + inner;
}
KYRO_HOST_OPERATION(pause) { std::this_thread::sleep_for(std::chrono::milliseconds(500)); return 0; }   // until it is gone
KYRO_HOST_OPERATION(unreachable)
{
    // The host holds the companion's presence lock, as a companion that never listens would.
    using namespace kyro::platform;
    PresenceLock lock = kNoPresenceLock;
    const TStr name = VexPipeNamedConduit::presenceLockName(VexPipeNamedConduit::makePipePrefix("Vex.exe"));
    if (acquirePresenceLock(name.utf8(), &lock) != PresenceResult::Acquired)
        return -1;
    const int answer = askFor("Go on?", 1);
    releasePresenceLock(lock);
    return answer;
}
KYRO_HOST_OPERATION(hugeMessage)
{
    return kyrointutil::showMessageBox("Kyro", TStr(std::string(17 << 20, 'x').c_str()), 3, "Yes", "No", 1);
}

// The host's C entry points. `argument`: the resource folder.
KYRO_HOST_OPERATION(api)
{
    std::printf("startUp=%d status=%d\n", kyrointStartUp(), kyrointCustomEnvironmentStatus());
    kyrointSetLocale("de_DE");
    kyrointSetIdleHook(&countIdle, nullptr);
    kyrointSetDialogStateHook(&noteState, nullptr);
    std::printf("folder=%d\n", kyrointSetResourceFolder(argument.c_str()));
    char caption[64];
    kyrointGetString("IDS_ERROR_DIALOG_CAPTION", caption, sizeof caption);
    std::printf("error=%d\n", kyrointShowErrorDialog(caption, "Title", nullptr, 4));
    std::printf("message=%d\n", kyrointShowMessageBox("Kyro", "Go on?", 3, "Yes", "No", 1));
    std::printf("privacy=%d\n", kyrointShowPrivacyPolicy("Kyro Demo", "KyroDemo15", nullptr, ""));
    std::printf("privacyAgain=%d\n", kyrointShowPrivacyPolicy("Kyro Demo", "KyroDemo15", "", ""));
    int worked = 0;
    std::printf("work=%d\n", kyrointRunWithPleaseWait(
                                 [](void* done) {
                                     std::this_thread::sleep_for(std::chrono::milliseconds(400));
                                     *static_cast<int*>(done) = 1;
                                 },
                                 &worked, 50));
    kyrointSuppressWaitDialog(1);
    std::printf("quietWork=%d worked=%d\n", kyrointRunWithPleaseWait([](void*) {}, nullptr, 0), worked);
    return 0;
}

// A recorded request as "<name> wait=<mode> key=value ...", keys sorted, strings quoted.
std::string describe(const std::string& line)
{
    VexPipePacket packet;
    packet.unmarshal(line.c_str());
    Lines items;
    const TList<TStr> keys = packet.payload().keys();
    for (auto key = keys.first(); !key.atEnd(); key.advance()) {
        const VexValue value = packet.payload().getValue(key.current());
        std::string item = std::string(key.current().utf8()) + "=";
        if (key.current() == "CPID")
            item += value.asInt() > 0 ? "<pid>" : "<none>";
        else if (value.type() == VexValue::kInteger)
            item += std::to_string(value.asInt());
        else
            item += "\"" + std::string(value.asString().utf8()) + "\"";
        items.push_back(item);
    }
    std::sort(items.begin(), items.end());
    std::string text = std::string(packet.fullName().utf8()) + " wait=" + std::to_string(packet.waitMode());
    for (const std::string& item : items)
        text += " " + item;
    return text;
}

Lines requestsOf(const TempFolder& folder)
{
    Lines lines;
    for (const std::string& line : looseFileLines(folder / "requests.log"))
        if (!line.empty())
            lines.push_back(describe(line));
    return lines;
}

const std::string kBox = "vex.MessageBox wait=2 CPID=<pid> button_0=\"Yes\" button_1=\"No\" caption=\"Kyro\" ";
const std::string kMessage = kBox + "focus_button_index=1 icon=3 locale=\"\" title=\"Go on?\"";
const std::string kMessageDe = kBox + "focus_button_index=1 icon=3 locale=\"de_DE\" title=\"Go on?\"";
const std::string kError = "kyro.ErrorDialog wait=2 CPID=<pid> caption=\"Kyro\" ";
const std::string kWaitOnDe = "kyro.PleaseWaitDialog wait=1 CPID=<pid> locale=\"de_DE\" waiting=\"True\"";
const std::string kWaitOffDe = "kyro.PleaseWaitDialog wait=1 CPID=<pid> locale=\"de_DE\" waiting=\"False\"";
const std::string kWaitOn = "kyro.PleaseWaitDialog wait=1 CPID=<pid> locale=\"\" waiting=\"True\"";
const std::string kWaitOff = "kyro.PleaseWaitDialog wait=1 CPID=<pid> locale=\"\" waiting=\"False\"";
const std::string kPrivacy = "kyro.PrivacyPolicyDialog wait=2 CPID=<pid> ";
const char* const kUnanswered = "5@dialog_requests.cpp";
const char* const kRefused = "19@dialog_requests.cpp";

TEST(HostRequests, EachRequestCarriesItsValuesAndAnswers)
{
    const TPath data = thisTestProgram().directory().directory() / "data";
    const std::string kDetailed = kError + "detail=\"The details; more\" enable_description=\"True\" icon=4 "
                                           "locale=\"de_DE\" selector=\"ErrorDialogBase\" title=\"Something failed\"";
    const struct Row {
        const char* name;
        std::string operations;
        const char* script;
        const char* results;
        Lines requests;
        Lines records;
        bool noCompanion = false;
    } rows[] = {
        {"error dialogs", "locale,error,errorNoDetail,memory", "ErrorDialog=reply",
         "locale=0\nerror=1\nerrorNoDetail=1\nmemory=1\n",
         {kDetailed,
          kError + "enable_description=\"False\" icon=3 locale=\"de_DE\" selector=\"ErrorDialogBase\" "
                   "title=\"Something failed\"",
          "kyro.ErrorDialog wait=2 CPID=<pid> locale=\"de_DE\" selector=\"InsufficientMemory\""},
         {}},
        // Consent given is kept: the second request finds it on record.
        {"consent given", "consent,privacyImages,consent,privacy", "PrivacyPolicyDialog=3",
         "consent=-1\nprivacyImages=0\nconsent=1\nprivacy=0\n",
         {kPrivacy + "hero_image_pathname=\"C:\\img\\hero.png\" locale=\"\" "
                     "product_branding_image_pathname=\"C:\\img\\brand.png\""},
         {}},
        // Please-wait requests are not answered, and show and hide do not wait for them; the
        // last hide, after the last release, has nothing to hide.
        {"please-wait and requests over one shared conduit",
         "locale,acquire,show,acquire,message,error,hide,release,release,release,hide,message",
         "MessageBox=1;ErrorDialog=reply;PleaseWaitDialog=none",
         "locale=0\nacquire=1\nshow=0\nacquire=2\nmessage=1\nerror=1\nhide=0\nrelease=1\nrelease=0\nrelease=0\n"
         "hide=0\nmessage=1\n",
         {kWaitOnDe, kMessageDe, kDetailed, kWaitOffDe, kMessageDe}, {}},
        // Each box is answered with its focused button 300 ms after it was asked for: the
        // outer one's answer (1) comes while the inner one (2) waits, and is kept for it.
        {"a message box from the idle hook while another waits", "nested", "MessageBox=default@300", "nested=12\n",
         {kBox + "focus_button_index=1 icon=3 locale=\"\" title=\"Outer\"",
          kBox + "focus_button_index=2 icon=3 locale=\"\" title=\"Inner\""},
         {}},
        // The companion ends on the first please-wait request: the next send fails, and the
        // dead conduit is dropped, so the hide after it has nothing to send.
        {"a please-wait send that fails", "acquire,show,pause,show,hide,release", "PleaseWaitDialog=exit",
         "acquire=1\nshow=0\npause=0\nshow=2\nhide=0\nrelease=0\n",
         {kWaitOn}, {"2@KyroIntWaitDialog.cpp"}},
        // Privacy once (then on record); please-wait shown and hidden for the long work,
        // only hidden for the quiet one.
        {"the C entry points", "api/" + std::string(data.utf8()) + ",states",
         "ErrorDialog=reply@200;MessageBox=1;PrivacyPolicyDialog=3;PleaseWaitDialog=none",
         "startUp=1 status=0\nfolder=1\nerror=1\nmessage=1\nprivacy=0\nprivacyAgain=0\n"
         "work=1\nquietWork=1 worked=1\napi=0\nidle=called states=121212\nstates=0\n",
         {"kyro.ErrorDialog wait=2 CPID=<pid> caption=\"Kyro Integration Library\" enable_description=\"False\" "
          "icon=4 locale=\"de_DE\" selector=\"ErrorDialogBase\" title=\"Title\"",
          kMessageDe, kPrivacy + "locale=\"de_DE\"", kWaitOnDe, kWaitOffDe, kWaitOffDe},
         {}},
        {"no companion", "error,memory,message,privacy,show,hide,acquire,release", "*=reply",
         "error=0\nmemory=0\nmessage=0\nprivacy=5\nshow=5\nhide=0\nacquire=1\nrelease=0\n", {},
         {kUnanswered, kUnanswered, kUnanswered, kUnanswered, "5@KyroIntWaitDialog.cpp"}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder folder;
        const TStr none;
        EXPECT_EQ(runHost(folder, row.operations, row.script, row.noCompanion ? &none : nullptr).results, row.results);
        EXPECT_EQ(requestsOf(folder), row.requests);
        EXPECT_EQ(libraryRecords(folder / "errors.log"), row.records);
    }
}

TEST(HostEntryPoints, TextsAreCopiedIntoTheHostsBufferAndNullsAreHarmless)
{
    EXPECT_STREQ(kyrointVersion(), "15.0.73.0");
    char buffer[64] = "unchanged";
    EXPECT_EQ(kyrointGetString("IDS_BUTTON_OK", buffer, sizeof buffer), 0);   // nothing loaded
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(kyrointSetResourceFolder(nullptr), 0);
    ASSERT_EQ(kyrointSetResourceFolder((thisTestProgram().directory().directory() / "data").utf8()), 1);
    char small[4] = "xyz";
    EXPECT_EQ(kyrointGetString("IDS_BUTTON_CANCEL", small, 4), 6);
    EXPECT_STREQ(small, "Can");   // too small: cut and terminated
    EXPECT_EQ(kyrointGetString("IDS_BUTTON_CANCEL", nullptr, 0), 6);
    EXPECT_EQ(kyrointGetString(nullptr, buffer, 64), 0);
    kyrointSetLocale(nullptr);
    EXPECT_EQ(kyrointRunWithPleaseWait(nullptr, nullptr, 0), 0);
    kyrointReleaseWaitDialog();   // without an acquire: ignored
}

// ---- A companion that misbehaves ---------------------------------------------------------

// How long a call may take once the companion misbehaved (Wine and sanitizers are slower).
const long long kFaultBound = KYRO_TEST_WINDOWS || KYRO_TEST_SANITIZED ? 8000 : 2000;

TEST(CompanionFaults, EachFaultEndsTheCallSoonWithItsResult)
{
    const struct Row {
        const char* fault;
        const char* requests;
        const char* script;
        Lines results;
        std::vector<std::size_t> soon;   // the requests that met the fault
        Lines records;
        const char* report;
    } rows[] = {
        // The first request starts the companion, the faulty one ends it unanswered, the
        // next one starts a fresh one.
        {"ends before its reply", "error,message,error,message", "MessageBox=exit;ErrorDialog=reply",
         {"error=1", "message=0", "error=1", "message=0"}, {1, 3}, Lines(2, kUnanswered), ""},
        // What came of a cut line is no answer, and consent is not recorded from it.
        {"cuts its reply", "message,error,privacy,consent,message",
         "MessageBox=1+cut;ErrorDialog=reply+cut;PrivacyPolicyDialog=3+cutEscape",
         {"message=0", "error=0", "privacy=5", "consent=-1", "message=0"}, {0, 1, 2, 4},
         Lines(4, kUnanswered), ""},
        {"writes lines that are no packets", "message,error,message,privacy",
         "MessageBox=1+garbage;ErrorDialog=reply+garbage;PrivacyPolicyDialog=2+garbage",
         {"message=1", "error=1", "message=1", "privacy=19"}, {1, 2, 3}, {kRefused}, ""},
        // The companion would drop the line and never answer: the call fails at once.
        {"would get a request longer than it reads", "message,hugeMessage,message", "MessageBox=1",
         {"message=1", "hugeMessage=0", "message=1"}, {1}, {kUnanswered}, "Could not send vex.MessageBox"},
        // It holds its presence lock but never listens: given up after the patience (2 s).
        {"never answers", "unreachable,message", "MessageBox=1", {"unreachable=0", "message=1"}, {}, {kUnanswered},
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        TempFolder folder;
        const HostRun host = runHost(folder, row.requests, row.script);
        EXPECT_EQ(host.lines, row.results) << host.output;
        for (std::size_t i : row.soon) {
            ASSERT_LT(i, host.times.size()) << host.output;
            EXPECT_LT(host.times[i], kFaultBound) << host.output;
        }
        for (long long took : host.times)
            EXPECT_LT(took, 2 * kFaultBound + 1000) << host.output;
        EXPECT_EQ(libraryRecords(folder / "errors.log"), row.records);
        if (*row.report != '\0') {
            EXPECT_EQ(host.reports.count(row.report), 1u) << host.output;
        }
    }
}


// The wrapper (KYRO_USE_SQUISH) starts the companion and ends at once, or 300 ms later while
// the answer (600 ms) is awaited, or writes to its output all along, after the connection
// too, when nobody reads it any more. The companion serves all the same.
TEST(CompanionFaults, ACompanionStartedThroughAWrapperIsJudgedByItsPresenceLock)
{
    TempFolder folder;
    const std::string survived = (folder / "survived.txt").utf8();
    ScopedVariable squish(TProcess::kSquishVariable, (thisTestProgram().directory() / KYRO_TEST_CHILD_NAME).utf8());
    for (const std::string& wrap : {std::string("0"), std::string("300"), "1000:" + survived}) {   // "<ms>[:<file>]"
        SCOPED_TRACE(wrap);
        ScopedVariable variable("KYRO_TEST_WRAP", wrap.c_str());
        writeFileBytes(folder / "errors.log", "");
        EXPECT_EQ(runHost(folder, "message,message", "MessageBox=1@600").results, "message=1\nmessage=1\n");
        EXPECT_EQ(libraryRecords(folder / "errors.log"), Lines{});
    }
    std::string written;   // it lives a second; the host may have ended before that
    for (int i = 0; i < 100 && written.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        written = readFileBytes(folder / "survived.txt");
    }
    EXPECT_EQ(written, "survived\n");
}

}  // namespace
