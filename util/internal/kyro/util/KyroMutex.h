// KyroMutex: a named mutex that keeps apart the writers of a file that several processes of
// the same user write (the log files, the user settings). A facade over an implementation
// object, which in turn sits on the platform's named mutex.
//
// One KyroMutex is not meant for several threads at once. The mutex belongs to the thread
// that locked it: unlock() must come from that thread.
//
// Locks nest: each successful lock() on one object is matched by one unlock(), and
// isLocked() stays true until the last of them. A mutex whose previous owner ended without
// releasing it is reported as not obtained; it is given back at once, so the next lock()
// anywhere gets it without waiting for the ended owner.
#ifndef KYRO_UTIL_KYROMUTEX_H
#define KYRO_UTIL_KYROMUTEX_H

#include "kyro/platform/named_mutex.h"
#include "kyro/util/TStr.h"

class KyroMutexImp {
public:
    virtual ~KyroMutexImp() = default;
    virtual bool create(const TStr& name) = 0;
    virtual bool close() = 0;
    virtual bool lock(int timeoutMs) = 0;
    virtual bool unlock() = 0;
    virtual bool isLocked() const = 0;

protected:
    KyroMutexImp() = default;
    KyroMutexImp(const KyroMutexImp&) = delete;
    KyroMutexImp& operator=(const KyroMutexImp&) = delete;
};

class KyroWinMutexImp : public KyroMutexImp {
public:
    KyroWinMutexImp() = default;
    // Gives back what it holds and closes the handle.
    ~KyroWinMutexImp() override;

    bool create(const TStr& name) override;
    bool close() override;
    bool lock(int timeoutMs) override;
    bool unlock() override;
    bool isLocked() const override;

private:
    // Successful locks not yet unlocked; held while above zero.
    int m_depth = 0;
    kyro::platform::NamedMutex m_handle = kyro::platform::kNoNamedMutex;
};

class KyroMutex {
public:
    KyroMutex();
    virtual ~KyroMutex();
    KyroMutex(const KyroMutex&) = delete;
    KyroMutex& operator=(const KyroMutex&) = delete;

    // Opens the mutex of that name, creating it when there is none. Any handle open before
    // is closed first. False for an empty name or when no handle was obtained.
    virtual bool create(const TStr& name);
    // Closes the handle; a lock still held stays with this thread. True when there was no
    // handle or it was closed.
    virtual bool close();
    // Waits up to timeoutMs (0 only tries, -1 waits for ever). False without waiting when
    // there is no handle or the time-out is below -1; false when the time ran out or the
    // previous owner ended without releasing it.
    virtual bool lock(int timeoutMs);
    // Gives back one successful lock. True without doing anything when there is no handle
    // or nothing is held; false when the release failed (another thread's lock).
    virtual bool unlock();
    virtual bool isLocked() const;

private:
    KyroMutexImp* m_imp;
};

#endif
