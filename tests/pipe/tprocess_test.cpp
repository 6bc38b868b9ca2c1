// Processes: TProcess's command lines and launches, what a launched child receives, no
// handles left behind, and the static counters' message at shutdown.
#include "kyro/pipe/TProcess.h"

#include "PipeTestSupport.h"
#include "kyro/pipe/VexBaseStaticCounter.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

using namespace kyro::platform;

TEST(TProcess, RecordAndCommandLineRules)
{
    const struct {
        const char* program;
        const char* arguments;
        const char* squish;   // as if KYRO_USE_SQUISH held it; null: not set
        const char* recordArguments;
        const char* application;
        const char* commandLine;
    } rows[] = {
        {"C:\\Dir\\Vex.exe", "Vex.exe5120", nullptr, "Vex.exe5120", "C:\\Dir\\Vex.exe", "Vex.exe Vex.exe5120"},
        {"C:\\Dir\\Vex.exe", "Vex.exe5120", "C:\\Tools\\wrap.exe", "\"C:\\Dir\\Vex.exe\" Vex.exe5120",
         "C:\\Tools\\wrap.exe", "wrap.exe \"C:\\Dir\\Vex.exe\" Vex.exe5120"},
        // Set but empty still wraps, with an empty wrapper; no arguments still leave the space.
        {"C:\\Dir\\Vex.exe", "Vex.exe5120", "", "\"C:\\Dir\\Vex.exe\" Vex.exe5120", "",
         " \"C:\\Dir\\Vex.exe\" Vex.exe5120"},
        {"C:\\Dir\\Vex.exe", "", "C:\\Tools\\wrap.exe", "\"C:\\Dir\\Vex.exe\" ", "C:\\Tools\\wrap.exe",
         "wrap.exe \"C:\\Dir\\Vex.exe\" "},
        {"Vex.exe", "Vex.exe5120", nullptr, "Vex.exe5120", "Vex.exe", "Vex.exe Vex.exe5120"},
        {"C:\\Dir\\Vex.exe", "", nullptr, "", "C:\\Dir\\Vex.exe", "Vex.exe"},
        {"C:\\Dir\\Vex.exe", " -x", nullptr, " -x", "C:\\Dir\\Vex.exe", "Vex.exe -x"},
        {"C:\\My Dir\\Vex 2.exe", "a b", nullptr, "a b", "C:\\My Dir\\Vex 2.exe", "\"Vex 2.exe\" a b"},
        {"/opt/Norveldt Shared/Vex.exe", "Vex.exe5120", nullptr, "Vex.exe5120", "/opt/Norveldt Shared/Vex.exe",
         "\"/opt/Norveldt Shared/Vex.exe\" Vex.exe5120"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.program) + " " + (row.squish != nullptr ? row.squish : "(unset)"));
        const TProcess process(row.program, row.arguments, row.squish);
        EXPECT_TRUE(process.hasRecord());
        EXPECT_EQ(process.program(), row.squish != nullptr ? row.squish : row.program);
        EXPECT_EQ(process.arguments(), row.recordArguments);
        EXPECT_EQ(process.applicationName(), row.application);
        EXPECT_EQ(process.commandLine(), row.commandLine);
        EXPECT_EQ(process.processId(), 0u);
    }
    EXPECT_EQ(TProcess("C:\\Dir\\Vex.exe", TStr()).commandLine(), "Vex.exe");

    ASSERT_TRUE(setEnvironmentVariable(TProcess::kSquishVariable, "C:\\Tools\\wrap.exe"));
    const TProcess squished("C:\\Dir\\Vex.exe", "Vex.exe5120");
    ASSERT_TRUE(setEnvironmentVariable(TProcess::kSquishVariable, nullptr));
    EXPECT_EQ(squished.commandLine(), "wrap.exe \"C:\\Dir\\Vex.exe\" Vex.exe5120");
    EXPECT_EQ(TProcess("C:\\Dir\\Vex.exe", "Vex.exe5120").commandLine(), "Vex.exe Vex.exe5120");
}

TEST(TProcess, LaunchResults)
{
    TProcess none;
    EXPECT_FALSE(none.hasRecord());
    EXPECT_EQ(none.launch(), TProcess::kNoRecord);
    EXPECT_TRUE(none.commandLine().isNull());
    TProcess missing("C:\\no such folder\\missing.exe", "x", nullptr);
    EXPECT_EQ(missing.launch(), -5);
    EXPECT_EQ(missing.processId(), 0u);

    TProcess child(pipetest::testChildPath(), "", nullptr);
    ASSERT_EQ(child.launch(), TProcess::kStarted);
    ASSERT_EQ(child.launch(), -1) << "a relaunch starts another child";
    const std::uint32_t childId = child.processId();
    EXPECT_NE(childId, 0u);
    EXPECT_NE(childId, currentProcessId());
    // assign keeps only the process id; from a process without a record, nothing.
    TProcess copy;
    copy.assign(child);
    EXPECT_EQ(copy.processId(), childId);
    EXPECT_TRUE(copy.program().isNull());
    EXPECT_EQ(copy.launch(), -5);
    copy.assign(copy);
    EXPECT_EQ(copy.processId(), childId);
    copy.assign(none);
    EXPECT_FALSE(copy.hasRecord());
    EXPECT_EQ(copy.processId(), 0u);
    EXPECT_EQ(copy.launch(), -3);
}

TEST(TProcess, LaunchesLeaveNoHandlesBehind)
{
    const TPath childPath = pipetest::testChildPath();
    ASSERT_EQ(TProcess(childPath, "", nullptr).launch(), -1);   // what is set up once is no leak
    const int before = openHandleCount();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 100; ++i) {
        TProcess process(childPath, "", nullptr);
        int result = process.launch();
        if (result == -5) {   // under Wine a start can fail while earlier children end
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            result = process.launch();
        }
        ASSERT_EQ(result, -1) << "launch " << i;
        if (i % 50 == 0) {
            ASSERT_EQ(process.launch(), -1) << "relaunch " << i;
        }
        ASSERT_EQ(TProcess("C:\\no such folder\\missing.exe", "", nullptr).launch(), -5);
        LaunchedProcess launched;   // the folder holding this program is not a program
        EXPECT_EQ(launchProcess(thisTestProgram().directory().utf8(), "x", &launched), LaunchResult::ProcessFailed);
    }
    releaseEndedChildren();
    EXPECT_LE(openHandleCount(), before + 5);
}

TEST(ProcessLaunch, ChildSeesItsArgumentsAndEnvironment)
{
    const TPath child = pipetest::testChildPath();
    std::string output;
    ASSERT_TRUE(runForOutput(child, "kyro_test_child echo one \"two words\" \"\" C:\\Dir\\Vex.exe   x", nullptr,
                             &output));
    EXPECT_EQ(output, "<one>\n<two words>\n<>\n<C:\\Dir\\Vex.exe>\n<x>\n");
    ASSERT_TRUE(runForOutput(child, "kyro_test_child env KYRO_PIPE_TEST_VALUE", nullptr, &output));
    EXPECT_EQ(output, "(unset)\n");
    ASSERT_TRUE(setEnvironmentVariable("KYRO_PIPE_TEST_VALUE", "inherited"));
    ASSERT_TRUE(runForOutput(child, "kyro_test_child env KYRO_PIPE_TEST_VALUE", nullptr, &output));
    EXPECT_EQ(output, "inherited\n");
    ASSERT_TRUE(setEnvironmentVariable("KYRO_PIPE_TEST_VALUE", nullptr));
    EXPECT_FALSE(setEnvironmentVariable("A=B", "x"));

    LaunchedProcess launched;
    for (const char* program : {"C:\\no such folder\\missing.exe", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(launchProcess(program, program, &launched), LaunchResult::ProcessFailed);
        EXPECT_EQ(launched.processId, 0u);
        EXPECT_EQ(launched.input, kNoPipeEnd);
        EXPECT_EQ(launched.output, kNoPipeEnd);
    }
}

// Leaves a balanced counter and one whose second count is 3 ahead; the process-wide pair
// stays silent.
KYRO_CHILD_ROLE(counter)
{
    static VexBaseStaticCounter balanced("Balanced Test Counter");
    static VexBaseStaticCounter unbalanced("Unbalanced Test Counter");
    balanced.addToFirst(7);
    balanced.addToSecond(7);
    unbalanced.addToFirst(2);
    unbalanced.addToSecond(5);
    VexBaseStaticCounter::allocatedBytes();
    VexBaseStaticCounter::allocatedInstances();
    return 0;
}

TEST(VexBaseStaticCounter, CountsAndComplainsAtShutdownWhenUnbalanced)
{
    VexBaseStaticCounter counter("Test Counter");
    counter.addToSecond(5);
    EXPECT_EQ(counter.discrepancy(), 5);
    counter.addToFirst(8);
    EXPECT_EQ(counter.discrepancy(), -3);
    counter.addToSecond(3);
    VexBaseStaticCounter wrapped("Wrapped");
    wrapped.addToSecond(0xFFFFFFFFu);
    EXPECT_EQ(wrapped.discrepancy(), -1);   // 32-bit difference, signed
    wrapped.addToFirst(0xFFFFFFFFu);

    std::string output;
    ASSERT_TRUE(runRole("counter", &output));
    EXPECT_EQ(output, "!!!!! -----------\n"
                      "!!!!! Counter Discrepancy detected at shutdown in Unbalanced Test Counter: 3\n"
                      "!!!!! ---------\n\n");
}
