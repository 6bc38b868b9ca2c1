// kyro-perf: pairing of START and STOP markers, what is skipped or left unpaired, the command line.
#include "PerfReport.h"

#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

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

// "<process>:<name>:<duration>@<lane>" of every operation, in the report's order.
std::string operations(const Report& report)
{
    std::string list;
    for (const kyro::perf::Operation& o : report.operations)
        list += (list.empty() ? "" : " ") + std::to_string(o.processId) + ":" + o.name + ":" +
                std::to_string(o.stopMs - o.startMs) + "@" + std::to_string(o.lane);
    return list;
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

// Nested, each below the one enclosing it (7); one name within itself, the innermost start with
// the first stop (8); each stop with its own process's start (2, 3); over midnight (4).
TEST(KyroPerf, Pairing)
{
    const Report report = analyseText(
        line(7, "10:00:00:0", "OUTER.START") + line(7, "10:00:00:5", "INNER.START") + line(7, "10:00:00:25", "INNER.STOP") +
        line(7, "10:00:00:30", "INNER.START") + line(7, "10:00:00:40", "INNER.STOP") + line(7, "10:00:01:0", "OUTER.STOP") +
        line(8, "10:00:00:0", "A.START") + line(8, "10:00:00:10", "A.START") + line(8, "10:00:00:20", "A.STOP") +
        line(8, "10:00:00:100", "A.STOP") + line(2, "10:00:00:0", "LOAD.START") + line(3, "10:00:00:5", "LOAD.START") +
        line(2, "10:00:00:30", "LOAD.STOP") + line(3, "10:00:00:12", "LOAD.STOP") +
        line(4, "23:59:59:950", "SAVE.START", "2026/01/31") + line(4, "00:00:00:7", "SAVE.STOP", "2026/02/01") +
        line(4, "00:00:01", "LOAD.START", "2026/02/01") + line(4, "00:00:01:250", "LOAD.STOP", "2026/02/01"));
    EXPECT_EQ(operations(report),
              "2:LOAD:30@0 3:LOAD:7@0 4:SAVE:57@0 4:LOAD:250@0 7:OUTER:1000@0 7:INNER:20@1 7:INNER:10@1 8:A:100@0 8:A:10@1");
    EXPECT_TRUE(report.unmatchedStarts.empty() && report.unmatchedStops.empty());
}

TEST(KyroPerf, UnpairedAndDamagedLinesAndLineEnds)
{
    const std::string damaged =
        line(5, "10:00:00:0", "LOST.STOP") + line(5, "10:00:00:1", "OPEN.START") + "\n" +   // 1-3
        "garbage without commas\n" + line(5, "25:00:00:4", "X.START") +                    // 4-5
        "5,2026/01/05,10:00:00:5,a,b,c,d,e,f,NA,X.START\n" +                               // 6: no final separator
        line(5, "10:00:00:6", "NA") + line(5, "10:00:00:7", ".START") +                     // 7-8
        "5,2026/01/05,10:00:00:8,6.1,VM,15.0.73.0,a,b:c,d:e,f:g,KyroInt,IN.START,\n" +     // 9: commas in fields
        line(5, "10:00:00:18", "IN.STOP") + line(5, "10:00:00:20", "BACK.START") + line(5, "09:00:00:0", "BACK.STOP") +
        std::string(200000, 'x') + "\n";   // far longer than any record: skipped as one line
    const Report report = analyseText(damaged);
    EXPECT_EQ(operations(report), "5:IN:10@0");
    const std::string text = kyro::perf::formatReport(report);
    EXPECT_NE(text.find("Unmatched starts: 1\n  OPEN.START  process 5  2026/01/05 10:00:00.001  line 2\n"
                        "Unmatched stops: 1\n  LOST.STOP  process 5  2026/01/05 10:00:00.000  line 1\n"
                        "Pairs stamped backwards (clock set back), left out: 1\n"
                        "Records without a START or STOP marker: 2\nSkipped lines: 4\n"),
              std::string::npos)
        << text;
    // CR LF, a byte-order mark, no last line end, a stream read in pieces: the same report.
    std::string crlf = "\xEF\xBB\xBF";
    for (char c : damaged)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    crlf.resize(crlf.size() - 2);
    std::istringstream stream(crlf);
    Report fromStream;
    ASSERT_TRUE(kyro::perf::analyseStream(stream, &fromStream));
    EXPECT_EQ(kyro::perf::formatReport(fromStream), text);
}

TEST(KyroPerf, CommandLineAndTimeline)
{
    TempFolder temp;
    const std::string logPath = nativePath(temp / "perf.csv").string(), svgPath = nativePath(temp / "t.svg").string();
    writeFileBytes(temp / "perf.csv", line(21, "08:00:00:0", "RUN.START") + line(21, "08:00:00:100", "A<&>.START") +
                                          line(21, "08:00:00:300", "A<&>.STOP") + line(21, "08:00:01:0", "RUN.STOP") +
                                          line(22, "08:00:00:500", "RUN.START") +
                                          line(22, "08:00:00:900", "RUN.STOP") + "\xC3\x28\x01,broken\n");
    std::string out, err;
    // Bad usage: 2, the usage line on the error stream, nothing else.
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--bogus"}, {"--process", "12a"}, {logPath, logPath}}) {
        EXPECT_EQ(run(args, &out, &err), 2) << args[0];
        EXPECT_TRUE(out.empty() && err.find("Usage: kyro-perf") != std::string::npos) << args[0] << err;
    }
    // The table, largest total first; the timeline's texts escaped.
    ASSERT_EQ(run({"--svg", svgPath, "--process", "21", logPath}, &out, &err), 0) << err;
    EXPECT_EQ(out, "Performance log: " + logPath +
                       "\n\nOperation  Count  Median ms  Max ms  Total ms\n"
                       "RUN            1     1000.0    1000      1000\n"
                       "A<&>           1      200.0     200       200\n"
                       "\nUnmatched starts: 0\nUnmatched stops: 0\nSkipped lines: 1\nTimeline written to " +
                       svgPath + "\n");
    EXPECT_NE(readFileBytes(temp / "t.svg").find("<title>A&lt;&amp;&gt;: 200 ms"), std::string::npos);
}
