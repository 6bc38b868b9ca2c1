// The platform's launch: what the child receives (arguments, environment), and failures.
// This program's own path is shown by every child role the tests start.
#include "kyro/platform/process_launch.h"

#include "PipeTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace kyro::platform;

TEST(ProcessLaunch, ChildSeesItsArgumentsAndEnvironment)
{
    const TPath child = pipetest::testChildPath();
    std::string output;
    ASSERT_TRUE(runForOutput(child, "kyro_test_child echo one \"two words\" \"\" three", nullptr,
                             &output));
    EXPECT_EQ(output, "<one>\n<two words>\n<>\n<three>\n");

    ASSERT_TRUE(runForOutput(child, "kyro_test_child echo C:\\Dir\\Vex.exe   x", nullptr, &output));
    EXPECT_EQ(output, "<C:\\Dir\\Vex.exe>\n<x>\n");

    ASSERT_TRUE(setEnvironmentVariable("KYRO_PIPE_TEST_VALUE", "caf\xc3\xa9 1"));
    std::string value;
    ASSERT_TRUE(environmentVariable("KYRO_PIPE_TEST_VALUE", &value));
    EXPECT_EQ(value, "caf\xc3\xa9 1");
    ASSERT_TRUE(runForOutput(child, "kyro_test_child env KYRO_PIPE_TEST_ASCII", nullptr, &output));
    EXPECT_EQ(output, "(unset)\n");
    ASSERT_TRUE(setEnvironmentVariable("KYRO_PIPE_TEST_ASCII", "inherited"));
    ASSERT_TRUE(runForOutput(child, "kyro_test_child env KYRO_PIPE_TEST_ASCII", nullptr, &output));
    EXPECT_EQ(output, "inherited\n");

    ASSERT_TRUE(setEnvironmentVariable("KYRO_PIPE_TEST_VALUE", nullptr));
    ASSERT_TRUE(setEnvironmentVariable("KYRO_PIPE_TEST_ASCII", nullptr));
    EXPECT_FALSE(environmentVariable("KYRO_PIPE_TEST_VALUE", &value));
    EXPECT_FALSE(setEnvironmentVariable("A=B", "x"));
    EXPECT_FALSE(setEnvironmentVariable("", "x"));
}

TEST(ProcessLaunch, FailuresLeaveNothingOpen)
{
    LaunchedProcess launched;
    EXPECT_EQ(launchProcess("C:\\no such folder\\missing.exe", "missing.exe", &launched),
              LaunchResult::ProcessFailed);
    EXPECT_EQ(launched.processId, 0u);
    EXPECT_EQ(launched.input, kNoPipeEnd);
    EXPECT_EQ(launched.output, kNoPipeEnd);
    EXPECT_EQ(launchProcess("", "x", &launched), LaunchResult::ProcessFailed);
    EXPECT_EQ(launchProcess(nullptr, nullptr, &launched), LaunchResult::ProcessFailed);
    closePipeEnd(kNoPipeEnd);

    // The folder holding this program is not a program.
    const TPath folder = thisTestProgram().directory();
    const int before = openHandleCount();
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(launchProcess(folder.utf8(), "x", &launched), LaunchResult::ProcessFailed);
    EXPECT_LE(openHandleCount(), before + 2);
}
