// KyroDelimitedFile key/value lines next to a plain stdio loop writing the same bytes.
//
//   KyroDelimitedFile/write    write(key, value) after one updateCurrentSection(false)
//   fputs/pieces               fputs of each part: process id, tab, date, tab, time, tab,
//                              key, "=", value, "\n" (the parts the writer joins)
//   fputs/whole_line           one fputs of the prebuilt line
//
// All three write to a fresh temporary file opened in append mode ("a+", as the writer
// opens it), closed and removed when the run ends. The line count per run is fixed so a
// run leaves at most a few tens of megabytes behind in the page cache.
#include "bench_support.h"

#include "kyro/diagnostics/KyroDelimitedFile.h"
#include "kyro/platform/filesystem.h"
#include "kyro/platform/process_info.h"
#include "kyro/util/TStr.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

using kyro::bench::opaque;

namespace {

const char kKey[] = "Duration";
const char kValue[] = "1520";
constexpr benchmark::IterationCount kLinesPerRun = 1 << 20;

// A file name under the temporary folder, removed (if it was created) when this goes.
class TempLog {
public:
    explicit TempLog(const char* tag)
    {
        static int serial = 0;
        const std::string name = "kyro_bench_" + std::to_string(kyro::platform::currentProcessId()) + "_" +
                                 tag + "_" + std::to_string(++serial) + ".log";
        m_path = (std::filesystem::temp_directory_path() / name).string();
        std::remove(m_path.c_str());
    }
    ~TempLog() { std::remove(m_path.c_str()); }
    TempLog(const TempLog&) = delete;
    TempLog& operator=(const TempLog&) = delete;

    const char* path() const { return m_path.c_str(); }

    std::string contents() const
    {
        std::string bytes;
        if (std::FILE* f = std::fopen(m_path.c_str(), "rb")) {
            char chunk[4096];
            for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
                bytes.append(chunk, n);
            std::fclose(f);
        }
        return bytes;
    }

    std::uintmax_t size() const
    {
        std::error_code error;
        const std::uintmax_t bytes = std::filesystem::file_size(m_path, error);
        return error ? 0 : bytes;
    }

private:
    std::string m_path;
};

// The writer's current section split back into its parts (process id, date, time).
struct Section {
    std::string processId;
    std::string date;
    std::string time;
};

Section sectionOf(const KyroDelimitedFile& file)
{
    const std::string joined = file.getCurrentSection(TStr("\t")).utf8();
    const std::size_t first = joined.find('\t');
    const std::size_t second = joined.find('\t', first + 1);
    return {joined.substr(0, first), joined.substr(first + 1, second - first - 1), joined.substr(second + 1)};
}

// The pieces of one key/value line, in writing order.
std::array<const char*, 10> piecesOf(const Section& section)
{
    return {section.processId.c_str(), "\t", section.date.c_str(), "\t", section.time.c_str(), "\t",
            kKey, "=", kValue, "\n"};
}

std::string lineOf(const Section& section)
{
    std::string line;
    for (const char* piece : piecesOf(section))
        line += piece;
    return line;
}

void finish(benchmark::State& state, bool written, const TempLog& log, std::size_t lineBytes)
{
    if (!written || log.size() != static_cast<std::uintmax_t>(state.iterations()) * lineBytes)
        state.SkipWithError("the file does not hold the expected lines");
    state.SetItemsProcessed(state.iterations());
}

void delimitedFileWrite(benchmark::State& state)
{
    TempLog log("write");
    bool written = true;
    std::size_t lineBytes = 0;
    {
        KyroDelimitedFile file{TStr(log.path())};
        file.updateCurrentSection(false);
        lineBytes = lineOf(sectionOf(file)).size();
        const TStr key(kKey);
        const TStr value(kValue);
        if (!file.open(false)) {
            state.SkipWithError("cannot open the temporary file");
            return;
        }
        for (auto _ : state)
            written &= file.write(key, value);
        file.close();
    }
    finish(state, written, log, lineBytes);
}

void fputsPieces(benchmark::State& state)
{
    TempLog log("pieces");
    KyroDelimitedFile stamp{TStr(log.path())};  // only for its section; never opens the file
    stamp.updateCurrentSection(false);
    const Section section = sectionOf(stamp);
    std::array<const char*, 10> pieces = piecesOf(section);
    std::FILE* stream = kyro::platform::openFile(log.path(), "a+");
    if (stream == nullptr) {
        state.SkipWithError("cannot open the temporary file");
        return;
    }
    for (auto _ : state) {
        // Hidden from the optimiser so that each piece really goes through fputs (the
        // compiler would otherwise turn the one-byte literals into putc calls).
        benchmark::DoNotOptimize(pieces);
        for (const char* piece : pieces)
            std::fputs(piece, stream);
    }
    const bool written = std::ferror(stream) == 0;
    std::fclose(stream);
    finish(state, written, log, lineOf(section).size());
}

void fputsWholeLine(benchmark::State& state)
{
    TempLog log("line");
    KyroDelimitedFile stamp{TStr(log.path())};
    stamp.updateCurrentSection(false);
    const std::string line = lineOf(sectionOf(stamp));
    std::FILE* stream = kyro::platform::openFile(log.path(), "a+");
    if (stream == nullptr) {
        state.SkipWithError("cannot open the temporary file");
        return;
    }
    for (auto _ : state)
        std::fputs(opaque(line.c_str()), stream);
    const bool written = std::ferror(stream) == 0;
    std::fclose(stream);
    finish(state, written, log, line.size());
}

}  // namespace

BENCHMARK(delimitedFileWrite)->Name("KyroDelimitedFile/write")->Iterations(kLinesPerRun);
BENCHMARK(fputsPieces)->Name("fputs/pieces")->Iterations(kLinesPerRun);
BENCHMARK(fputsWholeLine)->Name("fputs/whole_line")->Iterations(kLinesPerRun);

namespace kyro::bench {

bool checkDelimitedFilePairs()
{
    TempLog written("check_write");
    TempLog pieces("check_pieces");
    std::string expected;
    {
        KyroDelimitedFile file{TStr(written.path())};
        file.updateCurrentSection(false);
        const Section section = sectionOf(file);
        expected = lineOf(section);
        if (!file.write(TStr(kKey), TStr(kValue)))
            return false;
        file.close();
        std::FILE* stream = kyro::platform::openFile(pieces.path(), "a+");
        if (stream == nullptr)
            return false;
        for (const char* piece : piecesOf(section))
            std::fputs(piece, stream);
        std::fclose(stream);
    }
    const bool same = written.contents() == expected && pieces.contents() == expected;
    if (!same)
        std::fprintf(stderr, "kyro_bench: KyroDelimitedFile and the fputs loop write different lines\n");
    return same;
}

}  // namespace kyro::bench
