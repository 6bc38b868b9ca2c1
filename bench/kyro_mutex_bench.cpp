// KyroMutex as the log writer uses it: every record opens the named mutex, locks it,
// unlocks it and closes it again.
//
//   KyroMutex/per_record   create + lock(-1) + unlock + close of one name per iteration
//   KyroMutex/lock_unlock  lock(-1) + unlock on a mutex kept open (the floor under the above)
//
// Uncontended, one name per benchmark (with the process id, so parallel runs stay apart).
#include "bench_support.h"

#include "kyro/platform/named_mutex.h"
#include "kyro/platform/process_info.h"
#include "kyro/util/KyroMutex.h"

#include <string>

namespace {

std::string benchName(const char* tag)
{
    return "kyro_bench_mutex_" + std::to_string(kyro::platform::currentProcessId()) + "_" + tag;
}

void perRecord(benchmark::State& state)
{
    // No handle stays open between records, as in a process that is the only writer.
    const TStr name(benchName("per_record").c_str());
    for (auto _ : state) {
        KyroMutex mutex;
        bool ok = mutex.create(name) && mutex.lock(-1);
        ok = mutex.unlock() && mutex.close() && ok;
        benchmark::DoNotOptimize(ok);
        if (!ok) {
            state.SkipWithError("the mutex could not be taken");
            break;
        }
    }
    kyro::platform::namedMutexDiscard(name.utf8());
}
BENCHMARK(perRecord)->Name("KyroMutex/per_record");

void lockUnlock(benchmark::State& state)
{
    const TStr name(benchName("lock_unlock").c_str());
    KyroMutex mutex;
    if (!mutex.create(name)) {
        state.SkipWithError("the mutex could not be created");
        return;
    }
    for (auto _ : state) {
        bool ok = mutex.lock(-1);
        ok = mutex.unlock() && ok;
        benchmark::DoNotOptimize(ok);
    }
    mutex.close();
    kyro::platform::namedMutexDiscard(name.utf8());
}
BENCHMARK(lockUnlock)->Name("KyroMutex/lock_unlock");

}  // namespace
