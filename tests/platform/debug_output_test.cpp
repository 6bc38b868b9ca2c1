// The debugger output, read back through the file KYRO_DEBUG_OUTPUT names.
#include "kyro/platform/debug_output.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "ScopedVariable.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

std::string debugLine(const std::string& tag, int i)
{
    return "child " + tag + " line " + std::to_string(i) + " " + std::string(200, static_cast<char>('a' + i % 26));
}

}  // namespace

TEST(DebugOutput, EachMessageIsAppendedAsOneLineToTheNamedFile)
{
    using kyro::platform::kDebugOutputFileVariable;
    using kyro::platform::writeDebugOutput;
    const TempFolder folder;
    const TPath file = folder / "debug output.log";
    writeFileBytes(file, "kept\n");
    {
        const ScopedVariable variable(kDebugOutputFileVariable, nativePath(file).u8string().c_str());
        writeDebugOutput("first message");
        writeDebugOutput(u8"zweite: \u00e4\u00f6\u00fc \u20ac \U0001F600");
        writeDebugOutput("");
        writeDebugOutput(nullptr);
        const ScopedVariable fresh(kDebugOutputFileVariable, nativePath(folder / "fresh.log").u8string().c_str());
        writeDebugOutput("into a new file");
    }
    EXPECT_EQ(readFileBytes(file), std::string("kept\nfirst message\n") +
                                       u8"zweite: \u00e4\u00f6\u00fc \u20ac \U0001F600" + "\n\n\n");
    EXPECT_EQ(readFileBytes(folder / "fresh.log"), "into a new file\n");
    // Without the variable, or where no file can be written, the message just goes.
    for (const TPath& where : {TPath(), folder.path(), folder / "missing\\debug.log"}) {
        const ScopedVariable variable(kDebugOutputFileVariable,
                                      where.isEmpty() ? nullptr : nativePath(where).u8string().c_str());
        writeDebugOutput("not collected");
    }
    EXPECT_FALSE(fileExists(folder / "missing"));
}

// Writes 200 long lines tagged with the argument.
KYRO_CHILD_ROLE(appendDebugLines)
{
    for (int i = 0; i < 200; ++i)
        kyro::platform::writeDebugOutput(debugLine(argument, i).c_str());
    return 0;
}

TEST(DebugOutput, SeveralProcessesShareOneFileLineByLine)
{
    const TempFolder folder;
    const TPath file = folder / "debug.log";
    const ScopedVariable variable(kyro::platform::kDebugOutputFileVariable,
                                  nativePath(file).u8string().c_str());
    ASSERT_TRUE(runRolesTogether({"appendDebugLines:A", "appendDebugLines:B", "appendDebugLines:C"}));
    int next[3] = {};
    for (const std::string& line : looseFileLines(file)) {
        int c = 0;
        while (c < 3 && line != debugLine(std::string(1, 'A' + c), next[c]))
            ++c;
        ASSERT_LT(c, 3) << "a line torn or out of order: " << line.substr(0, 40);
        ++next[c];
    }
    EXPECT_EQ(std::vector<int>(next, next + 3), std::vector<int>(3, 200));
}
