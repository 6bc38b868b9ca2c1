// POSIX backend of threads and alertable sleeps: pthreads with a small record per thread
// that lets waits have a time-out; a thread's wake-up signal (../sleep_waker.h) is a
// condition with a flag.
#include "kyro/platform/threads.h"

#include "../sleep_waker.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <new>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kyro::platform {

namespace {

struct ThreadRecord {
    ThreadFunction function = nullptr;
    void* argument = nullptr;
    pthread_t thread{};
    std::mutex lock;
    std::condition_variable ended;
    bool hasEnded = false;
    bool released = false;  // the owner let go: the thread frees the record itself
};

void* runThread(void* context)
{
    auto* record = static_cast<ThreadRecord*>(context);
    record->function(record->argument);
    bool released;
    {
        std::lock_guard<std::mutex> guard(record->lock);
        record->hasEnded = true;
        released = record->released;
        record->ended.notify_all();
    }
    if (released)
        delete record;
    return nullptr;
}

void plainSleep(std::uint32_t timeoutMs)
{
    timespec left{static_cast<time_t>(timeoutMs / 1000),
                  static_cast<long>(timeoutMs % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

struct WakeSignal {
    std::mutex lock;
    std::condition_variable signal;
    bool pending = false;
};

WakeSignal* newWakeSignal()
{
    return new (std::nothrow) WakeSignal;
}

void deleteWakeSignal(WakeSignal* signal)
{
    delete signal;
}

ThreadHandle startThread(ThreadFunction function, void* argument)
{
    if (function == nullptr)
        return kNoThread;
    auto* record = new (std::nothrow) ThreadRecord;
    if (record == nullptr)
        return kNoThread;
    record->function = function;
    record->argument = argument;

    // The new thread inherits the mask: it takes no signal meant for the host.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const int started = ::pthread_create(&record->thread, nullptr, &runThread, record);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (started != 0) {
        delete record;
        return kNoThread;
    }
    return reinterpret_cast<ThreadHandle>(record);
}

bool waitForThread(ThreadHandle thread, std::uint32_t timeoutMs)
{
    auto* record = reinterpret_cast<ThreadRecord*>(thread);
    if (record == nullptr)
        return false;
    std::unique_lock<std::mutex> guard(record->lock);
    if (timeoutMs == kWaitForever)
        record->ended.wait(guard, [record] { return record->hasEnded; });
    else
        record->ended.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                               [record] { return record->hasEnded; });
    return record->hasEnded;
}

void releaseThread(ThreadHandle thread)
{
    auto* record = reinterpret_cast<ThreadRecord*>(thread);
    if (record == nullptr)
        return;
    {
        std::lock_guard<std::mutex> guard(record->lock);
        if (!record->hasEnded) {
            record->released = true;
            ::pthread_detach(record->thread);
            return;
        }
    }
    // It has left its function; the join only waits for it to return from the system.
    ::pthread_join(record->thread, nullptr);
    delete record;
}

std::uint32_t currentThreadId()
{
    return static_cast<std::uint32_t>(::syscall(SYS_gettid));
}

bool wakeSleeper(SleepWaker token)
{
    WakeSignal* waker = wakeSignalOf(token);
    if (waker == nullptr)
        return false;
    {
        std::lock_guard<std::mutex> guard(waker->lock);
        waker->pending = true;
    }
    waker->signal.notify_all();
    return true;
}

bool sleepAlertable(std::uint32_t timeoutMs)
{
    // Without a waker of its own nobody can wake this thread.
    WakeSignal* waker = currentWakeSignal(false);
    if (waker == nullptr) {
        plainSleep(timeoutMs);
        return false;
    }
    std::unique_lock<std::mutex> guard(waker->lock);
    if (timeoutMs == kWaitForever)
        waker->signal.wait(guard, [waker] { return waker->pending; });
    else
        waker->signal.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                               [waker] { return waker->pending; });
    const bool woken = waker->pending;
    waker->pending = false;
    return woken;
}

}  // namespace kyro::platform
