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

namespace {

using Lines = std::vector<std::string>;

const char* const kNotUtf8 = "bad \xC3\x28 text";

// The stamp of a line: its first three fields (process id, date, time).
std::string stampOf(const std::string& line, char separator)
{
    std::string::size_type at = std::string::npos;
    for (int i = 0; i < 3 && (at = line.find(separator, at + 1)) != std::string::npos; ++i) {
    }
    return at == std::string::npos ? "NO STAMP:" + line : line.substr(0, at);
}

// The lines of `path` from line `from` on, without their stamps.
Lines bodiesFrom(const TStr& path, std::size_t from, char separator)
{
    Lines bodies;
    const Lines lines = fileLines(path);
    for (std::size_t i = from; i < lines.size(); ++i)
        bodies.push_back(lines[i].substr(stampOf(lines[i], separator).size() + 1));
    return bodies;
}

const struct ErrorCase {
    int vendor;
    int status;
    const char* file;
    int line;
    const char* version;
} kErrors[] = {
    {2, 3, "C:\\src\\mod\\main.cpp", 42, "2.1"},   // vendor and status in the table
    {1, 5, "plain.c", 7, "15.0.73.0"},
    {3, -1, "C:\\Programme\\Gr\xC3\xB6\xC3\x9F" "e\\", 0, ""},   // a folder, UTF-8
    {99, 0, nullptr, -5, nullptr},                                // unknown vendor, null texts
};

TStr orEmpty(const char* text)
{
    return TStr(text != nullptr ? text : "");
}

}  // namespace

// Every error case through the C entry point (c.log, its answers printed) and C++ (cpp.log).
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
    std::printf(" refused=%d%d", kyrointLogError(3, 1, kNotUtf8, 1, ""), kyrointLogError(3, 1, "a.c", 1, kNotUtf8));
    std::printf(" written=");
    for (const ErrorCase& c : kErrors) {
        std::printf("%d", kyrointLogError(c.vendor, c.status, c.file, c.line, c.version));
        cpp.startLogging();
        cpp.log(KyroErrorBase(static_cast<Kyro::VendorID>(c.vendor), c.status, orEmpty(c.file), c.line,
                              orEmpty(c.version)));
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
    const Lines c = bodiesFrom(temp / "c.log", 0, '\t');
    EXPECT_EQ(c, bodiesFrom(temp / "cpp.log", 0, '\t'));
    const std::string host = "ComputerName=" + HostFacts::hostName(), os = "OS=" + HostFacts::platformOS();
    EXPECT_EQ(c, (Lines{"Reason=Fatal error", host, os, "File=main.cpp,Line=42", "VendorID=2 [Vex Companion]",
                        "VendorError=3 [The dialog failed]", "Vex Companion=2.1",
                        "Reason=Fatal error", host, os, "File=plain.c,Line=7", "VendorID=1 [Kyro Integration Library]",
                        "VendorError=5 [The companion could not be reached]", "Kyro Integration Library=15.0.73.0",
                        "Reason=Fatal error", host, os, "File=C:\\Programme\\Gr\xC3\xB6\xC3\x9F" "e\\,Line=0",
                        "VendorID=3", "VendorError=-1",
                        "Reason=Fatal error", host, os, "File=,Line=-5", "VendorID=99", "VendorError=0"}));
    // Every line of a record under one stamp: this process's id, the date, whole seconds.
    for (const std::string& line : fileLines(temp / "c.log"))
        EXPECT_TRUE(std::regex_match(stampOf(line, '\t'),
                                     std::regex("[0-9]+\t[0-9]{4}/[0-9]{2}/[0-9]{2}\t[0-9]{2}:[0-9]{2}:[0-9]{2}")))
            << line;
}

TEST(HostDiagnostics, DebugLinesAndPerformanceMarkersAreTheLoggersLines)
{
    TempFolder temp;
    UserFolderInTemp redirect(temp);
    KyroDebugLogger debug;
    KyroPerfLogger perf;
    const TStr debugFile = debug.getLogFileName(), perfFile = perf.getLogFileName();
    const auto lineCount = [&] { return fileLines(debugFile).size() + fileLines(perfFile).size(); };
    {
        const std::size_t lines = lineCount();
        ScopedVariable debugOff("KYRO_DEBUG_MODE", nullptr), perfOff("KYRO_PERF_LOG", nullptr);
        EXPECT_EQ(kyrointIsDebugLogEnabled(), 0);
        EXPECT_EQ(kyrointIsPerfLogEnabled(), 0);
        EXPECT_EQ(kyrointLogDebug(3, "hidden"), 0);
        EXPECT_EQ(kyrointLogPerfMarker(1, "HIDDEN.START", 1), 0);
        EXPECT_EQ(lineCount(), lines);
    }
    ScopedVariable debugOn("KYRO_DEBUG_MODE", "0"), perfOn("KYRO_PERF_LOG", "false");   // any value is on
    EXPECT_EQ(kyrointIsDebugLogEnabled(), 1);
    EXPECT_EQ(kyrointIsPerfLogEnabled(), 1);
    debug.checkIfDebugLogIsEnabled();
    perf.checkIfPerfLogIsEnabled();
    const struct {
        int vendor;
        const char* text;
        int precise;   // -1: a debug line
    } rows[] = {{3, "hello", -1}, {6, "tab\there \xC3\xBC", -1}, {0, "", -1},     {42, "x", -1},
                {1, "LOAD.START", 0}, {1, "LOAD.START", 1}, {3, "SAVE.STOP", 0}, {11, "", 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const TStr& file = row.precise < 0 ? debugFile : perfFile;
        const char separator = row.precise < 0 ? '\t' : ',';
        const std::size_t before = fileLines(file).size();
        EXPECT_EQ(row.precise < 0 ? kyrointLogDebug(row.vendor, row.text)
                                  : kyrointLogPerfMarker(row.vendor, row.text, row.precise),
                  1);
        const Lines all = fileLines(file), c = bodiesFrom(file, before, separator);
        ASSERT_EQ(all.size(), before + 1);
        // Stamped with milliseconds ("hh:mm:ss:ms") when asked, whole seconds otherwise.
        EXPECT_TRUE(std::regex_match(stampOf(all.back(), separator),
                                     std::regex(std::string("[0-9]+") + separator + "[0-9/]{10}" + separator +
                                                "[0-9]{2}:[0-9]{2}:[0-9]{2}" + (row.precise == 1 ? ":[0-9]+" : ""))))
            << all.back();
        KyroPerfLogData data;
        data.marker = row.text;
        const auto vendor = static_cast<Kyro::VendorID>(row.vendor);
        EXPECT_EQ(c, row.precise < 0 ? logLines(debug, KyroDebugLog(vendor, row.text))
                                     : logLines(perf, KyroPerfLog(vendor, data), ",", row.precise != 0));
    }
    const std::size_t lines = lineCount();
    EXPECT_EQ(kyrointLogDebug(3, nullptr), 0);
    EXPECT_EQ(kyrointLogDebug(3, kNotUtf8), 0);
    EXPECT_EQ(kyrointLogPerfMarker(1, nullptr, 1), 0);
    EXPECT_EQ(kyrointLogPerfMarker(1, kNotUtf8, 0), 0);
    EXPECT_EQ(lineCount(), lines);
    EXPECT_EQ(logLines(debug, KyroDebugLog(Kyro::kVendorHost, "hello")), Lines{"Host\thello\t"});
    KyroPerfLogData data;
    data.marker = "LOAD.START";
    EXPECT_EQ(logLines(perf, KyroPerfLog(Kyro::kVendorKyroInt, data), ",", true),
              Lines{(HostFacts::platformOS().empty() ? "NA" : HostFacts::platformOS()) + "," + HostFacts::hostName() +
                    ",15.0.73.0,NA:NA,NA:NA,KyroInt,LOAD.START,"});
}
