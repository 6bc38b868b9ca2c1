// The host's error log entry points (kyro/kyroint.h): the C++ logger's lines for the same
// record; null and malformed texts refused, nothing written.
#include "kyro/diagnostics/KyroErrorBase.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/kyroint.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "LogLines.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const char* const kNotUtf8 = "bad \xC3\x28 text";

// The lines of `path` without their stamps (process id, date, time).
Lines bodiesOf(const TStr& path)
{
    Lines bodies;
    for (const std::string& line : fileLines(path))
        bodies.push_back(std::regex_replace(line, std::regex("^([^\t]*\t){3}"), ""));
    return bodies;
}

}  // namespace

// Error records through the C entry point (c.log, its answers printed) and C++ (cpp.log):
// vendor and status in the table, a folder in UTF-8, an unknown vendor with null texts.
KYRO_CHILD_ROLE(errorRecords)
{
    const TPath folder(argument.c_str());
    writeTestTable(folder / "table.xml");
    KyroLogger::instance_m()->errorTable().SetPathName(folder / "table.xml");
    KyroLogger cpp(false);
    cpp.setLogFileName(folder / "cpp.log");
    cpp.errorTable().SetPathName(folder / "table.xml");
    if (!KyroLogger::instance_m()->errorTable().Load() || !cpp.errorTable().Load())
        return 3;
    std::printf("unnamed=%d", kyrointLogError(3, 1, "a.c", 1, "1"));
    std::printf(" names=%d%d%d", kyrointSetErrorLogFile(nullptr), kyrointSetErrorLogFile(""),
                kyrointSetErrorLogFile((folder / kNotUtf8).utf8()));
    std::printf(" named=%d", kyrointSetErrorLogFile((folder / "c.log").utf8()));
    std::printf(" refused=%d%d", kyrointLogError(3, 1, kNotUtf8, 1, ""), kyrointLogError(3, 1, "a.c", 1, kNotUtf8));
    std::printf(" written=");
    const struct {
        int vendor;
        int status;
        const char* file;
        int line;
        const char* version;
    } errors[] = {{2, 3, "C:\\src\\mod\\main.cpp", 42, "2.1"},
                  {3, -1, "C:\\Programme\\Gr\xC3\xB6\xC3\x9F" "e\\", 0, ""},
                  {99, 0, nullptr, -5, nullptr}};
    for (const auto& e : errors) {
        std::printf("%d", kyrointLogError(e.vendor, e.status, e.file, e.line, e.version));
        cpp.startLogging();
        cpp.log(KyroErrorBase(static_cast<Kyro::VendorID>(e.vendor), e.status, TStr(e.file ? e.file : ""), e.line,
                              TStr(e.version ? e.version : "")));
    }
    std::printf("\n");
    return 0;
}

TEST(HostDiagnostics, ErrorRecordsAreTheLoggersLines)
{
    TempFolder temp;
    std::string output;
    ASSERT_TRUE(runRole((std::string("errorRecords:") + temp.path().utf8()).c_str(), &output));
    EXPECT_EQ(output, "unnamed=0 names=000 named=1 refused=00 written=111\n");
    const Lines c = bodiesOf(temp / "c.log");
    EXPECT_EQ(c.size(), 19u);
    EXPECT_EQ(c, bodiesOf(temp / "cpp.log"));
}
