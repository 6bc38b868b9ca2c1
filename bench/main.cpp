// kyro_bench: the benchmark program. The pairs are checked for equal results before any
// measurement, so a change that breaks one side shows up here instead of as a fast time.
#include "bench_support.h"

#include <cstdio>

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!kyro::bench::checkStringPairs() || !kyro::bench::checkDelimitedFilePairs() ||
        !kyro::bench::checkPacketPair()) {
        std::fprintf(stderr, "kyro_bench: the two sides of a pair disagree; nothing measured\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
