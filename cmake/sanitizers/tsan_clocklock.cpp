// ThreadSanitizer builds only (KYRO_SANITIZE=thread): linked into every program and the
// shared library.
//
// The ThreadSanitizer runtimes at hand (g++ 12's libtsan, clang 14's) do not intercept
// pthread_mutex_clocklock, which std::timed_mutex::try_lock_for and
// std::recursive_timed_mutex use with the steady clock, and which the named mutex's
// timed wait calls. A lock taken that way is then unknown to the tool: its unlock is
// reported as the unlock of a mutex nobody holds, and what the mutex guards looks
// unguarded. This definition takes the calls of the code it is linked with, tells the
// tool about the lock through its annotation interface, as its own interceptor of
// pthread_mutex_timedlock does, and takes the lock with the C library's function.
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <sanitizer/tsan_interface.h>
#include <time.h>

namespace {

using ClockLock = int (*)(pthread_mutex_t*, clockid_t, const struct timespec*);

ClockLock realClockLock()
{
    static const ClockLock real =
        reinterpret_cast<ClockLock>(::dlsym(RTLD_NEXT, "pthread_mutex_clocklock"));
    return real;
}

}  // namespace

extern "C" int pthread_mutex_clocklock(pthread_mutex_t* mutex, clockid_t clock,
                                       const struct timespec* deadline)
{
    const ClockLock real = realClockLock();
    if (real == nullptr)
        return EINVAL;
    // A free mutex, or a robust one whose owner ended, is taken at once through the
    // tool's own try-lock, which knows that a dead owner no longer holds it (a thread of
    // this process that ended holding it would otherwise still be its owner to the tool).
    const int now = ::pthread_mutex_trylock(mutex);
    if (now != EBUSY)
        return now;
    // A lock that can time out is a try-lock to the tool: no deadlock report for waiting.
    __tsan_mutex_pre_lock(mutex, __tsan_mutex_try_lock);
    const int result = real(mutex, clock, deadline);
    // A robust mutex whose owner ended while we waited is held by the caller all the same.
    const bool held = result == 0 || result == EOWNERDEAD;
    __tsan_mutex_post_lock(mutex, __tsan_mutex_try_lock | (held ? 0 : __tsan_mutex_try_lock_failed),
                           0);
    return result;
}
