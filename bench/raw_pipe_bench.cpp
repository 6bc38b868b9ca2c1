// The framework's baseline round trip (raw_pipe_peer.h): one line each way over the
// platform's named pipes, between two threads of this program.
#include "bench_support.h"
#include "raw_pipe_peer.h"

namespace {

void rawPipeRoundTrip(benchmark::State& state)
{
    kyro::bench::RawPipePair pair;
    if (!pair.connected()) {
        state.SkipWithError("the pipes could not be connected");
        return;
    }
    if (!pair.roundTrip()) {
        state.SkipWithError("the first round trip failed");
        return;
    }
    for (auto _ : state) {
        if (!pair.roundTrip()) {
            state.SkipWithError("a round trip failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

BENCHMARK(rawPipeRoundTrip)->Name("raw_pipe/round_trip")->UseRealTime();

}  // namespace
