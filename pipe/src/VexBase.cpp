#include "kyro/pipe/VexBase.h"

#include "kyro/platform/thread_slot.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <unordered_set>

namespace {

const std::uint64_t kNoOwner = 0;

// How often a waiter looks whether the holder's thread has ended: a thread that ends
// does not know which locks it still holds, so nobody is woken for it.
const auto kOwnerCheck = std::chrono::milliseconds(5);

// Who holds a lock. Not the system's thread id: that is handed out again once its thread
// has ended (glibc gives it to the very next thread), and a thread that ended holding a
// lock would then seem to hold it in the new one. Tokens are never given out twice, and
// those of threads that are still running are listed, so that a waiter can tell a
// holder that has gone. The list is never destroyed: threads may end after static
// destruction has begun.
class LiveThreads {
public:
    static LiveThreads& instance()
    {
        static LiveThreads* const list = new LiveThreads();
        return *list;
    }

    std::uint64_t add()
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        const std::uint64_t token = ++m_last;
        m_tokens.insert(token);
        return token;
    }

    void remove(std::uint64_t token)
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        m_tokens.erase(token);
    }

    bool ended(std::uint64_t token)
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        return token != kNoOwner && m_tokens.count(token) == 0;
    }

private:
    std::mutex m_mutex;
    std::uint64_t m_last = kNoOwner;
    std::unordered_set<std::uint64_t> m_tokens;
};

// Lists the thread while it runs, through a per-thread slot whose clean-up runs when the
// thread ends; set on its first lock, so threads that never lock cost nothing.
void threadEnded(void* token)
{
    LiveThreads::instance().remove(*static_cast<std::uint64_t*>(token));
    delete static_cast<std::uint64_t*>(token);
}

// The slot is given back when the library is unloaded (the clean-ups of live threads then
// run): a clean-up must not outlive the code it calls.
struct EndOfThread {
    EndOfThread() { made = kyro::platform::threadSlotCreate(&threadEnded, &slot); }
    ~EndOfThread()
    {
        if (made)
            kyro::platform::threadSlotDestroy(slot);
        made = false;
    }
    kyro::platform::ThreadSlotId slot = 0;
    bool made = false;
};

thread_local std::uint64_t t_token = kNoOwner;

// A thread's first token; kNoOwner only when out of memory.
std::uint64_t newThreadToken()
{
    static EndOfThread endOfThread;
    auto* token = new (std::nothrow) std::uint64_t(LiveThreads::instance().add());
    if (token == nullptr)
        return kNoOwner;
    t_token = *token;
    // Without the slot the thread is never seen to end: its locks then stay held.
    if (!endOfThread.made || !kyro::platform::threadSlotSet(endOfThread.slot, token))
        delete token;
    return t_token;
}

inline std::uint64_t threadToken()
{
    return t_token != kNoOwner ? t_token : newThreadToken();
}

}  // namespace

// A recursive lock with a time-out that knows its owner, as the system mutexes the
// framework's callers are used to do:
// 1. Free and taken by one compare-and-swap of the owner's token; a thread that holds it
//    only counts the depth. An unlock() by a thread that does not hold it is harmless.
// 2. A contended lock() waits on a condition, woken by the last unlock() of the holder
//    when someone waits, and looks every few milliseconds whether the holder's thread
//    has ended.
// 3. Abandoned (its holder ended without unlocking): the next waiter takes it over and
//    is told false, as a wait on an abandoned system mutex is. It then holds the lock
//    once; callers that unlock whatever lock() said give it back.
class VexBase::Lock {
public:
    bool acquire(std::uint32_t timeoutMs)
    {
        const std::uint64_t self = threadToken();
        if (self == kNoOwner)
            return false;
        // Only this thread can have stored its own token, so a plain read is enough here.
        if (m_owner.load(std::memory_order_relaxed) == self) {
            ++m_depth;
            return true;
        }
        std::uint64_t expected = kNoOwner;
        if (m_owner.compare_exchange_strong(expected, self, std::memory_order_acquire,
                                            std::memory_order_relaxed)) {
            m_depth = 1;
            return true;
        }
        return wait(self, timeoutMs);
    }

    void releaseOne()
    {
        if (m_owner.load(std::memory_order_relaxed) != threadToken() || --m_depth != 0)
            return;
        m_owner.store(kNoOwner);  // sequentially consistent with the waiter count below
        if (m_waiters.load() != 0) {
            const std::lock_guard<std::mutex> hold(m_waitMutex);
            m_freed.notify_one();
        }
    }

private:
    bool wait(std::uint64_t self, std::uint32_t timeoutMs)
    {
        using Clock = std::chrono::steady_clock;
        const bool endless = timeoutMs == 0 || timeoutMs == 0xFFFFFFFFu;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock<std::mutex> hold(m_waitMutex);
        m_waiters.fetch_add(1);
        bool taken = false;
        bool abandoned = false;
        for (;;) {
            std::uint64_t holder = kNoOwner;
            if (m_owner.compare_exchange_strong(holder, self)) {
                taken = true;
                break;
            }
            // A holder's token stays in place until it unlocks, so a token of a thread
            // that has ended means the lock was abandoned; one waiter wins the swap.
            if (LiveThreads::instance().ended(holder) &&
                m_owner.compare_exchange_strong(holder, self)) {
                taken = abandoned = true;
                break;
            }
            const Clock::time_point now = Clock::now();
            if (!endless && now >= deadline)
                break;
            const Clock::time_point until =
                endless || deadline - now > kOwnerCheck ? now + kOwnerCheck : deadline;
            m_freed.wait_until(hold, until);
        }
        m_waiters.fetch_sub(1);
        if (taken)
            m_depth = 1;
        return taken && !abandoned;
    }

    std::atomic<std::uint64_t> m_owner{kNoOwner};
    std::uint32_t m_depth = 0;  // the holder's alone
    std::atomic<std::uint32_t> m_waiters{0};
    std::mutex m_waitMutex;
    std::condition_variable m_freed;
};

VexBase::~VexBase()
{
    delete m_lock.load(std::memory_order_acquire);
}

VexBase::Lock* VexBase::ensureLock()
{
    Lock* lock = m_lock.load(std::memory_order_acquire);
    if (lock != nullptr)
        return lock;
    Lock* made = new (std::nothrow) Lock();
    if (made == nullptr)
        return nullptr;
    // Two threads may both get here first: one lock wins, the other is thrown away.
    if (m_lock.compare_exchange_strong(lock, made, std::memory_order_acq_rel,
                                       std::memory_order_acquire))
        return made;
    delete made;
    return lock;
}

bool VexBase::lock(std::uint32_t timeoutMs)
{
    Lock* lock = ensureLock();
    return lock != nullptr && lock->acquire(timeoutMs);
}

void VexBase::unlock()
{
    if (Lock* lock = m_lock.load(std::memory_order_acquire))
        lock->releaseOne();
}

std::uint32_t VexBase::addRef()
{
    return ++m_references;
}

std::uint32_t VexBase::release()
{
    const std::uint32_t remaining = --m_references;
    if (remaining == 0)
        delete this;
    return remaining;
}
