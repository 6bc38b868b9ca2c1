#include "kyro/pipe/VexBase.h"

#include <chrono>
#include <mutex>
#include <new>

namespace {

// Who holds a lock. Not the system's thread id: that is handed out again once its thread
// has ended (glibc gives it to the very next thread), and a thread that ended holding a
// lock would then seem to hold it in the new one. Tokens are never given out twice.
std::uint64_t threadToken()
{
    static std::atomic<std::uint64_t> next{0};
    thread_local std::uint64_t token = 0;
    if (token == 0)
        token = ++next;
    return token;
}

const std::uint64_t kNoOwner = 0;

}  // namespace

// A recursive lock with a time-out, built on a plain timed mutex so that it knows its
// owner: an unlock() by a thread that does not hold it is then harmless, as it is with
// the system mutexes the framework's callers are used to.
class VexBase::Lock {
public:
    bool acquire(std::uint32_t timeoutMs)
    {
        const std::uint64_t self = threadToken();
        // Only this thread can have stored its own token, so a plain read is enough here.
        if (m_owner.load(std::memory_order_relaxed) == self) {
            ++m_depth;
            return true;
        }
        try {
            if (timeoutMs == 0 || timeoutMs == 0xFFFFFFFFu)
                m_mutex.lock();
            else if (!m_mutex.try_lock_for(std::chrono::milliseconds(timeoutMs)))
                return false;
        } catch (...) {
            return false;
        }
        m_owner.store(self, std::memory_order_relaxed);
        m_depth = 1;
        return true;
    }

    void releaseOne()
    {
        if (m_owner.load(std::memory_order_relaxed) != threadToken())
            return;
        if (--m_depth == 0) {
            m_owner.store(kNoOwner, std::memory_order_relaxed);
            m_mutex.unlock();
        }
    }

private:
    std::timed_mutex m_mutex;
    std::atomic<std::uint64_t> m_owner{kNoOwner};
    std::uint32_t m_depth = 0;
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
