// Threads the library starts itself, and the alertable sleep of a thread that waits for
// something another thread may announce early.
//
// Threads started here run with every signal blocked on POSIX, so the host's signal
// handlers keep running on the host's own threads.
//
// There is no way to kill a thread: no system does it safely (a thread stopped inside the
// heap's or the loader's lock leaves it held for good). An owner whose thread does not end
// in time lets go of it with releaseThread(); the thread runs on until it returns and
// then cleans up after itself. It must not use anything its owner frees meanwhile.
#ifndef KYRO_PLATFORM_THREADS_H
#define KYRO_PLATFORM_THREADS_H

#include <cstdint>

namespace kyro::platform {

using ThreadHandle = std::intptr_t;
constexpr ThreadHandle kNoThread = 0;
constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

using ThreadFunction = void (*)(void* argument);

// Starts `function(argument)` on a new thread (default stack). kNoThread on failure.
ThreadHandle startThread(ThreadFunction function, void* argument);

// Waits up to `timeoutMs` (kWaitForever: without limit) for the thread to end. True when
// it has ended. A thread must not wait for itself.
bool waitForThread(ThreadHandle thread, std::uint32_t timeoutMs);

// Gives the handle back; the handle must not be used again. A thread that has ended is
// cleaned up now. One still running is let go: it runs on and cleans up when it returns
// (Windows: the thread handle is closed; POSIX: the thread is detached). kNoThread is
// ignored. Every started thread's handle must be released once.
void releaseThread(ThreadHandle thread);

// The calling thread's system id (GetCurrentThreadId, gettid).
std::uint32_t currentThreadId();

// A token another thread uses to end the owner's current or next sleepAlertable() early.
using SleepWaker = std::intptr_t;
constexpr SleepWaker kNoSleepWaker = 0;

// A new token for the calling thread. Each token is reference counted on its own and must
// be released with releaseSleepWaker(); it stays safe to use after its thread has ended.
// kNoSleepWaker when none could be made.
SleepWaker sleepWakerForCurrentThread();

// Wakes the token's thread: its sleepAlertable() returns now if it is sleeping, else its
// next one returns at once. Wake-ups do not add up: several before a sleep end that one
// sleep only. Once the thread has ended it does nothing. False for kNoSleepWaker or when
// the wake-up could not be delivered.
bool wakeSleeper(SleepWaker waker);

void releaseSleepWaker(SleepWaker waker);

// Sleeps `timeoutMs` milliseconds (SleepEx(timeoutMs, TRUE)). Returns true when the sleep
// ended early: a wake-up through a token of this thread, or, on Windows, an APC queued to
// the thread by anyone, which runs meanwhile. 0 only takes a pending wake-up.
bool sleepAlertable(std::uint32_t timeoutMs);

}  // namespace kyro::platform

#endif
