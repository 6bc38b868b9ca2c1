// The host's entry points (kyro/kyroint.h): texts copied into the host's buffers, null
// arguments, and a whole host process that starts the library, sets its context and asks
// for dialogs and a please-wait around its work. (The install test links a host against
// the shared library itself.)
#include "kyro/kyroint.h"
#include "kyro/platform/process_launch.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

TPath dataFolder()
{
    return thisTestProgram().directory().directory() / "data";
}

TEST(HostEntryPoints, TextsAreCopiedIntoTheHostsBuffer)
{
    EXPECT_STREQ(kyrointVersion(), "15.0.73.0");

    char buffer[64] = "unchanged";
    EXPECT_EQ(kyrointGetString("IDS_BUTTON_OK", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(kyrointSetResourceFolder(nullptr), 0);
    ASSERT_EQ(kyrointSetResourceFolder(dataFolder().utf8()), 1);

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
}

TEST(HostEntryPoints, NullArgumentsAreHarmless)
{
    kyrointSetLocale(nullptr);
    kyrointSetIdleHook(nullptr, nullptr);
    kyrointSetDialogStateHook(nullptr, nullptr);
    kyrointPumpMessages();
    EXPECT_EQ(kyrointRunWithPleaseWait(nullptr, nullptr, 0), 0);
    kyrointReleaseWaitDialog();   // without an acquire: ignored
    EXPECT_EQ(kyrointHideWaitDialog(), 0);
}

int g_idleCalls = 0;
std::string g_states;

// A host: starts the library from the custom environment file its parent named, asks for
// dialogs, waits for its work under a please-wait dialog, and prints what it got.
KYRO_CHILD_ROLE(host)
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
    std::printf("quietWork=%d worked=%d\n",
                kyrointRunWithPleaseWait([](void*) {}, nullptr, 0), worked);
    std::printf("states=%s idle=%s\n", g_states.c_str(), g_idleCalls > 0 ? "called" : "never");
    return 0;
}

TEST(HostEntryPoints, AHostAsksForDialogsAndWaitsForItsWork)
{
    TempFolder folder;
    writeFileBytes(folder / "custom.xml",
                   std::string("<KYROCUSTOMENV><PLATFORM OS=\"Windows\">"
                               "<KEY ID=\"KYRO_COMMON_BIN_LOCATION\"><STRING>") +
                       thisTestProgram().directory().utf8() +
                       "</STRING></KEY><KEY ID=\"KYRO_USER_SETTINGS_FILE_LOCATION\"><STRING>" +
                       (folder / "user").utf8() +
                       "</STRING></KEY></PLATFORM></KYROCUSTOMENV>");
    namespace platform = kyro::platform;
    platform::setEnvironmentVariable("NORVELDT_KYRO_CUSTOM_ENV", (folder / "custom.xml").utf8());
    platform::setEnvironmentVariable("KYRO_VEX_ANSWERS",
                                     "ErrorDialog=reply@200;MessageBox=1;PrivacyPolicyDialog=3;"
                                     "PleaseWaitDialog=none");
    platform::setEnvironmentVariable("KYRO_VEX_REQUEST_LOG", (folder / "requests.log").utf8());
    std::string output;
    const bool ran = runRole((std::string("host:") + dataFolder().utf8()).c_str(), &output);
    for (const char* name : {"NORVELDT_KYRO_CUSTOM_ENV", "KYRO_VEX_ANSWERS", "KYRO_VEX_REQUEST_LOG"})
        platform::setEnvironmentVariable(name, nullptr);
    ASSERT_TRUE(ran);

    EXPECT_EQ(output, "startUp=1 status=0\nfolder=1\nerror=1\nmessage=1\nprivacy=0\n"
                      "privacyAgain=0\nwork=1\nquietWork=1 worked=1\nstates=121212 idle=called\n");
    const std::string requests = readFileBytes(folder / "requests.log");
    // Error, message box, privacy (once: then on record), please-wait shown and hidden for
    // the long work, and hidden only for the quiet one.
    std::size_t lines = 0;
    for (char c : requests)
        lines += c == '\n';
    EXPECT_EQ(lines, 6u) << requests;
    EXPECT_NE(requests.find("kyro.ErrorDialog"), std::string::npos);
    EXPECT_NE(requests.find("PleaseWaitDialog"), std::string::npos);
}

}  // namespace
