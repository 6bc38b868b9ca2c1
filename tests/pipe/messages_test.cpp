// The trace sink and the error report: the exact lines, the observer, the opt-in file.
#include "kyro/pipe/VexMessages.h"

#include "FileBytes.h"
#include "ReportCapture.h"
#include "TempFolder.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using kyro::pipe::MessageKind;

TEST(VexMessages, ErrorReportsAndTraceLinesAreComposedExactly)
{
    {
        ReportCapture traces(ReportCapture::kTrace);
        kyro::pipe::trace("Packet Marshalled:abc");
        kyro::pipe::trace(TStr("PROCESS: %1").arg("Vex.exe"));
        kyro::pipe::trace(TStr());
        EXPECT_EQ(traces.lines(), (std::vector<std::string>{"Packet Marshalled:abc", "PROCESS: Vex.exe", ""}));
    }
    ReportCapture seen;
    kyro::pipe::reportError("Could not execute server process");
    kyro::pipe::reportError(static_cast<std::int32_t>(0xF0000007u), "Pipe broken");
    kyro::pipe::reportError(5, "five");
    kyro::pipe::reportError(0, "");
    EXPECT_EQ(seen.lines(), (std::vector<std::string>{"Error  Could not execute server process",
                                                      "Error -268435449 Pipe broken", "Error 5 five", "Error 0 "}));
}

// An observer that traces gets its own line only once: no recursion.
TEST(VexMessages, ObserverIsNotCalledFromItself)
{
    struct Echo {
        static void observe(MessageKind, const TStr& line, void* context)
        {
            ++*static_cast<int*>(context);
            kyro::pipe::trace(TStr("echo of ") + line);
        }
    };
    int calls = 0;
    kyro::pipe::setMessageObserver(&Echo::observe, &calls);
    kyro::pipe::reportError(1, "x");
    kyro::pipe::setMessageObserver(nullptr, nullptr);
    EXPECT_EQ(calls, 1);

}

TEST(VexMessages, EnvironmentVariableSendsLinesToAFile)
{
    TempFolder folder;
    const TPath file = folder / "pipe-trace.log";
    ASSERT_TRUE(kyro::platform::setEnvironmentVariable(kyro::pipe::kMessageFileVariable, file.utf8()));
    kyro::pipe::trace("first");
    kyro::pipe::reportError(-2, "second");
    kyro::pipe::reportError("third");
    ASSERT_TRUE(kyro::platform::setEnvironmentVariable(kyro::pipe::kMessageFileVariable, nullptr));
    kyro::pipe::trace("after the variable went");
    const std::string pid = "[" + std::to_string(kyro::platform::currentProcessId()) + "] ";
    EXPECT_EQ(readFileBytes(file), textLines(pid + "first\n" + pid + "Error -2 second\n" + pid + "Error  third\n"));

    // A file that cannot be opened costs the caller nothing.
    ASSERT_TRUE(kyro::platform::setEnvironmentVariable(kyro::pipe::kMessageFileVariable,
                                                       (folder / "missing\\folder\\x.log").utf8()));
    kyro::pipe::trace("lost");
    ASSERT_TRUE(kyro::platform::setEnvironmentVariable(kyro::pipe::kMessageFileVariable, nullptr));
    EXPECT_FALSE(fileExists(folder / "missing\\folder\\x.log"));
}
