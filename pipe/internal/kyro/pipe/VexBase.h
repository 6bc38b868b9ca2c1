// VexBase: the reference count and the lock every object of the pipe framework carries.
//
// Every framework class keeps the three virtual slots of this class first, in this order:
// destructor, lock(), unlock().
//
// The count is a plain integer: an object is used by one thread at a time. The lock is
// recursive and timed, made on the first lock() (safely, should two threads get there at
// once), and behaves as a system mutex does when its holder's thread ends. Neither the
// count nor the lock is ever shared by two objects: a copy starts with its own count of 1
// and no lock.
#ifndef KYRO_PIPE_VEXBASE_H
#define KYRO_PIPE_VEXBASE_H

#include <atomic>
#include <cstdint>

class VexBase {
public:
    constexpr VexBase() : m_references(1), m_lock(nullptr) {}
    VexBase(const VexBase&) : m_references(1), m_lock(nullptr) {}
    // Assignment copies an object's contents, never its identity: count and lock stay.
    VexBase& operator=(const VexBase&) { return *this; }
    virtual ~VexBase();

    // Waits at most timeoutMs for the lock; 0 (and 0xFFFFFFFF, the system's "infinite")
    // waits without limit. True when this thread holds the lock; each true lock() needs
    // one unlock(). False on time-out. False too for the first waiter after the holder's
    // thread ended without unlocking (abandoned): that waiter then holds the lock once, so
    // one unlock() gives it back.
    virtual bool lock(std::uint32_t timeoutMs);
    // Gives one level of the lock back. A thread that does not hold it changes nothing.
    virtual void unlock();

    // Adds a reference; returns the new count.
    std::uint32_t addRef();
    // Drops a reference and destroys the object when none is left; returns the count that
    // remains (0 once the object is gone).
    std::uint32_t release();
    // The references held now.
    std::uint32_t references() const { return m_references; }

private:
    class Lock;
    Lock* ensureLock();

    std::uint32_t m_references;
    std::atomic<Lock*> m_lock;
};

#endif
