// The trace sink and the error report: the exact lines in the opt-in file.
#include "kyro/pipe/VexMessages.h"

#include "FileBytes.h"
#include "TempFolder.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <string>

using kyro::platform::setEnvironmentVariable;

TEST(VexMessages, EnvironmentVariableSendsLinesToAFile)
{
    TempFolder folder;
    const TPath file = folder / "pipe-trace.log";
    const TPath missing = folder / "missing\\folder\\x.log";   // cannot be opened: costs the caller nothing
    for (const TPath& path : {missing, file}) {
        ASSERT_TRUE(setEnvironmentVariable(kyro::pipe::kMessageFileVariable, path.utf8()));
        kyro::pipe::trace(TStr("first %1").arg("x"));
        kyro::pipe::reportError(static_cast<std::int32_t>(0xF0000007u), "second");
        kyro::pipe::reportError("third");
    }
    ASSERT_TRUE(setEnvironmentVariable(kyro::pipe::kMessageFileVariable, nullptr));
    kyro::pipe::trace("after the variable went");
    const std::string pid = "[" + std::to_string(kyro::platform::currentProcessId()) + "] ";
    EXPECT_EQ(readFileBytes(file),
              textLines(pid + "first x\n" + pid + "Error -268435449 second\n" + pid + "Error  third\n"));
    EXPECT_FALSE(fileExists(missing));
}
