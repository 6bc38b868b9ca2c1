#include "PerfReport.h"

#include "kyro/diagnostics/KyroLogger.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace kyro::perf {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kStartSuffix = ".START";
constexpr std::string_view kStopSuffix = ".STOP";
// Unpaired markers listed one by one; beyond that only counted.
constexpr std::size_t kListedUnpaired = 20;

bool endsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A decimal number of `minDigits` to `maxDigits` digits, nothing else.
bool readNumber(std::string_view text, std::size_t minDigits, std::size_t maxDigits,
                unsigned long long* value)
{
    if (text.size() < minDigits || text.size() > maxDigits)
        return false;
    unsigned long long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + static_cast<unsigned long long>(c - '0');
    }
    *value = result;
    return true;
}

bool isLeapYear(long long year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days from 1970/01/01 to the given date of the proleptic Gregorian calendar.
long long daysFromCivil(long long year, long long month, long long day)
{
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// "yyyy/mm/dd" into days.
bool readDate(std::string_view text, long long* days)
{
    static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    unsigned long long year = 0, month = 0, day = 0;
    if (text.size() != 10 || text[4] != '/' || text[7] != '/' ||
        !readNumber(text.substr(0, 4), 4, 4, &year) || !readNumber(text.substr(5, 2), 2, 2, &month) ||
        !readNumber(text.substr(8, 2), 2, 2, &day) || month < 1 || month > 12 || day < 1)
        return false;
    const long long monthDays =
        kMonthDays[month - 1] + (month == 2 && isLeapYear(static_cast<long long>(year)) ? 1 : 0);
    if (static_cast<long long>(day) > monthDays)
        return false;
    *days = daysFromCivil(static_cast<long long>(year), static_cast<long long>(month),
                          static_cast<long long>(day));
    return true;
}

// "hh:mm:ss:ms", the milliseconds unpadded. A record stamped in whole seconds ("hh:mm:ss",
// or an empty last part) counts from the start of its second.
bool readTime(std::string_view text, long long* ms)
{
    unsigned long long hour = 0, minute = 0, second = 0, milli = 0;
    if (text.size() < 8 || text[2] != ':' || text[5] != ':' ||
        !readNumber(text.substr(0, 2), 2, 2, &hour) || !readNumber(text.substr(3, 2), 2, 2, &minute) ||
        !readNumber(text.substr(6, 2), 2, 2, &second) || hour > 23 || minute > 59 || second > 59)
        return false;
    if (text.size() > 8) {
        if (text[8] != ':' || (text.size() > 9 && !readNumber(text.substr(9), 1, 3, &milli)))
            return false;
    }
    *ms = static_cast<long long>(((hour * 60 + minute) * 60 + second) * 1000 + milli);
    return true;
}

std::string stampText(long long days, long long ms)
{
    // Back from days to the date, the inverse of daysFromCivil.
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long dayOfEra = z - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    // Room for seven fields of any width: the parsed stamp is in range, but the compiler
    // cannot see that at every optimisation level and warns of truncation.
    char text[7 * 21 + 8];
    std::snprintf(text, sizeof text, "%04lld/%02lld/%02lld %02lld:%02lld:%02lld.%03lld", year,
                  month, day, ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return text;
}

std::vector<std::string_view> splitAt(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(separator, from);
        if (at == std::string_view::npos) {
            parts.push_back(text.substr(from));
            return parts;
        }
        parts.push_back(text.substr(from, at - from));
        from = at + 1;
    }
}

// Coordinates, and medians (of two middle values, so halves).
std::string number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// Text for XML: the five special characters escaped; control characters and bytes that are
// not UTF-8 become "?", so any marker gives a well-formed document.
std::string escapeXml(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // A UTF-8 sequence: its length and the range its second byte must lie in.
        std::size_t length = 0;
        int low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        }
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const int next = static_cast<unsigned char>(text[i + k]);
            valid = k == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
        }
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += '?';
            ++i;
        }
    }
    return out;
}

// The smallest of 1, 2 and 5 times a power of ten that is at least `raw`.
long long niceStep(double raw)
{
    for (long long power = 1;; power *= 10) {
        for (long long factor : {1, 2, 5}) {
            if (static_cast<double>(factor * power) >= raw)
                return factor * power;
        }
    }
}

std::string axisLabel(long long ms, long long step)
{
    return step >= 1000 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// A stable colour per operation name.
const char* barColour(const std::string& name)
{
    static const char* const kColours[] = {"#4e79a7", "#f28e2b", "#59a14f", "#b07aa1",
                                           "#76b7b2", "#edc948", "#e15759", "#9c755f"};
    std::uint32_t hash = 2166136261u;
    for (char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return kColours[hash % (sizeof kColours / sizeof kColours[0])];
}

// Unpaired markers, the first few one per line.
void listUnpaired(std::ostream& out, const char* title, const std::vector<Unpaired>& list)
{
    out << title << ": " << list.size() << "\n";
    for (std::size_t i = 0; i < list.size() && i < kListedUnpaired; ++i) {
        const Marker& marker = list[i].marker;
        out << "  " << marker.name << (marker.isStart ? kStartSuffix : kStopSuffix)
            << "  process " << marker.processId << "  " << marker.stamp << "  line "
            << list[i].lineNumber << "\n";
    }
    if (list.size() > kListedUnpaired)
        out << "  ... and " << list.size() - kListedUnpaired << " more\n";
}

const char kUsage[] =
    "Usage: kyro-perf [--svg out.svg] [--process PID] [KyroPerfLog.csv]\n"
    "\n"
    "Pairs the \".START\" and \".STOP\" markers of a performance log and prints each timed\n"
    "operation's count, median, maximum and total duration, largest total first.\n"
    "Without a file, reads the current user's log where the library writes it.\n"
    "\n"
    "  --svg FILE      also write a timeline of the operations as SVG\n"
    "  --process PID   only the markers of that process\n"
    "  --help          this text\n";

// The library writes paths with "\" separators; shown and opened with the system's own.
std::filesystem::path pathFromLibrary(const std::string& path)
{
    std::string portable = path;
    std::replace(portable.begin(), portable.end(), '\\', '/');
    return std::filesystem::u8path(portable).make_preferred();
}

}  // namespace

LineKind parseLine(std::string_view line, Marker* marker)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    if (line.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0)
        line.remove_prefix(kByteOrderMark.size());
    if (line.find_first_not_of(" \t\r\n\v\f") == std::string_view::npos)
        return LineKind::Blank;

    // pid, date, time, seven items, and the empty text after the final separator.
    const std::vector<std::string_view> parts = splitAt(line, ',');
    unsigned long long processId = 0;
    long long days = 0, ms = 0;
    if (parts.size() < 11 || !parts.back().empty() || !readNumber(parts[0], 1, 19, &processId) ||
        !readDate(parts[1], &days) || !readTime(parts[2], &ms))
        return LineKind::Unreadable;

    const std::string_view text = parts[parts.size() - 2];
    marker->processId = processId;
    marker->stampMs = days * 86400000 + ms;
    marker->stamp = stampText(days, ms);
    if (endsWith(text, kStartSuffix) && text.size() > kStartSuffix.size()) {
        marker->isStart = true;
        marker->name = std::string(text.substr(0, text.size() - kStartSuffix.size()));
        return LineKind::Marker;
    }
    if (endsWith(text, kStopSuffix) && text.size() > kStopSuffix.size()) {
        marker->isStart = false;
        marker->name = std::string(text.substr(0, text.size() - kStopSuffix.size()));
        return LineKind::Marker;
    }
    marker->name = std::string(text);
    return LineKind::OtherRecord;
}

void Analyser::addLine(std::string_view line)
{
    ++m_lineNumber;
    Marker marker;
    const LineKind kind = parseLine(line, &marker);
    if (kind == LineKind::Blank)
        return;
    if (kind == LineKind::Unreadable) {
        ++m_report.skippedLines;
        return;
    }
    if (m_filter && marker.processId != m_only)
        return;
    if (kind == LineKind::OtherRecord) {
        ++m_report.otherRecords;
        return;
    }
    ++m_report.markerLines;
    std::vector<Pending>& open = m_open[{marker.processId, marker.name}];
    if (marker.isStart) {
        open.push_back({std::move(marker), m_lineNumber});
        return;
    }
    if (open.empty()) {
        m_report.unmatchedStops.push_back({std::move(marker), m_lineNumber});
        return;
    }
    // The latest open start is the innermost one.
    Pending start = std::move(open.back());
    open.pop_back();
    if (marker.stampMs < start.marker.stampMs) {
        ++m_report.backwardPairs;
        return;
    }
    Operation operation;
    operation.name = marker.name;
    operation.processId = marker.processId;
    operation.startMs = start.marker.stampMs;
    operation.stopMs = marker.stampMs;
    operation.startStamp = start.marker.stamp;
    m_report.operations.push_back(std::move(operation));
}

void Analyser::addOverlongLine()
{
    ++m_lineNumber;
    ++m_report.skippedLines;
}

Report Analyser::finish()
{
    for (auto& entry : m_open) {
        for (Pending& pending : entry.second)
            m_report.unmatchedStarts.push_back({std::move(pending.marker), pending.lineNumber});
    }
    m_open.clear();
    std::sort(m_report.unmatchedStarts.begin(), m_report.unmatchedStarts.end(),
              [](const Unpaired& a, const Unpaired& b) { return a.lineNumber < b.lineNumber; });

    // Statistics per name.
    std::map<std::string, std::vector<long long>> durations;
    for (const Operation& operation : m_report.operations)
        durations[operation.name].push_back(operation.stopMs - operation.startMs);
    for (auto& entry : durations) {
        std::vector<long long>& list = entry.second;
        std::sort(list.begin(), list.end());
        Statistics statistics;
        statistics.name = entry.first;
        statistics.count = list.size();
        const std::size_t middle = list.size() / 2;
        statistics.medianMs = list.size() % 2 != 0
                                  ? static_cast<double>(list[middle])
                                  : (static_cast<double>(list[middle - 1]) + static_cast<double>(list[middle])) / 2;
        statistics.maxMs = list.back();
        for (long long duration : list)
            statistics.totalMs += duration;
        m_report.statistics.push_back(std::move(statistics));
    }
    std::stable_sort(m_report.statistics.begin(), m_report.statistics.end(),
                     [](const Statistics& a, const Statistics& b) { return a.totalMs > b.totalMs; });

    // Timeline rows: by process and start, an enclosing operation before what it encloses;
    // each goes to the first lane of its process that is free by its start.
    std::vector<Operation>& operations = m_report.operations;
    std::sort(operations.begin(), operations.end(), [](const Operation& a, const Operation& b) {
        if (a.processId != b.processId)
            return a.processId < b.processId;
        if (a.startMs != b.startMs)
            return a.startMs < b.startMs;
        if (a.stopMs != b.stopMs)
            return a.stopMs > b.stopMs;
        return a.name < b.name;
    });
    std::vector<long long> laneEnds;
    for (std::size_t i = 0; i < operations.size(); ++i) {
        if (i == 0 || operations[i].processId != operations[i - 1].processId)
            laneEnds.clear();
        std::size_t lane = 0;
        while (lane < laneEnds.size() && laneEnds[lane] > operations[i].startMs)
            ++lane;
        if (lane == laneEnds.size())
            laneEnds.push_back(0);
        laneEnds[lane] = operations[i].stopMs;
        operations[i].lane = static_cast<int>(lane);
    }
    return std::move(m_report);
}

Report analyseText(std::string_view text, const unsigned long long* onlyProcess)
{
    Analyser analyser = onlyProcess != nullptr ? Analyser(*onlyProcess) : Analyser();
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find('\n', from);
        if (end == std::string_view::npos)
            end = text.size();
        if (end - from > kMaxLineLength)
            analyser.addOverlongLine();
        else
            analyser.addLine(text.substr(from, end - from));
        from = end + 1;
    }
    return analyser.finish();
}

bool analyseStream(std::istream& in, Report* report, const unsigned long long* onlyProcess)
{
    Analyser analyser = onlyProcess != nullptr ? Analyser(*onlyProcess) : Analyser();
    std::vector<char> buffer(64 * 1024);
    std::string line;
    bool overlong = false;
    for (;;) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::size_t count = static_cast<std::size_t>(in.gcount());
        if (count == 0)
            break;
        const std::string_view chunk(buffer.data(), count);
        std::size_t from = 0;
        while (from < chunk.size()) {
            const std::size_t end = chunk.find('\n', from);
            const std::size_t stop = end == std::string_view::npos ? chunk.size() : end;
            if (!overlong) {
                line.append(chunk.substr(from, stop - from));
                if (line.size() > kMaxLineLength) {
                    overlong = true;
                    std::string().swap(line);
                }
            }
            if (end == std::string_view::npos)
                break;
            if (overlong)
                analyser.addOverlongLine();
            else
                analyser.addLine(line);
            line.clear();
            overlong = false;
            from = end + 1;
        }
    }
    if (in.bad())
        return false;
    if (overlong)
        analyser.addOverlongLine();
    else if (!line.empty())
        analyser.addLine(line);
    *report = analyser.finish();
    return true;
}

std::string formatReport(const Report& report)
{
    std::ostringstream out;
    if (report.statistics.empty()) {
        out << "No paired operations.\n";
    } else {
        std::vector<std::vector<std::string>> rows = {
            {"Operation", "Count", "Median ms", "Max ms", "Total ms"}};
        for (const Statistics& s : report.statistics) {
            rows.push_back({s.name, std::to_string(s.count), number(s.medianMs),
                            std::to_string(s.maxMs), std::to_string(s.totalMs)});
        }
        std::vector<std::size_t> widths(rows[0].size(), 0);
        for (const auto& row : rows) {
            for (std::size_t c = 0; c < row.size(); ++c)
                widths[c] = std::max(widths[c], row[c].size());
        }
        for (const auto& row : rows) {
            std::string text = row[0] + std::string(widths[0] - row[0].size(), ' ');
            for (std::size_t c = 1; c < row.size(); ++c)
                text += "  " + std::string(widths[c] - row[c].size(), ' ') + row[c];
            out << text << "\n";
        }
    }
    out << "\n";
    listUnpaired(out, "Unmatched starts", report.unmatchedStarts);
    listUnpaired(out, "Unmatched stops", report.unmatchedStops);
    if (report.backwardPairs > 0)
        out << "Pairs stamped backwards (clock set back), left out: " << report.backwardPairs << "\n";
    if (report.otherRecords > 0)
        out << "Records without a START or STOP marker: " << report.otherRecords << "\n";
    out << "Skipped lines: " << report.skippedLines << "\n";
    return out.str();
}

std::string renderSvg(const Report& report)
{
    const double width = 1000, left = 150, right = 20, top = 60, laneHeight = 18, rowGap = 12;
    const std::vector<Operation>& operations = report.operations;
    std::ostringstream body;
    double height = 100;
    if (operations.empty()) {
        body << "<text x=\"10\" y=\"30\">No paired operations</text>\n";
    } else {
        long long first = operations[0].startMs, last = operations[0].stopMs;
        std::string firstStamp = operations[0].startStamp;
        for (const Operation& operation : operations) {
            if (operation.startMs < first) {
                first = operation.startMs;
                firstStamp = operation.startStamp;
            }
            last = std::max(last, operation.stopMs);
        }
        const long long span = std::max(last - first, 1LL);
        const double scale = (width - left - right) / static_cast<double>(span);
        const long long step = niceStep(static_cast<double>(span) / 8);

        // Row tops: each process's operations are together, and lanes below one another.
        std::ostringstream rows, bars;
        double rowTop = top;
        for (std::size_t i = 0; i < operations.size();) {
            std::size_t end = i;
            int lanes = 0;
            while (end < operations.size() && operations[end].processId == operations[i].processId)
                lanes = std::max(lanes, operations[end++].lane + 1);
            rows << "<text x=\"10\" y=\"" << number(rowTop + 13) << "\">process "
                 << operations[i].processId << "</text>\n";
            for (; i < end; ++i) {
                const Operation& o = operations[i];
                const double x = left + static_cast<double>(o.startMs - first) * scale;
                const double w = std::max(static_cast<double>(o.stopMs - o.startMs) * scale, 1.0);
                const double y = rowTop + o.lane * laneHeight;
                const std::string name = escapeXml(o.name);
                bars << "<g><title>" << name << ": " << (o.stopMs - o.startMs) << " ms from "
                     << o.startStamp << ", process " << o.processId << "</title><rect x=\""
                     << number(x) << "\" y=\"" << number(y + 1) << "\" width=\"" << number(w)
                     << "\" height=\"" << number(laneHeight - 2) << "\" rx=\"2\" fill=\""
                     << barColour(o.name) << "\"/>";
                // The name inside its bar when it fits (about 6.5 units a character).
                if (w >= 6.5 * static_cast<double>(o.name.size()) + 6)
                    bars << "<text x=\"" << number(x + 3) << "\" y=\"" << number(y + 13)
                         << "\" fill=\"white\">" << name << "</text>";
                bars << "</g>\n";
            }
            rowTop += lanes * laneHeight + rowGap;
            rows << "<line x1=\"0\" y1=\"" << number(rowTop - rowGap / 2) << "\" x2=\""
                 << number(width) << "\" y2=\"" << number(rowTop - rowGap / 2)
                 << "\" stroke=\"#eee\"/>\n";
        }
        height = rowTop + 10;

        body << "<text x=\"10\" y=\"20\" font-size=\"13\">Timed operations from "
             << escapeXml(firstStamp) << "</text>\n";
        for (long long t = 0; t <= span; t += step) {
            const double x = left + static_cast<double>(t) * scale;
            body << "<line x1=\"" << number(x) << "\" y1=\"" << number(top - 12) << "\" x2=\""
                 << number(x) << "\" y2=\"" << number(height - 10) << "\" stroke=\"#ccc\"/>"
                 << "<text x=\"" << number(x) << "\" y=\"" << number(top - 16)
                 << "\" text-anchor=\"middle\">" << axisLabel(t, step) << "</text>\n";
        }
        body << rows.str() << bars.str();
    }
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << number(width) << "\" height=\""
        << number(height) << "\" viewBox=\"0 0 " << number(width) << " " << number(height)
        << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << body.str() << "</svg>\n";
    return svg.str();
}

std::string defaultLogPath()
{
    // The logger works the path out as it does when it writes (it makes the folder too).
    const KyroPerfLogger logger;
    return logger.getLogFileName().utf8();
}

int runCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string logPath, svgPath;
    bool haveLog = false, haveSvg = false, haveProcess = false, optionsEnded = false;
    unsigned long long process = 0;
    const auto usageError = [&err](const std::string& message) {
        err << "kyro-perf: " << message << "\n" << "Usage: kyro-perf [--svg out.svg] [--process PID] [KyroPerfLog.csv]\n";
        return 2;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool option = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (option && arg == "--") {
            optionsEnded = true;
        } else if (option && (arg == "--help" || arg == "-h")) {
            out << kUsage;
            return 0;
        } else if (option && arg == "--svg") {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return usageError("--svg needs a file name");
            svgPath = args[++i];
            haveSvg = true;
        } else if (option && arg == "--process") {
            if (i + 1 >= args.size() || !readNumber(args[i + 1], 1, 19, &process))
                return usageError("--process needs a process id (decimal)");
            ++i;
            haveProcess = true;
        } else if (option) {
            return usageError("unknown option " + arg);
        } else if (haveLog) {
            return usageError("one log file at most");
        } else {
            logPath = arg;
            haveLog = true;
        }
    }

    // A path from the command line is in the system's own narrow encoding, as the runtime
    // gave it; the library's path is UTF-8 with "\" separators.
    const std::filesystem::path path =
        haveLog ? std::filesystem::path(logPath) : pathFromLibrary(defaultLogPath());
    const std::string shownPath = haveLog ? logPath : path.u8string();
    std::error_code ignored;
    std::ifstream in;
    if (!std::filesystem::is_directory(path, ignored))
        in.open(path, std::ios::binary);
    Report report;
    if (!in.is_open() || !analyseStream(in, &report, haveProcess ? &process : nullptr)) {
        err << "kyro-perf: cannot read " << shownPath << "\n";
        return 1;
    }

    out << "Performance log: " << shownPath << "\n\n" << formatReport(report);
    if (haveSvg) {
        std::ofstream svg(std::filesystem::path(svgPath), std::ios::binary | std::ios::trunc);
        svg << renderSvg(report);
        svg.close();
        if (!svg) {
            err << "kyro-perf: cannot write " << svgPath << "\n";
            return 1;
        }
        out << "Timeline written to " << svgPath << "\n";
    }
    return 0;
}

}  // namespace kyro::perf
