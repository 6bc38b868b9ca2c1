// The debugger output, read back through the file KYRO_DEBUG_OUTPUT names.
#include "kyro/platform/debug_output.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "ScopedVariable.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <string>

using kyro::platform::kDebugOutputFileVariable;
using kyro::platform::writeDebugOutput;

KYRO_CHILD_ROLE(appendDebugLines)
{
    for (int i = 0; i < 200; ++i)
        writeDebugOutput((argument + std::to_string(i) + std::string(200, 'a' + i % 26)).c_str());
    return 0;
}

TEST(DebugOutput, SeveralProcessesShareOneFileLineByLine)
{
    const TempFolder folder;
    const ScopedVariable variable(kDebugOutputFileVariable, nativePath(folder / "debug.log").u8string().c_str());
    ASSERT_TRUE(runRolesTogether({"appendDebugLines:A", "appendDebugLines:B", "appendDebugLines:C"}));
    int next[3] = {};
    for (const std::string& line : looseFileLines(folder / "debug.log")) {
        const int c = line[0] - 'A';
        ASSERT_TRUE(c >= 0 && c < 3 && line == line.substr(0, 1) + std::to_string(next[c]) +
                                                   std::string(200, 'a' + next[c] % 26))
            << "a line torn or out of order: " << line.substr(0, 40);
        ++next[c];
    }
    EXPECT_EQ(next[0] + next[1] + next[2], 600);
}
