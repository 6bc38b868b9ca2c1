// Windows backend of threads and alertable sleeps. Threads come from _beginthreadex, so
// the runtime library sets up its per-thread data. A thread's wake-up signal
// (../sleep_waker.h) is an auto-reset event, and its sleeps are alertable waits on it: a
// wake-up is a SetEvent, which leaves nothing behind that points into this module (an
// APC of ours could still be queued to a host thread after the library was unloaded).
#include "kyro/platform/threads.h"

#include "../sleep_waker.h"
#include "windows_support.h"

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

}  // namespace

struct WakeSignal {
    HANDLE event = nullptr;
};

WakeSignal* newWakeSignal()
{
    const HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr)
        return nullptr;
    auto* signal = new (std::nothrow) WakeSignal{event};
    if (signal == nullptr)
        ::CloseHandle(event);
    return signal;
}

void deleteWakeSignal(WakeSignal* signal)
{
    if (signal == nullptr)
        return;
    ::CloseHandle(signal->event);
    delete signal;
}

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

bool wakeSleeper(SleepWaker token)
{
    WakeSignal* waker = wakeSignalOf(token);
    return waker != nullptr && ::SetEvent(waker->event) != FALSE;
}

bool sleepAlertable(std::uint32_t timeoutMs)
{
    const DWORD wait = timeoutMs == kWaitForever ? INFINITE : static_cast<DWORD>(timeoutMs);
    // Without a waker of its own nobody can wake this thread but an APC.
    WakeSignal* waker = currentWakeSignal(false);
    if (waker == nullptr)
        return ::SleepEx(wait, TRUE) == WAIT_IO_COMPLETION;
    const DWORD result = ::WaitForSingleObjectEx(waker->event, wait, TRUE);
    return result == WAIT_OBJECT_0 || result == WAIT_IO_COMPLETION;
}

}  // namespace kyro::platform
