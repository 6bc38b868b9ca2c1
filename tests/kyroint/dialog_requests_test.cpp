// Dialog requests through the real companion: every request's keys and values as the
// companion received them, the answers the host gets back, the records of every failure
// in the error log, consent kept between requests, and the host's hooks while a dialog is up.
//
// Each case runs in a fresh host process (a child role), because the library reads its
// custom environment file, which tells it where Vex.exe is, once per process.
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/int/KyroIntWaitDialog.h"
#include "kyro/int/dialog_requests.h"
#include "kyro/int/host_context.h"
#include "kyro/int/privacy_consent.h"
#include "kyro/pipe/VexPipePacket.h"
#include "kyro/pipe/VexValue.h"
#include "kyro/platform/process_launch.h"
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
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const kyrointutil::KyroProductIdentity kProduct{"Kyro Demo", "KyroDemo15"};

int g_idleCalls = 0;
std::string g_states;
int g_innerAnswer = -1;
bool g_innerAsked = false;

void countIdle(void* context)
{
    ++*static_cast<int*>(context);
}

void noteState(int* state, void*)
{
    g_states += std::to_string(*state);
}

// The host's idle hook that asks for a message box of its own, once, while the request it
// is called from waits for its answer.
void askFromIdle(void*)
{
    if (g_innerAsked)
        return;
    g_innerAsked = true;
    g_innerAnswer = kyrointutil::showMessageBox("Kyro", "Inner", 3, "Yes", "No", 2);
}

// The host's idle hook that posts a quit to the host's thread, once.
void quitOnce(void*)
{
    static bool posted = false;
    if (!posted)
        postQuit(42);
    posted = true;
}

// Work that takes a while.
void pause300(void*)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

// Work that asks for a message box on its own thread.
void askFromWork(void* answer)
{
    *static_cast<int*>(answer) = kyrointutil::showMessageBox("Kyro", "Work", 3, "Yes", "No", 1);
}

// Runs the operations named in `argument` ("locale,error,message,...") one after another
// in this host process and prints "<operation>=<result>" for each.
KYRO_CHILD_ROLE(dialogs)
{
    KyroLogger::instance_m()->setLogFileName(hostTestFolder() / "errors.log");

    std::stringstream operations(argument);
    std::string operation;
    while (std::getline(operations, operation, ',')) {
        int result = -1;
        if (operation == "locale") {
            kyrointutil::setLocale("de_DE");
            result = 0;
        } else if (operation == "hooks") {
            kyrointutil::setIdleHook(&countIdle, &g_idleCalls);
            kyrointutil::setDialogStateHook(&noteState, nullptr);
            result = 0;
        } else if (operation == "error") {
            result = kyrointutil::showErrorDialog("Kyro", "Something failed", "The details", 4);
        } else if (operation == "errorNoDetail") {
            result = kyrointutil::showErrorDialog("Kyro", "Something failed", "", 3);
        } else if (operation == "memory") {
            result = kyrointutil::showInsufficientMemory();
        } else if (operation == "message") {
            result = kyrointutil::showMessageBox("Kyro", "Go on?", 3, "Yes", "No", 1);
        } else if (operation == "privacy") {
            result = kyrointutil::showPrivacyPolicy(kProduct, "", "C:\\img\\hero.png");
        } else if (operation == "privacyImages") {
            result = kyrointutil::showPrivacyPolicy(kProduct, "C:\\img\\brand.png", "C:\\img\\hero.png");
        } else if (operation == "acquire") {
            KyroIntWaitDialog::acquire(true);
            result = static_cast<int>(KyroIntWaitDialog::useCount());
        } else if (operation == "release") {
            KyroIntWaitDialog::release();
            result = static_cast<int>(KyroIntWaitDialog::useCount());
        } else if (operation == "show") {
            result = KyroIntWaitDialog::show();
        } else if (operation == "hide") {
            result = KyroIntWaitDialog::hide();
        } else if (operation == "twoThreads") {
            // Two threads of the host ask at once; each must get its own answer.
            int answers[2] = {0, 0};
            std::thread other([&answers] {
                for (int i = 0; i < 5; ++i)
                    answers[1] += kyrointutil::showMessageBox("Kyro", "B", 3, "Yes", "No", 1);
            });
            for (int i = 0; i < 5; ++i)
                answers[0] += kyrointutil::showMessageBox("Kyro", "A", 3, "Yes", "No", 1);
            other.join();
            result = answers[0] * 10 + answers[1];
        } else if (operation == "nested") {
            // A message box asked for from the idle hook while another one waits.
            kyrointutil::setIdleHook(&askFromIdle, nullptr);
            const int outer = kyrointutil::showMessageBox("Kyro", "Outer", 3, "Yes", "No", 1);
            kyrointutil::setIdleHook(nullptr, nullptr);
            result = outer * 10 + g_innerAnswer;
        } else if (operation == "workWithMessage") {
            // Work on a thread of its own asks for a message box while this thread waits
            // for it under the please-wait dialog.
            int answer = -1;
            const kyro::platform::ThreadHandle worker =
                kyro::platform::startThread(&askFromWork, &answer);
            const bool ended = kyrointutil::waitWithPleaseWait(worker, 0);
            if (!ended)
                kyro::platform::waitForThread(worker, kyro::platform::kWaitForever);
            kyro::platform::releaseThread(worker);
            result = ended ? answer : -2;
        } else if (operation == "quitInWait") {
            // The host's quit comes while the message box waits for its answer.
            kyrointutil::setIdleHook(&quitOnce, nullptr);
            result = kyrointutil::showMessageBox("Kyro", "Go on?", 3, "Yes", "No", 1);
            kyrointutil::setIdleHook(nullptr, nullptr);
        } else if (operation == "quitBeforeWork") {
            // A quit already waiting when the thread starts to wait for work.
            postQuit(7);
            const kyro::platform::ThreadHandle worker =
                kyro::platform::startThread(&pause300, nullptr);
            result = kyrointutil::waitWithPleaseWait(worker, 0);
            kyro::platform::waitForThread(worker, kyro::platform::kWaitForever);
            kyro::platform::releaseThread(worker);
        } else if (operation == "loop") {
            // The host's own message loop, after the library's wait.
            result = runMessageLoop(2000);
        } else if (operation == "pause") {
            // Time for a companion that ends to be gone.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            result = 0;
        } else if (operation == "consent") {
            bool consented = false;
            result = kyrointutil::readPrivacyPolicyConsent(kProduct, &consented) ? consented : -1;
        }
        std::printf("%s=%d\n", operation.c_str(), result);
    }
    if (!g_states.empty())
        std::printf("idle=%s states=%s\n", g_idleCalls > 0 ? "called" : "never", g_states.c_str());
    return 0;
}

// A request line as the companion recorded it: "<name> wait=<mode> key=value ..." with the
// keys in order, strings in quotes.
std::string describe(const std::string& line)
{
    VexPipePacket packet;
    packet.unmarshal(line.c_str());
    std::vector<std::string> items;
    const TList<TStr> keys = packet.payload().keys();
    for (auto key = keys.first(); !key.atEnd(); key.advance()) {
        const VexValue value = packet.payload().getValue(key.current());
        std::string item = std::string(key.current().utf8()) + "=";
        // The framework adds the host's process id to every request.
        if (key.current() == "CPID")
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

class DialogRequests : public testing::Test {
protected:
    // Sets up a host whose companion folder is `binaries` (this program's own folder when
    // null, where Vex.exe is; "" for none) and whose companion answers by `script`.
    std::string run(const char* operations, const char* script, const TStr* binaries = nullptr)
    {
        return runHost(m_folder, std::string("dialogs:") + operations, script, binaries);
    }

    // What the companion received, one description per request.
    Lines requests()
    {
        Lines lines;
        for (const std::string& line : looseFileLines(m_folder / "requests.log")) {
            if (!line.empty())
                lines.push_back(describe(line));
        }
        return lines;
    }

    // The status and the raising file of every library record in the error log.
    Lines records() { return libraryRecords(m_folder / "errors.log"); }

    // Runs a host as run() does, from an empty request log, with the pipe framework's trace
    // of the host and of its companion in <folder>\trace.log ("[<process id>] <text>").
    std::string runTraced(const char* operations, const char* script)
    {
        writeFileBytes(m_folder / "trace.log", "");
        writeFileBytes(m_folder / "requests.log", "");
        ScopedVariable trace("KYRO_PIPE_TRACE_FILE", (m_folder / "trace.log").utf8());
        return run(operations, script);
    }

    // The traced lines that contain every one of `parts`, without their process ids; only
    // those of the process `pid` when one is given.
    Lines traced(std::initializer_list<const char*> parts, const std::string& pid = "")
    {
        Lines found;
        for (const std::string& line : looseFileLines(m_folder / "trace.log")) {
            const std::string::size_type end = line.find("] ");
            if (line.empty() || line[0] != '[' || end == std::string::npos)
                continue;
            if (!pid.empty() && line.compare(1, end - 1, pid) != 0)
                continue;
            const std::string text = line.substr(end + 2);
            if (std::all_of(parts.begin(), parts.end(), [&text](const char* part) {
                    return text.find(part) != std::string::npos;
                }))
                found.push_back(text);
        }
        return found;
    }

    // The process id of the host: the one that sent the handshake.
    std::string hostPid()
    {
        for (const std::string& line : looseFileLines(m_folder / "trace.log")) {
            if (line.find("] Packet Marshalled:65536;system.cndCnct;") != std::string::npos)
                return line.substr(1, line.find(']') - 1);
        }
        return "<none>";
    }

    // How often the host sent packets named `name` (";system.cndCnct;").
    std::size_t sent(const char* name)
    {
        return traced({"Packet Marshalled:65536", name}, hostPid()).size();
    }
    // How often the host received the companion's reply to the system method `method`.
    std::size_t answered(const char* method)
    {
        const std::string code = std::string("RCOD=h") + method + ";";
        return traced({"Packet Unmarshalling:65536;system.RESP;", code.c_str()}, hostPid()).size();
    }

    // The one connection of a host: one handshake and one goodbye, both answered, the
    // goodbye the last packet the host sent, and nothing reported by either side (such as
    // a reply written to a writer that is not there, or a wait that lost its connection).
    void expectOneConnectionClosedInOrder()
    {
        EXPECT_EQ(sent(";system.cndCnct;"), 1u);
        EXPECT_EQ(answered("cndCnct"), 1u);
        EXPECT_EQ(sent(";system.cndTerm;"), 1u);
        EXPECT_EQ(answered("cndTerm"), 1u);
        const Lines hostSent = traced({"Packet Marshalled:65536;"}, hostPid());
        ASSERT_FALSE(hostSent.empty());
        EXPECT_NE(hostSent.back().find(";system.cndTerm;"), std::string::npos) << hostSent.back();
        EXPECT_EQ(traced({"Error "}), Lines{});
    }

    TempFolder m_folder;
};

TEST_F(DialogRequests, ErrorDialogsAndTheMemoryNoticeCarryTheirValues)
{
    EXPECT_EQ(run("locale,error,errorNoDetail,memory", "ErrorDialog=reply"),
              "locale=0\nerror=1\nerrorNoDetail=1\nmemory=1\n");
    EXPECT_EQ(requests(),
              (Lines{"kyro.ErrorDialog wait=2 CPID=<pid> caption=\"Kyro\" detail=\"The details\" "
                     "enable_description=\"True\" icon=4 locale=\"de_DE\" "
                     "selector=\"ErrorDialogBase\" title=\"Something failed\"",
                     "kyro.ErrorDialog wait=2 CPID=<pid> caption=\"Kyro\" enable_description=\"False\" "
                     "icon=3 locale=\"de_DE\" selector=\"ErrorDialogBase\" "
                     "title=\"Something failed\"",
                     "kyro.ErrorDialog wait=2 CPID=<pid> locale=\"de_DE\" selector=\"InsufficientMemory\""}));
    EXPECT_EQ(records(), Lines{});
}

TEST_F(DialogRequests, AMessageBoxAnswersWithTheButtonChosen)
{
    // Without a locale set, the request carries an empty one.
    EXPECT_EQ(run("message,message", "MessageBox=1"), "message=1\nmessage=1\n");
    EXPECT_EQ(requests(),
              Lines(2, "vex.MessageBox wait=2 CPID=<pid> button_0=\"Yes\" button_1=\"No\" caption=\"Kyro\" "
                       "focus_button_index=1 icon=3 locale=\"\" title=\"Go on?\""));
    // An answer without a button is 0.
    EXPECT_EQ(run("message", "vex.MessageBox=reply"), "message=0\n");
}

TEST_F(DialogRequests, ConsentGivenOnceIsKeptAndNotAskedForAgain)
{
    EXPECT_EQ(run("consent,privacy,consent,privacyImages", "PrivacyPolicyDialog=3"),
              "consent=-1\nprivacy=0\nconsent=1\nprivacyImages=0\n");
    // The second request found the consent on record: one request reached the companion.
    EXPECT_EQ(requests(), Lines{"kyro.PrivacyPolicyDialog wait=2 CPID=<pid> hero_image_pathname="
                                "\"C:\\img\\hero.png\" locale=\"\""});
    EXPECT_EQ(records(), Lines{});
}

TEST_F(DialogRequests, ConsentRefusedIsNotRecordedAndIsLogged)
{
    EXPECT_EQ(run("privacyImages,privacy,consent", "PrivacyPolicyDialog=2"),
              "privacyImages=19\nprivacy=19\nconsent=-1\n");
    EXPECT_EQ(requests(),
              (Lines{"kyro.PrivacyPolicyDialog wait=2 CPID=<pid> hero_image_pathname=\"C:\\img\\hero.png\" "
                     "locale=\"\" product_branding_image_pathname=\"C:\\img\\brand.png\"",
                     "kyro.PrivacyPolicyDialog wait=2 CPID=<pid> hero_image_pathname=\"C:\\img\\hero.png\" "
                     "locale=\"\""}));
    EXPECT_EQ(records(), Lines(2, "19@dialog_requests.cpp"));
}

TEST_F(DialogRequests, WithoutACompanionEveryRequestFailsAndIsLogged)
{
    const char* all = "error,memory,message,privacy,show,hide,acquire,release";
    const char* results = "error=0\nmemory=0\nmessage=0\nprivacy=5\nshow=5\nhide=0\n"
                          "acquire=1\nrelease=0\n";
    const Lines logged = {"5@dialog_requests.cpp",  "5@dialog_requests.cpp",
                          "5@dialog_requests.cpp",  "5@dialog_requests.cpp",
                          "5@KyroIntWaitDialog.cpp"};
    // No companion folder at all.
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
}

TEST_F(DialogRequests, ACompanionFolderWithABlankAndForwardSlashes)
{
    const TPath programs = m_folder / "Program Files";
    std::filesystem::create_directories(nativePath(programs));
    std::filesystem::copy_file(nativePath(thisTestProgram().directory() / "Vex.exe"),
                               nativePath(programs / "Vex.exe"));
    TStr folder(programs);
    folder.replaceAll("\\", "/");
    EXPECT_EQ(run("message", "MessageBox=1", &folder), "message=1\n");
}

TEST_F(DialogRequests, PleaseWaitGoesUnansweredOverOneSharedConduit)
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
}

TEST_F(DialogRequests, PleaseWaitSendsThatFailAreLoggedAndDropTheConduit)
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

TEST_F(DialogRequests, SeveralUsersOfOneHostAtOnce)
{
    // The please-wait dialog's use of the link and requests share it in one host.
    EXPECT_EQ(run("acquire,show,message,error,hide,message,release", "MessageBox=1;ErrorDialog=reply;PleaseWaitDialog=none"),
              "acquire=1\nshow=0\nmessage=1\nerror=1\nhide=0\nmessage=1\nrelease=0\n");
    EXPECT_EQ(requests().size(), 5u);

    EXPECT_EQ(run("twoThreads", "MessageBox=1@50"), "twoThreads=55\n");
    EXPECT_EQ(requests().size(), 15u);
}

TEST_F(DialogRequests, TheHostHooksRunWhileADialogIsUp)
{
    EXPECT_EQ(run("hooks,message,error", "MessageBox=0@400;ErrorDialog=reply"),
              "hooks=0\nmessage=0\nerror=1\nidle=called states=1212\n");
}

TEST_F(DialogRequests, AQuitThatCameDuringAWaitEndsTheHostsLoopAfterIt)
{
    if (!hostHasMessageQueue())
        GTEST_SKIP() << "threads have no message queues here";
    EXPECT_EQ(run("quitInWait,loop,quitBeforeWork,loop", "MessageBox=1@300;PleaseWaitDialog=none"),
              "quitInWait=1\nloop=42\nquitBeforeWork=1\nloop=7\n");
}

TEST_F(DialogRequests, PleaseWaitAndAMessageBoxShareOneConnection)
{
    // The message box is asked for and answered while the please-wait dialog is up; the
    // connection the please-wait dialog opened carries both and closes once, at the end.
    EXPECT_EQ(runTraced("locale,acquire,show,message,hide,release",
                        "MessageBox=1;PleaseWaitDialog=none"),
              "locale=0\nacquire=1\nshow=0\nmessage=1\nhide=0\nrelease=0\n");
    EXPECT_EQ(requests(),
              (Lines{"kyro.PleaseWaitDialog wait=1 CPID=<pid> locale=\"de_DE\" waiting=\"True\"",
                     "vex.MessageBox wait=2 CPID=<pid> button_0=\"Yes\" button_1=\"No\" "
                     "caption=\"Kyro\" focus_button_index=1 icon=3 locale=\"de_DE\" "
                     "title=\"Go on?\"",
                     "kyro.PleaseWaitDialog wait=1 CPID=<pid> locale=\"de_DE\" waiting=\"False\""}));
    expectOneConnectionClosedInOrder();
    // The message box had a session of its own, ended in turn.
    EXPECT_EQ(sent(";system.ssnTerm;"), 1u);
    EXPECT_EQ(answered("ssnTerm"), 1u);
    EXPECT_EQ(records(), Lines{});

    // The same with the message box asked for by work on another thread while this one
    // waits for it under the please-wait dialog.
    EXPECT_EQ(runTraced("acquire,workWithMessage,release", "MessageBox=1;PleaseWaitDialog=none"),
              "acquire=1\nworkWithMessage=1\nrelease=0\n");
    // The companion logs a request it is not asked to answer (the please-wait dialog's hide)
    // when it gets to it, which may be after the host has gone.
    Lines asked = requests();
    for (int i = 0; i < 200 && asked.size() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        asked = requests();
    }
    Lines names;
    for (const std::string& request : asked)
        names.push_back(request.substr(0, request.find(' ')));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Lines{"kyro.PleaseWaitDialog", "kyro.PleaseWaitDialog", "vex.MessageBox"}));
    expectOneConnectionClosedInOrder();
    EXPECT_EQ(records(), Lines{});
}

TEST_F(DialogRequests, AMessageBoxFromTheIdleHookWhileAnotherWaits)
{
    // Each message box is answered with its focused button, 300 ms after it was asked for:
    // the outer one (1) while the inner one (2) still waits, so its answer arrives during
    // the inner request's wait and must be kept for the outer one.
    EXPECT_EQ(runTraced("nested", "MessageBox=default@300"), "nested=12\n");
    const Lines asked = requests();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].find("focus_button_index=1"), std::string::npos) << asked[0];
    EXPECT_NE(asked[1].find("focus_button_index=2"), std::string::npos) << asked[1];
    // The inner request went out before the outer answer came.
    const Lines inner =
        traced({"Packet Marshalled:65536;vex.MessageBox;", "focus_button_index=d2"}, hostPid());
    const Lines outerAnswer =
        traced({"Packet Unmarshalling:65536;vex.RESP;", "selected_button=d1"}, hostPid());
    ASSERT_EQ(inner.size(), 1u);
    ASSERT_EQ(outerAnswer.size(), 1u);
    const Lines order = traced({"Packet "}, hostPid());
    EXPECT_LT(std::find(order.begin(), order.end(), inner[0]) - order.begin(),
              std::find(order.begin(), order.end(), outerAnswer[0]) - order.begin());
    expectOneConnectionClosedInOrder();
    EXPECT_EQ(sent(";system.ssnTerm;"), 2u);
    EXPECT_EQ(answered("ssnTerm"), 2u);
    EXPECT_EQ(records(), Lines{});
}

TEST_F(DialogRequests, WithoutADisplayNobodyIsAskedAndTheDebugLogSaysSoOnce)
{
    // No script: a person would answer, but no window can be shown here. The default
    // answers come at once, and the companion's debug log says why, once.
    ScopedVariable display("DISPLAY", nullptr);
    ScopedVariable wayland("WAYLAND_DISPLAY", nullptr);
    ScopedVariable debug("KYRO_DEBUG_MODE", "1");
    const TStr debugLog = KyroDebugLogger().getLogFileName();
    const std::size_t before = looseFileLines(debugLog).size();
    EXPECT_EQ(run("message,privacy,error,memory", ""),
              "message=1\nprivacy=19\nerror=1\nmemory=1\n");
    Lines said;
    const Lines after = looseFileLines(debugLog);
    for (std::size_t i = before; i < after.size(); ++i) {
        if (after[i].find("No window can be shown") != std::string::npos)
            said.push_back(after[i]);
    }
    EXPECT_EQ(said.size(), 1u) << debugLog.utf8();
    EXPECT_EQ(records(), Lines{"19@dialog_requests.cpp"});
}

}  // namespace
