// The framework's object lock, uncontended, as every packet takes it:
//
//   VexBase/lock_unlock    lock(0) + unlock on one object
//   VexBase/nested         lock(0) twice + unlock twice (a conduit call inside its own lock)
#include "bench_support.h"

#include "kyro/pipe/VexBase.h"

namespace {

void lockUnlock(benchmark::State& state)
{
    VexBase object;
    for (auto _ : state) {
        bool ok = object.lock(0);
        object.unlock();
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(lockUnlock)->Name("VexBase/lock_unlock");

void nested(benchmark::State& state)
{
    VexBase object;
    for (auto _ : state) {
        bool ok = object.lock(0);
        ok = object.lock(0) && ok;
        object.unlock();
        object.unlock();
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(nested)->Name("VexBase/nested");

}  // namespace
