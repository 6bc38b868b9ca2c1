// What loading the library costs a host: LoadLibraryW + FreeLibrary (dlopen + dlclose) of
// kyroint, repeated, with the share of it spent building the locale maps (measured by
// building a locale manager on its own, as the library's start-up does).
//
//   kyro_load_bench [library path] [rounds]
//
// Prints the median and the quartiles of each, in microseconds. Built in both
// configurations without Google Benchmark, so the windows build can be timed under Wine.
#include "kyro/platform/clock.h"
#include "kyro/platform/process_launch.h"
#include "kyro/platform/shared_library.h"
#include "kyro/util/CKyroUtilLocaleMgr.h"
#include "kyro/util/TPath.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::micro>(duration).count();
}

struct Summary {
    double low, median, high;
};

Summary summarise(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    return {samples[n / 4], samples[n / 2], samples[(3 * n) / 4]};
}

void print(const char* what, const Summary& summary)
{
    std::printf("%-28s median %9.1f us   (quartiles %.1f .. %.1f)\n", what, summary.median,
                summary.low, summary.high);
}

}  // namespace

int main(int argc, char** argv)
{
    const TPath program(kyro::platform::executablePath().c_str());
    const TPath library = argc > 1 ? TPath(argv[1]) : program.directory() / KYRO_BENCH_LIBRARY;
    const int rounds = argc > 2 ? std::max(5, std::atoi(argv[2])) : 200;

    std::vector<double> loads;
    for (int i = 0; i < rounds; ++i) {
        const Clock::time_point start = Clock::now();
        const kyro::platform::LibraryHandle handle = kyro::platform::loadLibrary(library.utf8());
        if (handle == kyro::platform::kNoLibrary) {
            std::fprintf(stderr, "cannot load %s\n", library.utf8());
            return 1;
        }
        kyro::platform::unloadLibrary(handle);
        loads.push_back(microseconds(Clock::now() - start));
    }

    std::vector<double> maps;
    for (int i = 0; i < rounds; ++i) {
        const Clock::time_point start = Clock::now();
        { CKyroUtilLocaleMgr manager; }
        maps.push_back(microseconds(Clock::now() - start));
    }

    const Summary load = summarise(loads);
    const Summary map = summarise(maps);
    std::printf("%s, %d rounds\n", library.utf8(), rounds);
    print("load + unload", load);
    print("locale maps (built alone)", map);
    std::printf("%-28s %.0f %% of a load\n", "locale maps share", 100.0 * map.median / load.median);
    return 0;
}
