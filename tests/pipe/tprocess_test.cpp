// Processes: TProcess's command lines and launches, and no handles left behind.
#include "kyro/pipe/TProcess.h"

#include "PipeTestSupport.h"
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
        const char* application;
        const char* commandLine;
    } rows[] = {
        {"C:\\Dir\\Vex.exe", "Vex.exe5120", nullptr, "C:\\Dir\\Vex.exe", "Vex.exe Vex.exe5120"},
        {"C:\\Dir\\Vex.exe", "Vex.exe5120", "C:\\Tools\\wrap.exe", "C:\\Tools\\wrap.exe",
         "wrap.exe \"C:\\Dir\\Vex.exe\" Vex.exe5120"},
        // Set but empty still wraps, with an empty wrapper; no arguments still leave the space.
        {"C:\\Dir\\Vex.exe", "Vex.exe5120", "", "", " \"C:\\Dir\\Vex.exe\" Vex.exe5120"},
        {"C:\\Dir\\Vex.exe", "", "C:\\Tools\\wrap.exe", "C:\\Tools\\wrap.exe", "wrap.exe \"C:\\Dir\\Vex.exe\" "},
        {"C:\\Dir\\Vex.exe", " -x", nullptr, "C:\\Dir\\Vex.exe", "Vex.exe -x"},
        {"C:\\My Dir\\Vex 2.exe", "a b", nullptr, "C:\\My Dir\\Vex 2.exe", "\"Vex 2.exe\" a b"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.program) + " " + (row.squish != nullptr ? row.squish : "(unset)"));
        const TProcess process(row.program, row.arguments, row.squish);
        EXPECT_EQ(process.applicationName(), row.application);
        EXPECT_EQ(process.commandLine(), row.commandLine);
    }
    ASSERT_TRUE(setEnvironmentVariable(TProcess::kSquishVariable, "C:\\Tools\\wrap.exe"));
    const TProcess squished("C:\\Dir\\Vex.exe", "Vex.exe5120");
    ASSERT_TRUE(setEnvironmentVariable(TProcess::kSquishVariable, nullptr));
    EXPECT_EQ(squished.commandLine(), "wrap.exe \"C:\\Dir\\Vex.exe\" Vex.exe5120");
    EXPECT_EQ(TProcess("C:\\Dir\\Vex.exe", "Vex.exe5120").commandLine(), "Vex.exe Vex.exe5120");
}

// Launches and what they give back; a hundred of them leave no handles behind.
TEST(TProcess, LaunchResultsAndNoHandlesLeft)
{
    TProcess none, copy;
    EXPECT_EQ(none.launch(), TProcess::kNoRecord);
    TProcess child(pipetest::testChildPath(), "", nullptr);
    ASSERT_EQ(child.launch(), TProcess::kStarted);   // what is set up once is no leak
    copy.assign(child);   // the process id only
    EXPECT_EQ(copy.processId(), child.processId());
    EXPECT_EQ(copy.launch(), TProcess::kLaunchFailed);

    const int before = openHandleCount();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 100; ++i) {
        TProcess process(pipetest::testChildPath(), "", nullptr);
        int result = process.launch();
        if (result == TProcess::kLaunchFailed) {   // under Wine a start can fail while earlier children end
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            result = process.launch();
        }
        ASSERT_EQ(result, TProcess::kStarted) << "launch " << i;
        ASSERT_EQ(TProcess("C:\\no such folder\\missing.exe", "", nullptr).launch(), TProcess::kLaunchFailed);
    }
    releaseEndedChildren();
    EXPECT_LE(openHandleCount(), before + 5);
}
