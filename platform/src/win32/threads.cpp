// Windows backend of threads and alertable sleeps. Threads come from _beginthreadex, so
// the runtime library sets up its per-thread data. A thread that asked for a waker gets
// an auto-reset event of its own, and its sleeps are alertable waits on that event: a
// wake-up is a SetEvent, which leaves nothing behind that points into this module (an
// APC of ours could still be queued to a host thread after the library was unloaded).
#include "kyro/platform/threads.h"

#include "kyro/platform/thread_slot.h"

#include "../per_thread_slot.h"
#include "windows_support.h"

#include <atomic>
#include <mutex>
#include <new>
#include <process.h>

namespace kyro::platform {

namespace {

struct ThreadStart {
    ThreadFunction function;
    void* argument;
};

unsigned __stdcall runThread(void* context)
{
    const ThreadStart start = *static_cast<ThreadStart*>(context);
    delete static_cast<ThreadStart*>(context);
    start.function(start.argument);
    return 0;
}

// One per thread that asked for a waker: the thread holds one reference, each token one.
struct Waker {
    std::atomic<int> references{1};
    HANDLE event = nullptr;
};

void releaseWaker(Waker* waker)
{
    if (waker->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        ::CloseHandle(waker->event);
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
    if (waker == nullptr && create) {
        waker = new (std::nothrow) Waker;
        if (waker == nullptr)
            return nullptr;
        waker->event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (waker->event == nullptr || !threadSlotSet(slot, waker)) {
            if (waker->event != nullptr)
                ::CloseHandle(waker->event);
            delete waker;
            waker = nullptr;
        }
    }
    return waker;
}

}  // namespace

ThreadHandle startThread(ThreadFunction function, void* argument)
{
    if (function == nullptr)
        return kNoThread;
    auto* start = new (std::nothrow) ThreadStart{function, argument};
    if (start == nullptr)
        return kNoThread;
    unsigned id = 0;
    const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, &runThread, start, 0, &id);
    if (thread == 0) {
        delete start;
        return kNoThread;
    }
    return static_cast<ThreadHandle>(thread);
}

bool waitForThread(ThreadHandle thread, std::uint32_t timeoutMs)
{
    if (thread == kNoThread)
        return false;
    const DWORD wait = timeoutMs == kWaitForever ? INFINITE : static_cast<DWORD>(timeoutMs);
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(thread), wait) == WAIT_OBJECT_0;
}

void releaseThread(ThreadHandle thread)
{
    if (thread != kNoThread)
        ::CloseHandle(reinterpret_cast<HANDLE>(thread));
}

std::uint32_t currentThreadId()
{
    return static_cast<std::uint32_t>(::GetCurrentThreadId());
}

SleepWaker sleepWakerForCurrentThread()
{
    Waker* waker = currentWaker(true);
    if (waker == nullptr)
        return kNoSleepWaker;
    waker->references.fetch_add(1, std::memory_order_relaxed);
    return reinterpret_cast<SleepWaker>(waker);
}

bool wakeSleeper(SleepWaker token)
{
    auto* waker = reinterpret_cast<Waker*>(token);
    return waker != nullptr && ::SetEvent(waker->event) != FALSE;
}

void releaseSleepWaker(SleepWaker token)
{
    if (token != kNoSleepWaker)
        releaseWaker(reinterpret_cast<Waker*>(token));
}

bool sleepAlertable(std::uint32_t timeoutMs)
{
    const DWORD wait = timeoutMs == kWaitForever ? INFINITE : static_cast<DWORD>(timeoutMs);
    // Without a waker of its own nobody can wake this thread but an APC.
    Waker* waker = currentWaker(false);
    if (waker == nullptr)
        return ::SleepEx(wait, TRUE) == WAIT_IO_COMPLETION;
    const DWORD result = ::WaitForSingleObjectEx(waker->event, wait, TRUE);
    return result == WAIT_OBJECT_0 || result == WAIT_IO_COMPLETION;
}

}  // namespace kyro::platform
