#include "sleep_waker.h"

#include "kyro/platform/thread_slot.h"

#include "per_thread_slot.h"

#include <atomic>
#include <new>

namespace kyro::platform {

namespace {

struct Waker {
    std::atomic<int> references{1};
    WakeSignal* signal = nullptr;
};

void releaseWaker(Waker* waker)
{
    if (waker->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        deleteWakeSignal(waker->signal);
        delete waker;
    }
}

PerThreadSlot<Waker, releaseWaker> g_wakerSlot;

Waker* currentWaker(bool create)
{
    ThreadSlotId slot;
    if (!g_wakerSlot.get(&slot))
        return nullptr;
    auto* waker = static_cast<Waker*>(threadSlotGet(slot));
    if (waker != nullptr || !create)
        return waker;
    waker = new (std::nothrow) Waker;
    if (waker == nullptr)
        return nullptr;
    waker->signal = newWakeSignal();
    if (waker->signal == nullptr || !threadSlotSet(slot, waker)) {
        deleteWakeSignal(waker->signal);
        delete waker;
        return nullptr;
    }
    return waker;
}

}  // namespace

WakeSignal* currentWakeSignal(bool create)
{
    Waker* waker = currentWaker(create);
    return waker == nullptr ? nullptr : waker->signal;
}

WakeSignal* wakeSignalOf(SleepWaker token)
{
    auto* waker = reinterpret_cast<Waker*>(token);
    return waker == nullptr ? nullptr : waker->signal;
}

SleepWaker sleepWakerForCurrentThread()
{
    Waker* waker = currentWaker(true);
    if (waker == nullptr)
        return kNoSleepWaker;
    waker->references.fetch_add(1, std::memory_order_relaxed);
    return reinterpret_cast<SleepWaker>(waker);
}

void releaseSleepWaker(SleepWaker token)
{
    if (token != kNoSleepWaker)
        releaseWaker(reinterpret_cast<Waker*>(token));
}

}  // namespace kyro::platform
