// kyro-perf: pairing of START and STOP markers, the statistics, what is skipped or left
// unpaired, line ends, the command line and the SVG timeline, and a log the library wrote.
#include "PerfReport.h"

#include "FileBytes.h"
#include "ScopedVariable.h"
#include "TempFolder.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/diagnostics/KyroPerfLog.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

using kyro::perf::Operation;
using kyro::perf::Report;
using kyro::perf::analyseText;

namespace {

// A marker line as KyroPerfLog writes it, with "\n" as line end.
std::string line(unsigned pid, const std::string& time, const std::string& marker,
                 const std::string& date = "2026/01/05")
{
    return std::to_string(pid) + "," + date + "," + time +
           ",6.1.7601.Service Pack 1,VM,15.0.73.0,NA:NA,NA:NA,KyroInt," + marker + ",\n";
}

// name:duration of every operation, in the report's order.
std::vector<std::string> durations(const Report& report)
{
    std::vector<std::string> list;
    for (const Operation& o : report.operations)
        list.push_back(o.name + ":" + std::to_string(o.stopMs - o.startMs));
    return list;
}

std::vector<int> lanes(const Report& report)
{
    std::vector<int> list;
    for (const Operation& o : report.operations)
        list.push_back(o.lane);
    return list;
}

// Whether the table has a row for `name` with `count` operations.
bool hasRow(const std::string& table, const std::string& name, std::size_t count)
{
    return std::regex_search(table, std::regex("\n" + name + " +" + std::to_string(count) + " +[0-9]"));
}

int run(const std::vector<std::string>& args, std::string* out, std::string* err)
{
    std::ostringstream o, e;
    const int code = kyro::perf::runCommand(args, o, e);
    *out = o.str();
    *err = e.str();
    return code;
}

}  // namespace

TEST(KyroPerf, PairsNestedRepeatedAndInterleaved)
{
    // Nested operations of different names, each enclosing one below it on the timeline.
    Report nested = analyseText(line(7, "10:00:00:0", "OUTER.START") + line(7, "10:00:00:5", "INNER.START") +
                                line(7, "10:00:00:25", "INNER.STOP") + line(7, "10:00:00:30", "INNER.START") +
                                line(7, "10:00:00:40", "INNER.STOP") + line(7, "10:00:01:0", "OUTER.STOP"));
    EXPECT_EQ(durations(nested), (std::vector<std::string>{"OUTER:1000", "INNER:20", "INNER:10"}));
    EXPECT_EQ(lanes(nested), (std::vector<int>{0, 1, 1}));

    // One name within itself: the innermost start goes with the first stop.
    Report recursive = analyseText(line(7, "10:00:00:0", "A.START") + line(7, "10:00:00:10", "A.START") +
                                   line(7, "10:00:00:20", "A.STOP") + line(7, "10:00:00:100", "A.STOP"));
    EXPECT_EQ(durations(recursive), (std::vector<std::string>{"A:100", "A:10"}));
    EXPECT_EQ(lanes(recursive), (std::vector<int>{0, 1}));

    // Two processes with the same operation at once: each stop finds its own process's start.
    Report interleaved = analyseText(line(2, "10:00:00:0", "LOAD.START") + line(3, "10:00:00:5", "LOAD.START") +
                                     line(2, "10:00:00:30", "LOAD.STOP") + line(3, "10:00:00:12", "LOAD.STOP"));
    ASSERT_EQ(interleaved.operations.size(), 2u);
    EXPECT_EQ(interleaved.operations[0].processId, 2u);
    EXPECT_EQ(interleaved.operations[0].stopMs - interleaved.operations[0].startMs, 30);
    EXPECT_EQ(interleaved.operations[1].processId, 3u);
    EXPECT_EQ(interleaved.operations[1].stopMs - interleaved.operations[1].startMs, 7);
    EXPECT_EQ(lanes(interleaved), (std::vector<int>{0, 0}));
    EXPECT_TRUE(interleaved.unmatchedStarts.empty());
    EXPECT_TRUE(interleaved.unmatchedStops.empty());

    // Milliseconds are unpadded; an operation over midnight and the month's end still counts
    // its real length; a record stamped in whole seconds counts from the second's start.
    Report overMidnight = analyseText(line(4, "23:59:59:950", "SAVE.START", "2026/01/31") +
                                      line(4, "00:00:00:7", "SAVE.STOP", "2026/02/01") +
                                      line(4, "00:00:01", "LOAD.START", "2026/02/01") +
                                      line(4, "00:00:01:250", "LOAD.STOP", "2026/02/01"));
    EXPECT_EQ(durations(overMidnight), (std::vector<std::string>{"SAVE:57", "LOAD:250"}));

    // Only the chosen process.
    const unsigned long long only = 3;
    Report filtered = analyseText(line(2, "10:00:00:0", "LOAD.START") + line(3, "10:00:00:5", "LOAD.START") +
                                  line(2, "10:00:00:30", "LOAD.STOP") + line(3, "10:00:00:12", "LOAD.STOP") +
                                  line(2, "10:00:00:40", "LOST.STOP"),
                                  &only);
    EXPECT_EQ(durations(filtered), (std::vector<std::string>{"LOAD:7"}));
    EXPECT_TRUE(filtered.unmatchedStops.empty());
}

TEST(KyroPerf, StatisticsAndTable)
{
    std::string log;
    const char* const times[][2] = {{"10:00:00:0", "10:00:00:40"}, {"10:00:01:0", "10:00:01:10"},
                                    {"10:00:02:0", "10:00:02:30"}, {"10:00:03:0", "10:00:03:20"}};
    for (const auto& pair : times)
        log += line(9, pair[0], "OPEN.START") + line(9, pair[1], "OPEN.STOP");
    log += line(9, "10:00:04:0", "CLOSE.START") + line(9, "10:00:04:150", "CLOSE.STOP");
    log += line(9, "10:00:05:0", "PING.START") + line(9, "10:00:05:3", "PING.STOP");
    const Report report = analyseText(log);

    ASSERT_EQ(report.statistics.size(), 3u);
    // Largest total first.
    EXPECT_EQ(report.statistics[0].name, "CLOSE");
    EXPECT_EQ(report.statistics[1].name, "OPEN");
    EXPECT_EQ(report.statistics[1].count, 4u);
    EXPECT_DOUBLE_EQ(report.statistics[1].medianMs, 25.0);   // of 10, 20, 30, 40
    EXPECT_EQ(report.statistics[1].maxMs, 40);
    EXPECT_EQ(report.statistics[1].totalMs, 100);
    EXPECT_EQ(report.statistics[2].name, "PING");
    EXPECT_DOUBLE_EQ(report.statistics[2].medianMs, 3.0);
    EXPECT_EQ(report.markerLines, 12u);

    EXPECT_EQ(kyro::perf::formatReport(report),
              "Operation  Count  Median ms  Max ms  Total ms\n"
              "CLOSE          1      150.0     150       150\n"
              "OPEN           4       25.0      40       100\n"
              "PING           1        3.0       3         3\n"
              "\n"
              "Unmatched starts: 0\n"
              "Unmatched stops: 0\n"
              "Skipped lines: 0\n");
    EXPECT_EQ(kyro::perf::formatReport(analyseText("")),
              "No paired operations.\n\nUnmatched starts: 0\nUnmatched stops: 0\nSkipped lines: 0\n");
}

TEST(KyroPerf, UnmatchedAndDamagedLines)
{
    const std::string log =
        line(5, "10:00:00:0", "LOST.STOP") +                       // 1: no start before it
        line(5, "10:00:00:1", "OPEN.START") +                      // 2: never stopped
        "\n" +                                                     // 3: blank, not counted
        "garbage without commas\n" +                               // 4
        "5,2026/01/05,10:00:0\n" +                                 // 5: truncated stamp
        "5,2026/01/05,10:00:00:2,6.1.7601.,VM,15.0.73.0,NA:NA\n" + // 6: truncated record
        line(5, "10:00:00:3", "X.START").substr(0, 60) + "\n" +   // 7: cut before the marker
        line(5, "10:00:00:4", "X.START", "2026/13/01") +           // 8: no such month
        line(5, "25:00:00:4", "X.START") +                         // 9: no such hour
        "5,2026/01/05,10:00:00:5,a,b,c,d,e,f,NA,X.START\n" +        // 10: no final separator
        line(5, "10:00:00:6", "NA") +                              // 11: a record, not a marker
        line(5, "10:00:00:7", ".START") +                          // 12: a marker without a name
        "   \t \n" +                                               // 13: blank
        "5,2026/01/05,10:00:00:8,6.1,VM,15.0.73.0,a,b:c,d:e,f:g,KyroInt,IN.START,\n" +   // 14
        line(5, "10:00:00:18", "IN.STOP") +                        // 15
        line(5, "10:00:00:20", "BACK.START") + line(5, "09:00:00:0", "BACK.STOP");   // 16, 17
    const Report report = analyseText(log);

    // Fields with commas in them still leave the stamp and the marker readable.
    EXPECT_EQ(durations(report), (std::vector<std::string>{"IN:10"}));
    ASSERT_EQ(report.unmatchedStops.size(), 1u);
    EXPECT_EQ(report.unmatchedStops[0].marker.name, "LOST");
    EXPECT_EQ(report.unmatchedStops[0].lineNumber, 1u);
    ASSERT_EQ(report.unmatchedStarts.size(), 1u);
    EXPECT_EQ(report.unmatchedStarts[0].marker.name, "OPEN");
    EXPECT_EQ(report.unmatchedStarts[0].lineNumber, 2u);
    EXPECT_EQ(report.skippedLines, 7u);
    EXPECT_EQ(report.otherRecords, 2u);
    EXPECT_EQ(report.backwardPairs, 1u);

    const std::string text = kyro::perf::formatReport(report);
    EXPECT_NE(text.find("Unmatched starts: 1\n  OPEN.START  process 5  2026/01/05 10:00:00.001  line 2\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("Unmatched stops: 1\n  LOST.STOP  process 5  2026/01/05 10:00:00.000  line 1\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("Pairs stamped backwards (clock set back), left out: 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Records without a START or STOP marker: 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Skipped lines: 7\n"), std::string::npos) << text;

    // Many unpaired markers are counted, the first ones listed.
    std::string many;
    for (int i = 0; i < 25; ++i)
        many += line(5, "10:00:00:0", "OPEN.START");
    const std::string manyText = kyro::perf::formatReport(analyseText(many));
    EXPECT_NE(manyText.find("Unmatched starts: 25\n"), std::string::npos);
    EXPECT_NE(manyText.find("  ... and 5 more\n"), std::string::npos) << manyText;
}

TEST(KyroPerf, LineEndsByteOrderMarkAndLongFiles)
{
    std::string lf;
    for (int i = 0; i < 3000; ++i) {
        const std::string second = (i % 60 < 10 ? "0" : "") + std::to_string(i % 60);
        lf += line(11, "10:00:" + second + ":1", "STEP.START") + line(11, "10:00:" + second + ":" + std::to_string(1 + i % 7), "STEP.STOP");
    }
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const Report fromLf = analyseText(lf);
    ASSERT_EQ(fromLf.statistics.size(), 1u);
    EXPECT_EQ(fromLf.statistics[0].count, 3000u);
    EXPECT_EQ(fromLf.skippedLines, 0u);

    // CR LF, a byte-order mark and a last line without its end give the same report; so
    // does reading the file in pieces, whose lines cross the pieces' borders.
    const std::string withBom = "\xEF\xBB\xBF" + crlf.substr(0, crlf.size() - 2);
    std::istringstream stream(withBom);
    Report fromStream;
    ASSERT_TRUE(kyro::perf::analyseStream(stream, &fromStream));
    for (const Report* other : {&fromStream}) {
        ASSERT_EQ(other->statistics.size(), 1u);
        EXPECT_EQ(other->statistics[0].count, 3000u);
        EXPECT_EQ(other->statistics[0].totalMs, fromLf.statistics[0].totalMs);
        EXPECT_EQ(other->statistics[0].maxMs, 6);
        EXPECT_EQ(other->skippedLines, 0u);
    }
    EXPECT_EQ(durations(analyseText(withBom)), durations(fromLf));

    // A line far longer than any record is skipped as one line, in text and from a stream.
    const std::string huge = line(11, "10:00:00:0", "A.START") + std::string(200000, 'x') + "\n" +
                             line(11, "10:00:00:9", "A.STOP");
    std::istringstream hugeStream(huge);
    Report fromHuge;
    ASSERT_TRUE(kyro::perf::analyseStream(hugeStream, &fromHuge));
    for (const Report& report : {analyseText(huge), fromHuge}) {
        EXPECT_EQ(durations(report), (std::vector<std::string>{"A:9"}));
        EXPECT_EQ(report.skippedLines, 1u);
    }
}

TEST(KyroPerf, CommandLineAndTimeline)
{
    TempFolder temp;
    const std::string logPath = nativePath(temp / "perf.csv").string();
    writeFileBytes(temp / "perf.csv",
                   line(21, "08:00:00:0", "RUN.START") + line(21, "08:00:00:100", "A<&>\"'.START") +
                   line(21, "08:00:00:300", "A<&>\"'.STOP") + line(21, "08:00:01:0", "RUN.STOP") +
                   line(22, "08:00:00:500", "RUN.START") + line(22, "08:00:00:900", "RUN.STOP") +
                   std::string("\xC3\x28\x01,broken\n"));
    std::string out, err;

    EXPECT_EQ(run({"--help"}, &out, &err), 0);
    EXPECT_EQ(out.rfind("Usage: kyro-perf [--svg out.svg] [--process PID] [KyroPerfLog.csv]\n", 0), 0u) << out;
    EXPECT_EQ(err, "");

    // Bad usage: 2, a message and the usage line on the error stream, nothing else.
    const std::vector<std::vector<std::string>> badUsages = {
        {"--bogus"}, {"--svg"}, {"--process"}, {"--process", "12a"}, {logPath, logPath}};
    for (const auto& args : badUsages) {
        EXPECT_EQ(run(args, &out, &err), 2) << args[0];
        EXPECT_EQ(out, "") << args[0];
        EXPECT_NE(err.find("Usage: kyro-perf"), std::string::npos) << args[0];
    }

    // A file that cannot be read: 1.
    const std::string missing = nativePath(temp / "missing.csv").string();
    EXPECT_EQ(run({missing}, &out, &err), 1);
    EXPECT_EQ(err, "kyro-perf: cannot read " + missing + "\n");
    EXPECT_EQ(run({nativePath(temp.path()).string()}, &out, &err), 1);

    // The table, and the timeline with one bar per operation.
    const std::string svgPath = nativePath(temp / "timeline.svg").string();
    ASSERT_EQ(run({"--svg", svgPath, logPath}, &out, &err), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(out.rfind("Performance log: " + logPath + "\n\nOperation", 0), 0u) << out;
    EXPECT_TRUE(hasRow(out, "RUN", 2)) << out;
    EXPECT_NE(out.find("Skipped lines: 1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Timeline written to " + svgPath + "\n"), std::string::npos) << out;

    const std::string svg = readFileBytes(temp / "timeline.svg");
    EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    const std::regex bar("<rect x=\"([0-9.]+)\" y=\"([0-9.]+)\" width=\"([0-9.]+)\"");
    std::vector<std::string> bars;
    for (std::sregex_iterator it(svg.begin(), svg.end(), bar), end; it != end; ++it)
        bars.push_back((*it)[0]);
    EXPECT_EQ(bars.size(), 3u) << svg;
    EXPECT_NE(svg.find("process 21"), std::string::npos);
    EXPECT_NE(svg.find("process 22"), std::string::npos);
    EXPECT_NE(svg.find("<title>A&lt;&amp;&gt;&quot;&apos;: 200 ms"), std::string::npos) << svg;
    EXPECT_EQ(svg.find("A<&"), std::string::npos);

    // Only one process; then a timeline that cannot be written: 1.
    ASSERT_EQ(run({"--process", "22", logPath}, &out, &err), 0);
    EXPECT_TRUE(hasRow(out, "RUN", 1)) << out;
    EXPECT_EQ(out.find("A<&"), std::string::npos) << out;
    const std::string badSvg = nativePath(temp / "no such folder" / "t.svg").string();
    EXPECT_EQ(run({"--svg", badSvg, logPath}, &out, &err), 1);
    EXPECT_EQ(err, "kyro-perf: cannot write " + badSvg + "\n");

    // Names that are not UTF-8 or hold control characters still give a well-formed file.
    const std::string odd = kyro::perf::renderSvg(
        analyseText(line(1, "08:00:00:0", "\xC3\x28\x01\xED\xA0\x80X.START") +
                    line(1, "08:00:00:5", "\xC3\x28\x01\xED\xA0\x80X.STOP")));
    EXPECT_NE(odd.find("<title>?(????X: 5 ms"), std::string::npos) << odd;
    EXPECT_NE(kyro::perf::renderSvg(Report()).find("No paired operations"), std::string::npos);
}

TEST(KyroPerf, ReadsALogTheLibraryWrote)
{
    TempFolder temp;
    // On POSIX the user's folder moves into the temporary one; Windows keeps its own.
    ScopedVariable folder("XDG_DATA_HOME", nativePath(temp.path()).string().c_str());
    ScopedVariable perfOn("KYRO_PERF_LOG", "1");

    const auto mark = [](KyroPerfLogger& logger, const char* marker) {
        KyroPerfLogData data;
        data.field1 = "job";
        data.field2 = "";
        data.marker = marker;
        logger.startLoggingWMilliSecs();
        logger.log(KyroPerfLog(Kyro::VendorID(1), data));
    };
    const auto writeLog = [&mark](KyroPerfLogger& logger) {
        mark(logger, "KYROINITIALIZE.START");
        mark(logger, "KYROINITIALIZE.STOP");
        mark(logger, "LOADTABLE.START");
        for (int i = 0; i < 3; ++i) {
            mark(logger, "PARSE.START");
            mark(logger, "PARSE.STOP");
        }
        mark(logger, "LOADTABLE.STOP");
        mark(logger, "DIALOG.START");
    };

    KyroPerfLogger logger;
    ASSERT_TRUE(logger.isPerfLogEnabled());
    const std::string defaultPath = logger.getLogFileName().utf8();
    EXPECT_EQ(kyro::perf::defaultLogPath(), defaultPath);
    logger.setLogFileName(temp / "KyroPerfLog.csv");
    writeLog(logger);

    std::string out, err;
    ASSERT_EQ(run({nativePath(temp / "KyroPerfLog.csv").string()}, &out, &err), 0) << err;
    EXPECT_EQ(err, "");
    const std::string pid = std::to_string(kyro::platform::currentProcessId());
    EXPECT_TRUE(hasRow(out, "PARSE", 3)) << out;
    EXPECT_TRUE(hasRow(out, "LOADTABLE", 1)) << out;
    EXPECT_TRUE(hasRow(out, "KYROINITIALIZE", 1)) << out;
    EXPECT_NE(out.find("Unmatched starts: 1\n  DIALOG.START  process " + pid + "  "), std::string::npos) << out;
    EXPECT_NE(out.find("Unmatched stops: 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Skipped lines: 0\n"), std::string::npos) << out;

    // Without a file, the user's own log (only where the test can move that folder).
    const std::string inTemp = std::string(temp.path().utf8()) + "\\";
    if (defaultPath.compare(0, inTemp.size(), inTemp) == 0) {
        KyroPerfLogger user;
        writeLog(user);
        ASSERT_EQ(run({}, &out, &err), 0) << err;
        EXPECT_EQ(out.rfind("Performance log: " + nativePath(defaultPath.c_str()).string() + "\n", 0), 0u) << out;
        EXPECT_TRUE(hasRow(out, "PARSE", 3)) << out;
    }
}
