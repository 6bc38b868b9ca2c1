// The table behind fault_injection.h, shared by both backends.
#include "kyro/platform/fault_injection.h"

#include <mutex>

namespace kyro::platform {

namespace fault_detail {
std::atomic<unsigned> g_armedPoints{0};
}  // namespace fault_detail

namespace {

struct PointState {
    long nth = 0;
    FaultRepeat repeat = FaultRepeat::Once;
    long calls = 0;
    long injected = 0;
};

// Only armed calls come here, so one lock for the whole table costs nothing that matters.
// (std::mutex is constant-initialised: usable by calls made during start-up and exit.)
std::mutex g_lock;
PointState g_points[kFaultPointCount];

int indexOf(FaultPoint point)
{
    const int index = static_cast<int>(point);
    return index >= 0 && index < kFaultPointCount ? index : -1;
}

}  // namespace

void armFault(FaultPoint point, long nth, FaultRepeat repeat)
{
    const int index = indexOf(point);
    if (index < 0)
        return;
    std::lock_guard<std::mutex> guard(g_lock);
    PointState& state = g_points[index];
    state.nth = nth;
    state.repeat = repeat;
    state.calls = 0;
    state.injected = 0;
    fault_detail::g_armedPoints.fetch_or(1u << index, std::memory_order_relaxed);
}

void disarmFaults()
{
    std::lock_guard<std::mutex> guard(g_lock);
    fault_detail::g_armedPoints.store(0, std::memory_order_relaxed);
}

long faultPointCalls(FaultPoint point)
{
    const int index = indexOf(point);
    if (index < 0)
        return 0;
    std::lock_guard<std::mutex> guard(g_lock);
    return g_points[index].calls;
}

long faultsInjected(FaultPoint point)
{
    const int index = indexOf(point);
    if (index < 0)
        return 0;
    std::lock_guard<std::mutex> guard(g_lock);
    return g_points[index].injected;
}

namespace fault_detail {

bool countAndDecide(FaultPoint point)
{
    const int index = indexOf(point);
    if (index < 0)
        return false;
    std::lock_guard<std::mutex> guard(g_lock);
    // Some other point may be the armed one; this one then runs as usual, uncounted.
    if ((g_armedPoints.load(std::memory_order_relaxed) & (1u << index)) == 0)
        return false;
    PointState& state = g_points[index];
    const long call = ++state.calls;
    const bool fail = state.nth > 0 &&
                      (call == state.nth || (state.repeat == FaultRepeat::FromThenOn && call > state.nth));
    if (fail)
        ++state.injected;
    return fail;
}

}  // namespace fault_detail

}  // namespace kyro::platform
