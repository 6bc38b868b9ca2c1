// The host's diagnostics entry points (kyro/kyroint.h): each writes exactly the lines the
// C++ logger writes for the same record, and refuses null and malformed texts without
// writing anything.
#include "kyro/diagnostics/KyroDebugLog.h"
#include "kyro/diagnostics/KyroErrorBase.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/diagnostics/KyroPerfLog.h"
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

using Lines = std::vector<std::string>;

namespace {

struct ErrorCase {
    int vendor;
    int status;
    const char* file;
    int line;
    const char* version;
};
const ErrorCase kErrors[] = {
    {2, 3, "C:\\src\\mod\\main.cpp", 42, "2.1"},   // vendor and status in the table
    {1, 5, "plain.c", 7, "15.0.73.0"},
    {3, -1, "C:\\Programme\\Gr\xC3\xB6\xC3\x9F" "e\\", 0, ""},   // a folder, UTF-8
    {99, 0, nullptr, -5, nullptr},                 // unknown vendor, null texts
};

struct MessageCase {
    int vendor;
    const char* text;
};
const MessageCase kDebugLines[] = {{3, "hello"}, {6, "tab\there \xC3\xBC"}, {0, ""}, {42, "x"}};
const MessageCase kMarkers[] = {{1, "LOAD.START"}, {3, "SAVE.STOP"}, {11, ""}};

const char* const kNotUtf8 = "bad \xC3\x28 text";

TStr orEmpty(const char* text)
{
    return TStr(text != nullptr ? text : "");
}

// The stamp of a line: its first three fields (process id, date, time).
std::string stampOf(const std::string& line, char separator)
{
    std::string::size_type at = std::string::npos;
    for (int i = 0; i < 3; ++i) {
        at = line.find(separator, at + 1);
        if (at == std::string::npos)
            return "NO STAMP:" + line;
    }
    return line.substr(0, at);
}

// The lines of `path` after its first `skip`, without their stamps.
Lines bodiesAfter(const TStr& path, std::size_t skip, char separator)
{
    Lines bodies;
    const Lines lines = fileLines(path);
    for (std::size_t i = skip; i < lines.size(); ++i)
        bodies.push_back(lines[i].substr(stampOf(lines[i], separator).size() + 1));
    return bodies;
}

// The lines a file gets from now on, without their stamps.
class AddedLines {
public:
    AddedLines(const TStr& path, char separator)
        : m_path(path), m_separator(separator), m_skip(fileLines(path).size())
    {
    }
    Lines operator()() const { return bodiesAfter(m_path, m_skip, m_separator); }

private:
    TStr m_path;
    char m_separator;
    std::size_t m_skip;
};

}  // namespace

// Writes every error case through the C entry point into c.log and through a C++ logger
// with the same error table into cpp.log, in a process of its own (the process-wide error
// logger's table is the test table here), and prints the answers of the C calls.
KYRO_CHILD_ROLE(errorRecords)
{
    const TPath folder(argument.c_str());
    writeTestTable(folder / "table.xml");
    KyroLogger* shared = KyroLogger::instance_m();
    shared->errorTable().SetPathName(folder / "table.xml");
    KyroLogger cpp(false);
    cpp.setLogFileName(folder / "cpp.log");
    cpp.errorTable().SetPathName(folder / "table.xml");
    if (!shared->errorTable().Load() || !cpp.errorTable().Load())
        return 3;

    // No file named yet, and names that cannot be one.
    std::printf("unnamed=%d", kyrointLogError(3, 1, "a.c", 1, "1"));
    std::printf(" names=%d%d%d", kyrointSetErrorLogFile(nullptr), kyrointSetErrorLogFile(""),
                kyrointSetErrorLogFile((folder / kNotUtf8).utf8()));
    std::printf(" named=%d", kyrointSetErrorLogFile((folder / "c.log").utf8()));
    std::printf(" refused=%d%d", kyrointLogError(3, 1, kNotUtf8, 1, ""),
                kyrointLogError(3, 1, "a.c", 1, kNotUtf8));
    std::printf(" written=");
    for (const ErrorCase& c : kErrors) {
        std::printf("%d", kyrointLogError(c.vendor, c.status, c.file, c.line, c.version));
        cpp.startLogging();
        cpp.log(KyroErrorBase(static_cast<Kyro::VendorID>(c.vendor), c.status, orEmpty(c.file),
                              c.line, orEmpty(c.version)));
    }
    std::printf("\n");
    return 0;
}

TEST(HostDiagnostics, ErrorRecordsAreTheLoggersLines)
{
    TempFolder temp;
    std::string output;
    ASSERT_TRUE(runRole((std::string("errorRecords:") + temp.path().utf8()).c_str(), &output));
    EXPECT_EQ(output, "unnamed=0 names=000 named=1 refused=00 written=1111\n");

    const Lines c = bodiesAfter(temp / "c.log", 0, '\t');
    EXPECT_EQ(c, bodiesAfter(temp / "cpp.log", 0, '\t'));
    const std::string host = "ComputerName=" + HostFacts::hostName();
    const std::string os = "OS=" + HostFacts::platformOS();
    EXPECT_EQ(c, (Lines{
                     "Reason=Fatal error", host, os, "File=main.cpp,Line=42",
                     "VendorID=2 [Vex Companion]", "VendorError=3 [The dialog failed]",
                     "Vex Companion=2.1",
                     "Reason=Fatal error", host, os, "File=plain.c,Line=7",
                     "VendorID=1 [Kyro Integration Library]",
                     "VendorError=5 [The companion could not be reached]",
                     "Kyro Integration Library=15.0.73.0",
                     "Reason=Fatal error", host, os,
                     "File=C:\\Programme\\Gr\xC3\xB6\xC3\x9F" "e\\,Line=0", "VendorID=3",
                     "VendorError=-1",
                     "Reason=Fatal error", host, os, "File=,Line=-5", "VendorID=99",
                     "VendorError=0"}));
    // Every line of a record under one stamp: this process's id, the date, whole seconds.
    for (const std::string& line : fileLines(temp / "c.log"))
        EXPECT_TRUE(std::regex_match(stampOf(line, '\t'),
                                     std::regex("[0-9]+\t[0-9]{4}/[0-9]{2}/[0-9]{2}\t"
                                                "[0-9]{2}:[0-9]{2}:[0-9]{2}")))
            << line;
}

TEST(HostDiagnostics, DebugLinesAreTheLoggersLines)
{
    TempFolder temp;
    UserFolderInTemp redirect(temp);
    KyroDebugLogger cpp;
    {
        ScopedVariable off("KYRO_DEBUG_MODE", nullptr);
        const AddedLines added(cpp.getLogFileName(), '\t');
        EXPECT_EQ(kyrointIsDebugLogEnabled(), 0);
        EXPECT_EQ(kyrointLogDebug(3, "hidden"), 0);
        EXPECT_EQ(added(), Lines{});
    }
    ScopedVariable on("KYRO_DEBUG_MODE", "0");
    EXPECT_EQ(kyrointIsDebugLogEnabled(), 1);
    cpp.checkIfDebugLogIsEnabled();
    for (const MessageCase& m : kDebugLines) {
        const AddedLines added(cpp.getLogFileName(), '\t');
        EXPECT_EQ(kyrointLogDebug(m.vendor, m.text), 1) << m.text;
        const Lines c = added();
        EXPECT_EQ(c, logLines(cpp, KyroDebugLog(static_cast<Kyro::VendorID>(m.vendor), m.text)));
        ASSERT_EQ(c.size(), 1u) << m.text;
    }
    const AddedLines added(cpp.getLogFileName(), '\t');
    EXPECT_EQ(kyrointLogDebug(3, nullptr), 0);
    EXPECT_EQ(kyrointLogDebug(3, kNotUtf8), 0);
    EXPECT_EQ(added(), Lines{});
    EXPECT_EQ(logLines(cpp, KyroDebugLog(Kyro::kVendorHost, "hello")), Lines{"Host\thello\t"});
}

TEST(HostDiagnostics, PerformanceMarkersAreTheLoggersLines)
{
    TempFolder temp;
    UserFolderInTemp redirect(temp);
    KyroPerfLogger cpp;
    {
        ScopedVariable off("KYRO_PERF_LOG", nullptr);
        const AddedLines added(cpp.getLogFileName(), ',');
        EXPECT_EQ(kyrointIsPerfLogEnabled(), 0);
        EXPECT_EQ(kyrointLogPerfMarker(1, "HIDDEN.START", 1), 0);
        EXPECT_EQ(added(), Lines{});
    }
    ScopedVariable on("KYRO_PERF_LOG", "false");
    EXPECT_EQ(kyrointIsPerfLogEnabled(), 1);
    cpp.checkIfPerfLogIsEnabled();
    for (const MessageCase& m : kMarkers) {
        for (int precise = 0; precise < 2; ++precise) {
            const std::size_t before = fileLines(cpp.getLogFileName()).size();
            EXPECT_EQ(kyrointLogPerfMarker(m.vendor, m.text, precise), 1) << m.text;
            const Lines all = fileLines(cpp.getLogFileName());
            ASSERT_EQ(all.size(), before + 1) << m.text;
            // Stamped with milliseconds ("hh:mm:ss:ms") when asked, whole seconds otherwise.
            EXPECT_TRUE(std::regex_match(stampOf(all.back(), ','),
                                         std::regex(precise ? "[0-9]+,[0-9/]+,[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]+"
                                                            : "[0-9]+,[0-9/]+,[0-9]{2}:[0-9]{2}:[0-9]{2}")))
                << all.back();
            KyroPerfLogData data;
            data.marker = m.text;
            const Lines c = bodiesAfter(cpp.getLogFileName(), before, ',');
            EXPECT_EQ(c, logLines(cpp, KyroPerfLog(static_cast<Kyro::VendorID>(m.vendor), data), ",",
                                  precise != 0));
        }
    }
    const std::size_t before = fileLines(cpp.getLogFileName()).size();
    EXPECT_EQ(kyrointLogPerfMarker(1, nullptr, 1), 0);
    EXPECT_EQ(kyrointLogPerfMarker(1, kNotUtf8, 0), 0);
    EXPECT_EQ(fileLines(cpp.getLogFileName()).size(), before);
    KyroPerfLogData data;
    data.marker = "LOAD.START";
    const std::string facts = (HostFacts::platformOS().empty() ? "NA" : HostFacts::platformOS()) +
                              "," + HostFacts::hostName() + ",15.0.73.0,";
    EXPECT_EQ(logLines(cpp, KyroPerfLog(Kyro::kVendorKyroInt, data), ",", true),
              Lines{facts + "NA:NA,NA:NA,KyroInt,LOAD.START,"});
}
