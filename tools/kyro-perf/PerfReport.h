// kyro-perf's logic: reads a performance log (KyroPerfLog.csv), pairs every "X.START"
// marker with the "X.STOP" of the same process, and reports the timed operations as a
// table and as an SVG timeline.
//
// A marker line, as KyroPerfLog writes it (the stamp with milliseconds, unpadded):
//
//   <pid>,<yyyy/mm/dd>,<hh:mm:ss:ms>,<system>,<host>,<version>,<f1>:<f2>,<f3>:<f4>,
//   <component>,<marker>,
//
// Nothing in a line is escaped, so the fields in the middle may hold commas: the stamp is
// read from the front and the marker from the back. The records carry no thread, so
// markers pair per process and name, the innermost (latest) open start first.
#ifndef KYRO_TOOLS_KYRO_PERF_PERFREPORT_H
#define KYRO_TOOLS_KYRO_PERF_PERFREPORT_H

#include <cstddef>
#include <istream>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kyro::perf {

// One timed-operation marker.
struct Marker {
    unsigned long long processId = 0;
    long long stampMs = 0;     // local time, milliseconds since 1970/01/01 (no time zone)
    std::string stamp;         // as it reads: 2026/01/05 09:05:03.007
    std::string name;          // the operation, without ".START" or ".STOP"
    bool isStart = false;
};

enum class LineKind {
    Blank,         // nothing but white space
    Marker,        // a stamped record whose marker ends with ".START" or ".STOP"
    OtherRecord,   // a stamped record with some other marker
    Unreadable     // truncated or damaged
};

// Reads one line, with or without its line end (LF or CR LF). `marker` is filled for
// LineKind::Marker.
LineKind parseLine(std::string_view line, Marker* marker);

// One START paired with its STOP.
struct Operation {
    std::string name;
    unsigned long long processId = 0;
    long long startMs = 0;
    long long stopMs = 0;
    std::string startStamp;
    int lane = 0;   // row within its process's timeline: 0 outermost, nested ones below
};

struct Unpaired {
    Marker marker;
    std::size_t lineNumber = 0;   // 1-based
};

struct Statistics {
    std::string name;
    std::size_t count = 0;
    double medianMs = 0;
    long long maxMs = 0;
    long long totalMs = 0;
};

struct Report {
    std::vector<Operation> operations;      // by process, then by start
    std::vector<Statistics> statistics;     // largest total first
    std::vector<Unpaired> unmatchedStarts;  // in line order
    std::vector<Unpaired> unmatchedStops;   // in line order
    std::size_t markerLines = 0;
    std::size_t otherRecords = 0;           // records without a START or STOP marker
    std::size_t skippedLines = 0;           // unreadable lines
    std::size_t backwardPairs = 0;          // STOP stamped before its START (clock set
                                            // back): paired, but not in the statistics
};

// Pairs markers line by line. Lines of other processes than `onlyProcess` (when set) are
// passed over without counting.
class Analyser {
public:
    Analyser() = default;
    explicit Analyser(unsigned long long onlyProcess) : m_filter(true), m_only(onlyProcess) {}

    void addLine(std::string_view line);
    // A line too long to be a record, read no further than its start.
    void addOverlongLine();
    // The report; the analyser is spent afterwards.
    Report finish();

private:
    struct Pending {
        Marker marker;
        std::size_t lineNumber;
    };

    bool m_filter = false;
    unsigned long long m_only = 0;
    std::size_t m_lineNumber = 0;
    Report m_report;
    std::map<std::pair<unsigned long long, std::string>, std::vector<Pending>> m_open;
};

// Lines longer than this are counted as skipped without being kept.
constexpr std::size_t kMaxLineLength = 64 * 1024;

Report analyseText(std::string_view text, const unsigned long long* onlyProcess = nullptr);
// Reads `in` to its end. False on a read error.
bool analyseStream(std::istream& in, Report* report,
                   const unsigned long long* onlyProcess = nullptr);

// The table of operations and the lines about unpaired markers and skipped lines.
std::string formatReport(const Report& report);
// A self-contained SVG document: one row per process, one bar per operation.
std::string renderSvg(const Report& report);

// Where the library writes the current user's performance log.
std::string defaultLogPath();

// The whole program: kyro-perf [--svg out.svg] [--process PID] [KyroPerfLog.csv].
// 0 on success, 1 when a file cannot be read or written, 2 for bad usage.
int runCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kyro::perf

#endif
