// Records per second of the loggers, in one process and with four processes writing one
// file, next to two baselines that put the same bytes into the file:
//
//   library  KyroLogger::log of a record built on the stack, after startLogging()
//   floor    per record: the platform's named mutex opened and taken, the file opened with
//            fopen("a+"), the lines (stamp formatted from the local time) written with
//            fputs, the file closed, the mutex given back and closed
//   spdlog   a basic_file_sink_mt logger with the pattern "%v", one call per line and a
//            flush per record (native builds only; it keeps the file open and knows no
//            other process)
//
// Records: "error" is a KyroErrorBase of six lines (reason, computer, system, file and line,
// vendor, status), "debug" a KyroDebugLog of one item line.
//
//   kyro_logger_bench [--reps=N] [--seconds=S] [--json=PATH]
//
// Each figure is the median of N repetitions (default 5), the writers interleaved. A run
// writes about S seconds' worth of records (default 1.0) into a fresh file of the temporary
// folder; with four processes each writes that many and the rate is all their records over
// the time from the first one's start to the last one's end. The processes are this program
// again, started and then released together. Built in both configurations without Google
// Benchmark, so the windows build can be measured under Wine.
#include "kyro/diagnostics/KyroDebugLog.h"
#include "kyro/diagnostics/KyroErrorBase.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/platform/clock.h"
#include "kyro/platform/filesystem.h"
#include "kyro/platform/known_folders.h"
#include "kyro/platform/named_mutex.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"
#include "kyro/platform/system_info.h"
#include "kyro/util/TPath.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#ifdef KYRO_BENCH_SPDLOG
#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kProcesses = 4;
const char kThrownFile[] = "C:\\src\\bench\\writer.cpp";
const char kMessage[] = "Cache warmed in 12 ms, 4096 entries";

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// --- the same bytes by hand ----------------------------------------------------------------

std::string hostName()
{
    return kyro::platform::computerName();
}

std::string systemText()
{
    kyro::platform::OsVersion version;
    if (!kyro::platform::osVersion(&version))
        return std::string();
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.build) + "." + version.servicePack;
}

// The stamp and the tab after it, as KyroDelimitedFile writes it.
std::string stamp()
{
    const kyro::platform::LocalTime now = kyro::platform::localTime();
    char text[96];
    std::snprintf(text, sizeof text, "%lu\t%d/%02d/%02d\t%02d:%02d:%02d\t",
                  static_cast<unsigned long>(kyro::platform::currentProcessId()), now.year, now.month,
                  now.day, now.hour, now.minute, now.second);
    return text;
}

// The record's lines without their stamps.
std::vector<std::string> recordLines(const std::string& kind)
{
    if (kind == "debug")
        return {std::string("Host\t") + kMessage + "\t"};
    return {"Reason=Fatal error", "ComputerName=" + hostName(), "OS=" + systemText(),
            "File=writer.cpp,Line=42", "VendorID=2", "VendorError=3"};
}

// --- writers ---------------------------------------------------------------------------------

class Writer {
public:
    virtual ~Writer() = default;
    virtual void write() = 0;
};

class LibraryWriter : public Writer {
public:
    LibraryWriter(const std::string& kind, const std::string& path) : m_debug(kind == "debug"), m_logger(false)
    {
        m_logger.setLogFileName(TStr(path.c_str()));
    }
    void write() override
    {
        m_logger.startLogging();
        if (m_debug) {
            const KyroDebugLog record(Kyro::kVendorHost, kMessage);
            m_logger.log(record);
        } else {
            const KyroErrorBase record(Kyro::kVendorVex, 3, kThrownFile, 42, "");
            m_logger.log(record);
        }
    }

private:
    bool m_debug;
    KyroLogger m_logger;
};

class FloorWriter : public Writer {
public:
    FloorWriter(const std::string& kind, const std::string& path)
        : m_path(path), m_mutexName(mutexNameOf(path)), m_lines(recordLines(kind))
    {
        for (std::string& line : m_lines)
            line += "\n";
    }
    void write() override
    {
        const kyro::platform::NamedMutex mutex = kyro::platform::namedMutexOpen(m_mutexName.c_str());
        const bool held = mutex != kyro::platform::kNoNamedMutex &&
                          kyro::platform::namedMutexWait(mutex, 10000) == kyro::platform::NamedMutexWait::Obtained;
        if (std::FILE* file = kyro::platform::openFile(m_path.c_str(), "a+")) {
            const std::string head = stamp();
            for (const std::string& line : m_lines) {
                std::fputs(head.c_str(), file);
                std::fputs(line.c_str(), file);
            }
            std::fclose(file);
        }
        if (held)
            kyro::platform::namedMutexRelease(mutex);
        if (mutex != kyro::platform::kNoNamedMutex)
            kyro::platform::namedMutexClose(mutex);
    }

    static std::string mutexNameOf(const std::string& path)
    {
        return path.substr(path.rfind('\\') + 1) + ".Mutex";
    }

private:
    std::string m_path;
    std::string m_mutexName;
    std::vector<std::string> m_lines;
};

#ifdef KYRO_BENCH_SPDLOG
class SpdlogWriter : public Writer {
public:
    SpdlogWriter(const std::string& kind, const std::string& path)
        : m_logger("bench", std::make_shared<spdlog::sinks::basic_file_sink_mt>(
                                kyro::platform::systemPathText(path.c_str()), false)),
          m_lines(recordLines(kind))
    {
        m_logger.set_pattern("%v");
    }
    void write() override
    {
        const std::string head = stamp();
        for (const std::string& line : m_lines) {
            m_line.assign(head).append(line);
            m_logger.log(spdlog::level::info, spdlog::string_view_t(m_line));
        }
        m_logger.flush();
    }

private:
    spdlog::logger m_logger;
    std::vector<std::string> m_lines;
    std::string m_line;
};
const bool kHaveSpdlog = true;
#else
const bool kHaveSpdlog = false;
#endif

std::unique_ptr<Writer> makeWriter(const std::string& writer, const std::string& kind, const std::string& path)
{
    if (writer == "library")
        return std::make_unique<LibraryWriter>(kind, path);
    if (writer == "floor")
        return std::make_unique<FloorWriter>(kind, path);
#ifdef KYRO_BENCH_SPDLOG
    if (writer == "spdlog")
        return std::make_unique<SpdlogWriter>(kind, path);
#endif
    return nullptr;
}

// --- runs ------------------------------------------------------------------------------------

std::string readAll(const std::string& path)
{
    std::string bytes;
    if (std::FILE* file = kyro::platform::openFile(path.c_str(), "rb")) {
        char chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
            bytes.append(chunk, n);
        std::fclose(file);
    }
    return bytes;
}

void removeFile(const std::string& path)
{
    kyro::platform::removeFile(path.c_str());
}

// Child: "--child=<writer>,<kind>,<count>,<path>". Says "ready", waits until its input
// ends, writes, then reports its start and end.
int playChild(const std::string& argument)
{
    std::vector<std::string> parts;
    std::string::size_type from = 0;
    for (int i = 0; i < 3; ++i) {
        const std::string::size_type comma = argument.find(',', from);
        parts.push_back(argument.substr(from, comma - from));
        from = comma + 1;
    }
    parts.push_back(argument.substr(from));
    std::unique_ptr<Writer> writer = makeWriter(parts[0], parts[1], parts[3]);
    const long count = std::atol(parts[2].c_str());
    if (!writer)
        return 2;
    std::printf("ready\n");
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) {
    }
    const long long start = nowNs();
    for (long i = 0; i < count; ++i)
        writer->write();
    const long long end = nowNs();
    std::printf("%lld %lld\n", start, end);
    return 0;
}

struct Child {
    kyro::platform::LaunchedProcess process;
    std::string output;
};

// Reads from the child until `marker` has arrived (or, with null, its output has ended).
bool readUntil(Child& child, const char* marker)
{
    char buffer[256];
    while (marker == nullptr || child.output.find(marker) == std::string::npos) {
        const long got = kyro::platform::readPipe(child.process.output, buffer, sizeof buffer);
        if (got <= 0)
            return marker == nullptr && got == 0;
        child.output.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

// Records per second of `processes` writers of `count` records each into `path`; 0 when
// something failed.
double measure(const std::string& writer, const std::string& kind, long count, int processes,
               const std::string& path)
{
    removeFile(path);
    if (processes == 1) {
        std::unique_ptr<Writer> one = makeWriter(writer, kind, path);
        const long long start = nowNs();
        for (long i = 0; i < count; ++i)
            one->write();
        const long long end = nowNs();
        return count / ((end - start) / 1e9);
    }
    const std::string program = kyro::platform::executablePath();
    std::vector<Child> children(static_cast<std::size_t>(processes));
    bool ok = true;
    for (Child& child : children) {
        const std::string line = "\"" + program + "\" --child=" + writer + "," + kind + "," +
                                 std::to_string(count) + "," + path;
        ok = ok && kyro::platform::launchProcess(program.c_str(), line.c_str(), &child.process) ==
                       kyro::platform::LaunchResult::Started;
    }
    for (Child& child : children)
        ok = readUntil(child, "ready") && ok;
    // Released together: each one's input ends.
    for (Child& child : children)
        kyro::platform::closePipeEnd(child.process.input);
    long long first = 0;
    long long last = 0;
    for (Child& child : children) {
        readUntil(child, nullptr);
        kyro::platform::closePipeEnd(child.process.output);
        long long start = 0;
        long long end = 0;
        // (Text-mode output on Windows: "\r\n" line ends.)
        const std::string::size_type at = child.output.find("ready");
        if (at == std::string::npos ||
            std::sscanf(child.output.c_str() + at + 5, " %lld %lld", &start, &end) != 2) {
            ok = false;
            continue;
        }
        first = first == 0 ? start : std::min(first, start);
        last = std::max(last, end);
    }
    kyro::platform::releaseEndedChildren();
    if (!ok || last <= first)
        return 0;
    return static_cast<double>(count) * processes / ((last - first) / 1e9);
}

// The file's bytes with every line's stamp (up to the third tab) taken out.
std::string withoutStamps(const std::string& bytes)
{
    std::string out;
    std::string::size_type start = 0;
    while (start < bytes.size()) {
        std::string::size_type end = bytes.find('\n', start);
        end = end == std::string::npos ? bytes.size() : end + 1;
        std::string::size_type at = start;
        for (int tabs = 0; tabs < 3 && at != std::string::npos; ++tabs)
            at = bytes.find('\t', at) + 1;
        out.append(bytes, at, end - at);
        start = end;
    }
    return out;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    int reps = 5;
    double seconds = 1.0;
    std::string json;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--child=", 0) == 0)
            return playChild(arg.substr(8));
        if (arg.rfind("--reps=", 0) == 0)
            reps = std::max(1, std::atoi(arg.c_str() + 7));
        else if (arg.rfind("--seconds=", 0) == 0)
            seconds = std::max(0.05, std::atof(arg.c_str() + 10));
        else if (arg.rfind("--json=", 0) == 0)
            json = arg.substr(7);
    }

    // "\" separators, as the library writes paths.
    TStr folderText(std::filesystem::temp_directory_path().u8string().c_str());
    folderText.replaceAll("/", "\\");
    std::string folder = folderText.utf8();
    while (folder.size() > 1 && folder.back() == '\\')
        folder.pop_back();
    const std::string tag = "kyro_logger_bench_" + std::to_string(kyro::platform::currentProcessId());
    std::vector<std::string> writers = {"library", "floor"};
    if (kHaveSpdlog)
        writers.push_back("spdlog");
    const std::vector<std::string> kinds = {"error", "debug"};
    const auto pathOf = [&](const std::string& writer) { return folder + "\\" + tag + "_" + writer + ".log"; };

    // Every writer must put the same bytes into its file.
    for (const std::string& kind : kinds) {
        std::string reference;
        for (const std::string& writer : writers) {
            const std::string path = pathOf(writer);
            removeFile(path);
            makeWriter(writer, kind, path)->write();
            const std::string bytes = withoutStamps(readAll(path));
            removeFile(path);
            if (writer == writers.front()) {
                reference = bytes;
            } else if (bytes != reference) {
                std::fprintf(stderr, "kyro_logger_bench: %s and %s write different %s records:\n%s---\n%s",
                             writers.front().c_str(), writer.c_str(), kind.c_str(), reference.c_str(),
                             bytes.c_str());
                return 1;
            }
        }
    }

    // Records per run: about `seconds` of the library's error records in one process.
    const double probeRate = measure("library", "error", 500, 1, pathOf("library"));
    const long count = static_cast<long>(std::min(std::max(probeRate * seconds, 500.0), 500000.0));

    std::map<std::string, std::vector<double>> samples;
    for (int rep = 0; rep < reps; ++rep) {
        for (int processes : {1, kProcesses}) {
            for (const std::string& kind : kinds) {
                for (std::size_t w = 0; w < writers.size(); ++w) {
                    // Rotated per repetition, so no writer always follows the same one.
                    const std::string& writer = writers[(w + static_cast<std::size_t>(rep)) % writers.size()];
                    const double rate = measure(writer, kind, count, processes, pathOf(writer));
                    samples[writer + "/" + kind + "/" + std::to_string(processes)].push_back(rate);
                    removeFile(pathOf(writer));
                }
            }
        }
    }
    for (const std::string& writer : writers)
        kyro::platform::namedMutexDiscard(FloorWriter::mutexNameOf(pathOf(writer)).c_str());

    std::printf("%ld records per process and run, median of %d runs (records/s)\n", count, reps);
    std::printf("%-8s %-6s %14s %14s\n", "writer", "record", "1 process", "4 processes");
    std::string out = "{\"records\": " + std::to_string(count) + ", \"reps\": " + std::to_string(reps) +
                      ", \"rates\": {";
    bool firstEntry = true;
    for (const std::string& kind : kinds) {
        for (const std::string& writer : writers) {
            const double one = median(samples[writer + "/" + kind + "/1"]);
            const double four = median(samples[writer + "/" + kind + "/" + std::to_string(kProcesses)]);
            std::printf("%-8s %-6s %14.0f %14.0f\n", writer.c_str(), kind.c_str(), one, four);
            char entry[160];
            std::snprintf(entry, sizeof entry, "%s\"%s/%s\": [%.1f, %.1f]", firstEntry ? "" : ", ",
                          writer.c_str(), kind.c_str(), one, four);
            out += entry;
            firstEntry = false;
        }
    }
    out += "}}\n";
    if (!json.empty()) {
        if (std::FILE* file = std::fopen(json.c_str(), "w")) {
            std::fputs(out.c_str(), file);
            std::fclose(file);
        }
    }
    return 0;
}
