// Small helpers shared by the benchmark files.
#ifndef KYRO_BENCH_SUPPORT_H
#define KYRO_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

namespace kyro::bench {

// Hands back `value` after hiding it from the optimiser, so that neither side of a pair
// gets constant-folded (a strlen of a literal, a find on a known text) where real callers
// pass data the compiler cannot see.
template <class T>
T opaque(T value)
{
    benchmark::DoNotOptimize(value);
    return value;
}

// Run once before the measurements: each makes sure that both sides of its pairs produce
// the same result, so that the pairs compare equal work. False (with a message on stderr)
// when they do not.
bool checkStringPairs();
bool checkDelimitedFilePairs();
bool checkPacketPair();

}  // namespace kyro::bench

#endif
