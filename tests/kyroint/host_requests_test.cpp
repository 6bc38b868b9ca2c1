// Dialog requests through the real companion, each case in a scripted host process: every
// request's keys and values as the companion received them, the answers, the records of
// failures in the error log, consent kept between requests, the host's hooks while a
// dialog is up, the host's C entry points, and a companion that misbehaves on purpose (the
// "+fault" answers of its script).
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/int/KyroIntWaitDialog.h"
#include "kyro/int/dialog_requests.h"
#include "kyro/int/host_context.h"
#include "kyro/kyroint.h"
#include "kyro/pipe/TProcess.h"
#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/pipe/VexPipePacket.h"
#include "kyro/pipe/VexValue.h"
#include "kyro/platform/fault_injection.h"
#include "kyro/platform/presence_lock.h"
#include "kyro/platform/threads.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "HostProcess.h"
#include "HostQueue.h"
#include "ScopedVariable.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

int g_idleCalls = 0;
std::string g_states;
int g_innerAnswer = -1;

int askFor(const char* title, int focus)
{
    return kyrointutil::showMessageBox("Kyro", title, 3, "Yes", "No", focus);
}

void askFromWork(void* answer)
{
    *static_cast<int*>(answer) = askFor("Work", 1);
}

int waitForWork(void (*work)(void*), void* context)
{
    const kyro::platform::ThreadHandle worker = kyro::platform::startThread(work, context);
    const bool ended = kyrointutil::waitWithPleaseWait(worker, 0);
    kyro::platform::waitForThread(worker, kyro::platform::kWaitForever);
    kyro::platform::releaseThread(worker);
    return ended;
}

KYRO_HOST_OPERATION(hooks)
{
    kyrointutil::setIdleHook([](void*) { ++g_idleCalls; }, nullptr);
    kyrointutil::setDialogStateHook([](int* state, void*) { g_states += std::to_string(*state); },
                                    nullptr);
    return 0;
}
KYRO_HOST_OPERATION(states)
{
    std::printf("idle=%s states=%s\n", g_idleCalls > 0 ? "called" : "never", g_states.c_str());
    return 0;
}
KYRO_HOST_OPERATION(errorNoDetail)
{
    return kyrointutil::showErrorDialog("Kyro", "Something failed", "", 3);
}
KYRO_HOST_OPERATION(privacyImages)
{
    return kyrointutil::showPrivacyPolicy(kHostProduct, "C:\\img\\brand.png", "C:\\img\\hero.png");
}
KYRO_HOST_OPERATION(acquire)
{
    KyroIntWaitDialog::acquire(true);
    return static_cast<int>(KyroIntWaitDialog::useCount());
}
KYRO_HOST_OPERATION(release)
{
    KyroIntWaitDialog::release();
    return static_cast<int>(KyroIntWaitDialog::useCount());
}
KYRO_HOST_OPERATION(show)
{
    return KyroIntWaitDialog::show();
}
KYRO_HOST_OPERATION(hide)
{
    return KyroIntWaitDialog::hide();
}
KYRO_HOST_OPERATION(twoThreads)
{
    // Each thread must get its own answers.
    int answers[2] = {0, 0};
    std::thread other([&answers] {
        for (int i = 0; i < 5; ++i)
            answers[1] += askFor("B", 1);
    });
    for (int i = 0; i < 5; ++i)
        answers[0] += askFor("A", 1);
    other.join();
    return answers[0] * 10 + answers[1];
}
KYRO_HOST_OPERATION(nested)
{
    // A message box asked for from the idle hook while another one waits.
    kyrointutil::setIdleHook(
        [](void*) {
            static bool asked = false;
            if (!asked) {
                asked = true;
                g_innerAnswer = askFor("Inner", 2);
            }
        },
        nullptr);
    const int outer = askFor("Outer", 1);
    kyrointutil::setIdleHook(nullptr, nullptr);
    return outer * 10 + g_innerAnswer;
}
KYRO_HOST_OPERATION(workWithMessage)
{
    int answer = -1;
    return waitForWork(&askFromWork, &answer) ? answer : -2;
}
KYRO_HOST_OPERATION(quitInWait)
{
    kyrointutil::setIdleHook(
        [](void*) {
            static bool posted = false;
            if (!posted)
                postQuit(42);
            posted = true;
        },
        nullptr);
    const int answer = askFor("Go on?", 1);
    kyrointutil::setIdleHook(nullptr, nullptr);
    return answer;
}
KYRO_HOST_OPERATION(quitBeforeWork)
{
    postQuit(7);
    return waitForWork([](void*) { std::this_thread::sleep_for(std::chrono::milliseconds(300)); },
                       nullptr);
}
KYRO_HOST_OPERATION(loop)
{
    return runMessageLoop(2000);
}
KYRO_HOST_OPERATION(pause)
{
    // Time for a companion that ends to be gone.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return 0;
}
KYRO_HOST_OPERATION(unreachable)
{
    // A companion that holds its presence lock but never listens: the host holds it.
    using namespace kyro::platform;
    PresenceLock lock = kNoPresenceLock;
    const TStr name =
        VexPipeNamedConduit::presenceLockName(VexPipeNamedConduit::makePipePrefix("Vex.exe"));
    if (acquirePresenceLock(name.utf8(), &lock) != PresenceResult::Acquired)
        return -1;
    const int answer = askFor("Go on?", 1);
    releasePresenceLock(lock);
    return answer;
}
KYRO_HOST_OPERATION(noPipes)
{
    // This host cannot make its inbound pipe: ever (out of handles), or only once.
    using namespace kyro::platform;
    armFault(FaultPoint::PipeCreate, 1, argument == "once" ? FaultRepeat::Once : FaultRepeat::FromThenOn);
    const int answer = askFor("Go on?", 1);
    disarmFaults();
    return answer;
}
KYRO_HOST_OPERATION(hugeMessage)
{
    return kyrointutil::showMessageBox("Kyro", TStr(std::string(17 << 20, 'x').c_str()), 3, "Yes",
                                       "No", 1);
}

// The host's C entry points: starts the library, asks for dialogs, waits for its work
// under a please-wait dialog. `argument`: the resource folder.
KYRO_HOST_OPERATION(api)
{
    std::printf("startUp=%d status=%d\n", kyrointStartUp(), kyrointCustomEnvironmentStatus());
    kyrointSetLocale("de_DE");
    kyrointSetIdleHook([](void*) { ++g_idleCalls; }, nullptr);
    kyrointSetDialogStateHook([](int* state, void*) { g_states += std::to_string(*state); },
                              nullptr);
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
    std::printf("quietWork=%d worked=%d\n", kyrointRunWithPleaseWait([](void*) {}, nullptr, 0),
                worked);
    return 0;
}

// A request line as the companion recorded it: "<name> wait=<mode> key=value ..." with the
// keys sorted, strings in quotes.
std::string describe(const std::string& line)
{
    VexPipePacket packet;
    packet.unmarshal(line.c_str());
    std::vector<std::string> items;
    const TList<TStr> keys = packet.payload().keys();
    for (auto key = keys.first(); !key.atEnd(); key.advance()) {
        const VexValue value = packet.payload().getValue(key.current());
        std::string item = std::string(key.current().utf8()) + "=";
        if (key.current() == "CPID")   // the host's process id, added by the framework
            item += value.asInt() > 0 ? "<pid>" : "<none>";
        else if (value.type() == VexValue::kInteger)
            item += std::to_string(value.asInt());
        else
            item += "\"" + std::string(value.asString().utf8()) + "\"";
        items.push_back(item);
    }
    std::sort(items.begin(), items.end());
    std::string text = std::string(packet.fullName().utf8()) + " wait=" +
                       std::to_string(packet.waitMode());
    for (const std::string& item : items)
        text += " " + item;
    return text;
}

class HostRequests : public testing::Test {
protected:
    std::string run(const char* operations, const char* script, const TStr* binaries = nullptr)
    {
        return runHost(m_folder, operations, script, binaries).results;
    }

    Lines requests()
    {
        Lines lines;
        for (const std::string& line : looseFileLines(m_folder / "requests.log")) {
            if (!line.empty())
                lines.push_back(describe(line));
        }
        return lines;
    }

    Lines records() { return libraryRecords(m_folder / "errors.log"); }

    // As run(), from an empty request log, with the pipe framework's trace of the host and
    // its companion in <folder>\trace.log ("[<process id>] <text>").
    std::string runTraced(const char* operations, const char* script)
    {
        writeFileBytes(m_folder / "trace.log", "");
        writeFileBytes(m_folder / "requests.log", "");
        ScopedVariable trace("KYRO_PIPE_TRACE_FILE", (m_folder / "trace.log").utf8());
        return run(operations, script);
    }

    // The traced lines holding every one of `parts`, without process ids; only those of the
    // host when `hostOnly`.
    Lines traced(std::initializer_list<const char*> parts, bool hostOnly = true)
    {
        const Lines all = looseFileLines(m_folder / "trace.log");
        std::string host = "<none>";
        for (const std::string& line : all) {   // the host sent the handshake
            if (line.find("] Packet Marshalled:65536;system.cndCnct;") != std::string::npos)
                host = line.substr(1, line.find(']') - 1);
        }
        Lines found;
        for (const std::string& line : all) {
            const std::string::size_type end = line.find("] ");
            if (line.empty() || line[0] != '[' || end == std::string::npos ||
                (hostOnly && line.compare(1, end - 1, host) != 0))
                continue;
            const std::string text = line.substr(end + 2);
            if (std::all_of(parts.begin(), parts.end(),
                            [&text](const char* part) { return text.find(part) != std::string::npos; }))
                found.push_back(text);
        }
        return found;
    }

    // How often the host sent `name` (";system.cndCnct;"), and got the reply to `method`.
    std::size_t sent(const char* name) { return traced({"Packet Marshalled:65536", name}).size(); }
    std::size_t answered(const char* method)
    {
        const std::string code = std::string("RCOD=h") + method + ";";
        return traced({"Packet Unmarshalling:65536;system.RESP;", code.c_str()}).size();
    }

    // One handshake and one goodbye, both answered, the goodbye last, `sessions` sessions
    // ended in turn, and nothing reported by either side.
    void expectOneConnectionClosedInOrder(std::size_t sessions)
    {
        EXPECT_EQ(sent(";system.cndCnct;"), 1u);
        EXPECT_EQ(answered("cndCnct"), 1u);
        EXPECT_EQ(sent(";system.cndTerm;"), 1u);
        EXPECT_EQ(answered("cndTerm"), 1u);
        EXPECT_EQ(sent(";system.ssnTerm;"), sessions);
        EXPECT_EQ(answered("ssnTerm"), sessions);
        const Lines hostSent = traced({"Packet Marshalled:65536;"});
        ASSERT_FALSE(hostSent.empty());
        EXPECT_NE(hostSent.back().find(";system.cndTerm;"), std::string::npos) << hostSent.back();
        EXPECT_EQ(traced({"Error "}, false), Lines{});
        EXPECT_EQ(records(), Lines{});
    }

    TempFolder m_folder;
};

const std::string kMessageBox = "vex.MessageBox wait=2 CPID=<pid> button_0=\"Yes\" button_1=\"No\" "
                                "caption=\"Kyro\" focus_button_index=1 icon=3 locale=";

TEST_F(HostRequests, EachDialogCarriesItsValues)
{
    EXPECT_EQ(run("locale,error,errorNoDetail,memory", "ErrorDialog=reply"),
              "locale=0\nerror=1\nerrorNoDetail=1\nmemory=1\n");
    EXPECT_EQ(requests(),
              (Lines{"kyro.ErrorDialog wait=2 CPID=<pid> caption=\"Kyro\" detail=\"The details; more\" "
                     "enable_description=\"True\" icon=4 locale=\"de_DE\" "
                     "selector=\"ErrorDialogBase\" title=\"Something failed\"",
                     "kyro.ErrorDialog wait=2 CPID=<pid> caption=\"Kyro\" enable_description=\"False\" "
                     "icon=3 locale=\"de_DE\" selector=\"ErrorDialogBase\" "
                     "title=\"Something failed\"",
                     "kyro.ErrorDialog wait=2 CPID=<pid> locale=\"de_DE\" selector=\"InsufficientMemory\""}));
    EXPECT_EQ(records(), Lines{});

    // Without a locale set the request carries an empty one; an answer without a button is 0.
    writeFileBytes(m_folder / "requests.log", "");
    EXPECT_EQ(run("message,message", "MessageBox=1"), "message=1\nmessage=1\n");
    EXPECT_EQ(requests(), Lines(2, kMessageBox + "\"\" title=\"Go on?\""));
    EXPECT_EQ(run("message", "vex.MessageBox=reply"), "message=0\n");
}

TEST_F(HostRequests, ConsentGivenIsKeptAndRefusedIsLogged)
{
    EXPECT_EQ(run("consent,privacy,consent,privacyImages", "PrivacyPolicyDialog=3"),
              "consent=-1\nprivacy=0\nconsent=1\nprivacyImages=0\n");
    // The second request found the consent on record.
    EXPECT_EQ(requests(), Lines{"kyro.PrivacyPolicyDialog wait=2 CPID=<pid> hero_image_pathname="
                                "\"C:\\img\\hero.png\" locale=\"\""});
    EXPECT_EQ(records(), Lines{});

    TempFolder other;
    EXPECT_EQ(runHost(other, "privacyImages,privacy,consent", "PrivacyPolicyDialog=2").results,
              "privacyImages=19\nprivacy=19\nconsent=-1\n");
    EXPECT_EQ(looseFileLines(other / "requests.log").size(), 2u);
    EXPECT_NE(readFileBytes(other / "requests.log").find("product_branding_image_pathname"),
              std::string::npos);
    EXPECT_EQ(libraryRecords(other / "errors.log"), Lines(2, "19@dialog_requests.cpp"));
}

TEST_F(HostRequests, WithoutACompanionEveryRequestFailsAndIsLogged)
{
    const char* all = "error,memory,message,privacy,show,hide,acquire,release";
    const char* results = "error=0\nmemory=0\nmessage=0\nprivacy=5\nshow=5\nhide=0\n"
                          "acquire=1\nrelease=0\n";
    const Lines logged = {"5@dialog_requests.cpp", "5@dialog_requests.cpp", "5@dialog_requests.cpp",
                          "5@dialog_requests.cpp", "5@KyroIntWaitDialog.cpp"};
    const TStr none("");
    EXPECT_EQ(run(all, "*=reply", &none), results);
    EXPECT_EQ(records(), logged);

    // A folder without Vex.exe.
    writeFileBytes(m_folder / "errors.log", "");
    const TStr empty = m_folder / "empty\\";
    writeFileBytes(m_folder / "empty\\readme.txt", "no companion here");
    EXPECT_EQ(run(all, "*=reply", &empty), results);
    EXPECT_EQ(records(), logged);
    EXPECT_FALSE(fileExists(m_folder / "requests.log"));

    // A folder with a blank, named with forward slashes.
    const TPath programs = m_folder / "Program Files";
    std::filesystem::create_directories(nativePath(programs));
    std::filesystem::copy_file(nativePath(thisTestProgram().directory() / "Vex.exe"),
                               nativePath(programs / "Vex.exe"));
    TStr slashes(programs);
    slashes.replaceAll("\\", "/");
    EXPECT_EQ(run("message", "MessageBox=1", &slashes), "message=1\n");
}

TEST_F(HostRequests, PleaseWaitGoesUnansweredOverOneSharedConduit)
{
    // The companion never answers: show and hide do not wait for it.
    EXPECT_EQ(run("locale,acquire,show,acquire,hide,release,release,release,hide",
                  "PleaseWaitDialog=none"),
              "locale=0\nacquire=1\nshow=0\nacquire=2\nhide=0\nrelease=1\nrelease=0\n"
              "release=0\nhide=0\n");
    EXPECT_EQ(requests(),
              (Lines{"kyro.PleaseWaitDialog wait=1 CPID=<pid> locale=\"de_DE\" waiting=\"True\"",
                     "kyro.PleaseWaitDialog wait=1 CPID=<pid> locale=\"de_DE\" waiting=\"False\""}));
    // show() opens the conduit itself when no one acquired it.
    EXPECT_EQ(run("show,hide,acquire,release", "PleaseWaitDialog=none"),
              "show=0\nhide=0\nacquire=1\nrelease=0\n");
    EXPECT_EQ(records(), Lines{});

    // Requests share the link with it.
    EXPECT_EQ(run("acquire,show,message,error,hide,message,release",
                  "MessageBox=1;ErrorDialog=reply;PleaseWaitDialog=none"),
              "acquire=1\nshow=0\nmessage=1\nerror=1\nhide=0\nmessage=1\nrelease=0\n");
    writeFileBytes(m_folder / "requests.log", "");
    EXPECT_EQ(run("twoThreads", "MessageBox=1@50"), "twoThreads=55\n");
    EXPECT_EQ(requests().size(), 10u);
}

TEST_F(HostRequests, PleaseWaitSendsThatFailAreLoggedAndDropTheConduit)
{
    // The companion ends on the first please-wait request, so the next send fails; the dead
    // conduit is dropped, and the hide after it has nothing to send.
    EXPECT_EQ(run("acquire,show,pause,show,hide,release", "PleaseWaitDialog=exit"),
              "acquire=1\nshow=0\npause=0\nshow=2\nhide=0\nrelease=0\n");
    EXPECT_EQ(records(), Lines{"2@KyroIntWaitDialog.cpp"});

    writeFileBytes(m_folder / "errors.log", "");
    const std::string output = run("acquire,show,pause,hide,hide,release", "PleaseWaitDialog=exit");
    const Lines logged = records();
    ASSERT_EQ(logged.size(), 1u) << output;
    const std::string status = logged[0].substr(0, logged[0].find('@'));
    EXPECT_NE(status, "0");
    EXPECT_EQ(output, "acquire=1\nshow=0\npause=0\nhide=" + status + "\nhide=0\nrelease=0\n");
}

TEST_F(HostRequests, TheHostsHooksAndQuitsWhileADialogIsUp)
{
    EXPECT_EQ(run("hooks,message,error,states", "MessageBox=0@400;ErrorDialog=reply"),
              "hooks=0\nmessage=0\nerror=1\nidle=called states=1212\nstates=0\n");
    if (!hostHasMessageQueue())
        GTEST_SKIP() << "threads have no message queues here";
    // A quit that came during the library's wait ends the host's own loop after it.
    EXPECT_EQ(run("quitInWait,loop,quitBeforeWork,loop", "MessageBox=1@300;PleaseWaitDialog=none"),
              "quitInWait=1\nloop=42\nquitBeforeWork=1\nloop=7\n");
}

TEST_F(HostRequests, PleaseWaitAndAMessageBoxShareOneConnection)
{
    EXPECT_EQ(runTraced("locale,acquire,show,message,hide,release",
                        "MessageBox=1;PleaseWaitDialog=none"),
              "locale=0\nacquire=1\nshow=0\nmessage=1\nhide=0\nrelease=0\n");
    EXPECT_EQ(requests(),
              (Lines{"kyro.PleaseWaitDialog wait=1 CPID=<pid> locale=\"de_DE\" waiting=\"True\"",
                     kMessageBox + "\"de_DE\" title=\"Go on?\"",
                     "kyro.PleaseWaitDialog wait=1 CPID=<pid> locale=\"de_DE\" waiting=\"False\""}));
    expectOneConnectionClosedInOrder(1);

    // Asked for by work on another thread while this one waits under the please-wait dialog.
    EXPECT_EQ(runTraced("acquire,workWithMessage,release", "MessageBox=1;PleaseWaitDialog=none"),
              "acquire=1\nworkWithMessage=1\nrelease=0\n");
    // The companion logs the unanswered hide when it gets to it, maybe after the host has
    // gone (on a loaded machine under a sanitizer, seconds after).
    Lines asked = requests();
    for (int i = 0; i < 1000 && asked.size() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        asked = requests();
    }
    Lines names;
    for (const std::string& request : asked)
        names.push_back(request.substr(0, request.find(' ')));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Lines{"kyro.PleaseWaitDialog", "kyro.PleaseWaitDialog", "vex.MessageBox"}));
    expectOneConnectionClosedInOrder(1);
}

TEST_F(HostRequests, AMessageBoxFromTheIdleHookWhileAnotherWaits)
{
    // Each box is answered with its focused button 300 ms after it was asked for: the outer
    // one (1) while the inner one (2) still waits, so the outer answer arrives during the
    // inner wait and must be kept for it.
    EXPECT_EQ(runTraced("nested", "MessageBox=default@300"), "nested=12\n");
    const Lines asked = requests();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].find("focus_button_index=1"), std::string::npos) << asked[0];
    EXPECT_NE(asked[1].find("focus_button_index=2"), std::string::npos) << asked[1];
    const Lines inner = traced({"Packet Marshalled:65536;vex.MessageBox;", "focus_button_index=d2"});
    const Lines outerAnswer = traced({"Packet Unmarshalling:65536;vex.RESP;", "selected_button=d1"});
    ASSERT_EQ(inner.size(), 1u);
    ASSERT_EQ(outerAnswer.size(), 1u);
    const Lines order = traced({"Packet "});
    EXPECT_LT(std::find(order.begin(), order.end(), inner[0]),
              std::find(order.begin(), order.end(), outerAnswer[0]));
    expectOneConnectionClosedInOrder(2);
}

TEST_F(HostRequests, WithoutADisplayNobodyIsAskedAndTheDebugLogSaysSoOnce)
{
    ScopedVariable display("DISPLAY", nullptr);
    ScopedVariable wayland("WAYLAND_DISPLAY", nullptr);
    ScopedVariable debug("KYRO_DEBUG_MODE", "1");
    const TStr debugLog = KyroDebugLogger().getLogFileName();
    const std::size_t before = looseFileLines(debugLog).size();
    EXPECT_EQ(run("message,privacy,error,memory", ""), "message=1\nprivacy=19\nerror=1\nmemory=1\n");
    const Lines after = looseFileLines(debugLog);
    EXPECT_EQ(std::count_if(after.begin() + static_cast<long>(std::min(before, after.size())), after.end(),
                            [](const std::string& line) {
                                return line.find("No window can be shown") != std::string::npos;
                            }),
              1)
        << debugLog.utf8();
    EXPECT_EQ(records(), Lines{"19@dialog_requests.cpp"});
}

TEST_F(HostRequests, TheCEntryPoints)
{
    const std::string data = (thisTestProgram().directory().directory() / "data").utf8();
    EXPECT_EQ(run(("api/" + data + ",states").c_str(),
                  "ErrorDialog=reply@200;MessageBox=1;PrivacyPolicyDialog=3;PleaseWaitDialog=none"),
              "startUp=1 status=0\nfolder=1\nerror=1\nmessage=1\nprivacy=0\nprivacyAgain=0\n"
              "work=1\nquietWork=1 worked=1\napi=0\nidle=called states=121212\nstates=0\n");
    // Error, message box, privacy (once: then on record), please-wait shown and hidden for
    // the long work, and hidden only for the quiet one.
    EXPECT_EQ(looseFileLines(m_folder / "requests.log").size(), 6u);
    EXPECT_NE(readFileBytes(m_folder / "requests.log").find("kyro.ErrorDialog"), std::string::npos);
}

TEST(HostEntryPoints, TextsAreCopiedIntoTheHostsBufferAndNullsAreHarmless)
{
    EXPECT_STREQ(kyrointVersion(), "15.0.73.0");
    char buffer[64] = "unchanged";
    EXPECT_EQ(kyrointGetString("IDS_BUTTON_OK", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(kyrointSetResourceFolder(nullptr), 0);
    ASSERT_EQ(kyrointSetResourceFolder((thisTestProgram().directory().directory() / "data").utf8()), 1);
    EXPECT_EQ(kyrointGetString("IDS_BUTTON_CANCEL", buffer, sizeof buffer), 6);
    EXPECT_STREQ(buffer, "Cancel");
    // Too small: cut and terminated, and the whole length told.
    char small[4] = "xyz";
    EXPECT_EQ(kyrointGetString("IDS_BUTTON_CANCEL", small, sizeof small), 6);
    EXPECT_STREQ(small, "Can");
    EXPECT_EQ(kyrointGetString("IDS_BUTTON_CANCEL", nullptr, 0), 6);
    EXPECT_EQ(kyrointGetString("IDS_BUTTON_CANCEL", small, 0), 6);
    EXPECT_STREQ(small, "Can");
    EXPECT_EQ(kyrointGetString("IDS_NOT_THERE", buffer, sizeof buffer), 0);
    EXPECT_EQ(kyrointGetString(nullptr, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");

    kyrointSetLocale(nullptr);
    kyrointSetIdleHook(nullptr, nullptr);
    kyrointSetDialogStateHook(nullptr, nullptr);
    kyrointPumpMessages();
    EXPECT_EQ(kyrointRunWithPleaseWait(nullptr, nullptr, 0), 0);
    kyrointReleaseWaitDialog();   // without an acquire: ignored
    EXPECT_EQ(kyrointHideWaitDialog(), 0);
}

// ---- A companion that misbehaves ---------------------------------------------------------

// How long a call may take once the companion misbehaved: a dead companion or a spoilt
// line is noticed within a wait tick or two natively; Wine's process and pipe calls are
// many times slower, and the 32 MiB line crawls through its pipes (as it does through a
// sanitizer's checks).
const long long kFaultBound = KYRO_TEST_WINDOWS || KYRO_TEST_SANITIZED ? 8000 : 2000;
const char* const kUnanswered = "5@dialog_requests.cpp";

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
         {"error=1", "message=0", "error=1", "message=0"}, {1, 3}, {kUnanswered, kUnanswered}, ""},
        {"ends before each reply", "message,error,privacy,error,memory",
         "ErrorDialog=exit;PrivacyPolicyDialog=exit;*=1",
         {"message=1", "error=0", "privacy=5", "error=0", "memory=0"}, {1, 2, 3, 4},
         Lines(4, kUnanswered), ""},
        // What came of a cut line is no answer, and consent is not recorded from it.
        {"cuts its reply", "message,error,privacy,consent,message",
         "MessageBox=1+cut;ErrorDialog=reply+cut;PrivacyPolicyDialog=3+cut",
         {"message=0", "error=0", "privacy=5", "consent=-1", "message=0"}, {0, 1, 2, 4},
         Lines(4, kUnanswered), ""},
        {"cuts its reply inside an escape", "message,error,privacy,consent,message",
         "MessageBox=1+cutEscape;ErrorDialog=reply+cutEscape;PrivacyPolicyDialog=3+cutEscape",
         {"message=0", "error=0", "privacy=5", "consent=-1", "message=0"}, {0, 1, 2, 4},
         Lines(4, kUnanswered), ""},
        // The answer came, the goodbye did not: the call keeps its answer.
        {"ends while answering the close", "message,error,message,privacy",
         "MessageBox=1+cutClose;ErrorDialog=reply+cutClose;PrivacyPolicyDialog=2+cutClose",
         {"message=1", "error=1", "message=1", "privacy=19"}, {0, 1, 2, 3},
         {"19@dialog_requests.cpp"}, ""},
        {"ends right after its reply", "message,error,message", "MessageBox=1+exit;ErrorDialog=reply+exit",
         {"message=1", "error=1", "message=1"}, {0, 1, 2}, {}, ""},
        // It holds its presence lock 600 ms after closing its pipes: the next request waits
        // for it to be gone.
        {"is slow to end", "message,error,message,error", "MessageBox=1+slowExit;ErrorDialog=reply+slowExit",
         {"message=1", "error=1", "message=1", "error=1"}, {1, 2, 3}, {}, ""},
        {"writes lines that are no packets", "message,error,message,privacy",
         "MessageBox=1+garbage;ErrorDialog=reply+garbage;PrivacyPolicyDialog=2+garbage",
         {"message=1", "error=1", "message=1", "privacy=19"}, {1, 2, 3}, {"19@dialog_requests.cpp"}, ""},
        {"replies for sessions that do not exist", "message,error,message",
         "MessageBox=1+stray;ErrorDialog=reply+stray", {"message=1", "error=1", "message=1"}, {1, 2},
         {}, ""},
        // 32 MiB addressed to the waiting call: dropped at the reader's limit, and the real
        // answer after it is the reply.
        {"writes a line of 32 MiB", "error,message,error", "MessageBox=1+huge;ErrorDialog=reply",
         {"error=1", "message=1", "error=1"}, {1}, {},
         "Dropped an incoming line longer than 16777216 bytes"},
        {"floods with empty lines", "message,error,message", "MessageBox=1;ErrorDialog=reply+flood",
         {"message=1", "error=0", "message=1"}, {1}, {kUnanswered},
         "Cut off a peer that sent more than 65536 lines or 67108864 bytes unread"},
        // The companion would drop the line and never answer: the call fails at once.
        {"would get a request longer than it reads", "message,hugeMessage,message", "MessageBox=1",
         {"message=1", "hugeMessage=0", "message=1"}, {1}, {kUnanswered}, "Could not send vex.MessageBox"},
        // Given up after the patience (2 s), or after a few tries to make the answers' pipe;
        // one failure to make it alone is tried again.
        {"cannot be reached", "unreachable,message,noPipes,message,noPipes/once", "MessageBox=1",
         {"unreachable=0", "message=1", "noPipes=0", "message=1", "noPipes=1"}, {}, Lines(2, kUnanswered),
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

TEST(CompanionFaults, ACompanionStartedThroughAWrapperIsJudgedByItsPresenceLock)
{
    // The wrapper (KYRO_USE_SQUISH) starts the companion and ends at once, or 300 ms later
    // while the answer (600 ms) is awaited, or writes to its output all along, after the
    // connection too, when nobody reads it any more. The companion serves all the same.
    TempFolder folder;
    const std::string survived = (folder / "survived.txt").utf8();
    ScopedVariable squish(TProcess::kSquishVariable,
                          (thisTestProgram().directory() / KYRO_TEST_CHILD_NAME).utf8());
    for (const std::string& wrap : {std::string("0"), std::string("300"), "1000:" + survived}) {   // "<lifetime ms>[:<file>]"
        SCOPED_TRACE(wrap);
        ScopedVariable variable("KYRO_TEST_WRAP", wrap.c_str());
        writeFileBytes(folder / "errors.log", "");
        EXPECT_EQ(runHost(folder, "message,message", "MessageBox=1@600").results,
                  "message=1\nmessage=1\n");
        EXPECT_EQ(libraryRecords(folder / "errors.log"), Lines{});
    }
    // It lives a second; the host may have ended before that.
    std::string written;
    for (int i = 0; i < 100 && written.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        written = readFileBytes(folder / "survived.txt");
    }
    EXPECT_EQ(written, "survived\n");
}

}  // namespace
