#include "kyro/util/KyroMutex.h"

#include <new>

namespace platform = kyro::platform;

// --- KyroWinMutexImp ---------------------------------------------------------------------

KyroWinMutexImp::~KyroWinMutexImp()
{
    if (m_handle == platform::kNoNamedMutex)
        return;
    // Every nested lock of ours goes back, or the mutex would stay ours until this thread
    // ends and everyone else would wait for it.
    while (m_depth > 0 && platform::namedMutexRelease(m_handle))
        --m_depth;
    platform::namedMutexClose(m_handle);
    m_handle = platform::kNoNamedMutex;
    m_depth = 0;
}

bool KyroWinMutexImp::create(const TStr& name)
{
    close();
    if (name.isEmpty())
        return false;
    m_handle = platform::namedMutexOpen(name.utf8());
    return m_handle != platform::kNoNamedMutex;
}

bool KyroWinMutexImp::close()
{
    if (m_handle == platform::kNoNamedMutex)
        return true;
    const bool closed = platform::namedMutexClose(m_handle);
    m_handle = platform::kNoNamedMutex;
    return closed;
}

bool KyroWinMutexImp::lock(int timeoutMs)
{
    if (m_handle == platform::kNoNamedMutex || timeoutMs < -1)
        return false;
    switch (platform::namedMutexWait(m_handle, timeoutMs)) {
    case platform::NamedMutexWait::Obtained:
        ++m_depth;
        return true;
    case platform::NamedMutexWait::Abandoned:
        // The previous owner ended while holding it, so what it guarded may be half
        // written: report it as not obtained. The wait made us the owner, though; give it
        // back now, or every other process would wait out its full time-out.
        platform::namedMutexRelease(m_handle);
        return false;
    default:
        return false;
    }
}

bool KyroWinMutexImp::unlock()
{
    if (m_handle == platform::kNoNamedMutex || m_depth == 0)
        return true;
    if (!platform::namedMutexRelease(m_handle))
        return false;
    --m_depth;
    return true;
}

bool KyroWinMutexImp::isLocked() const
{
    return m_depth > 0;
}

// --- KyroMutex ---------------------------------------------------------------------------

KyroMutex::KyroMutex() : m_imp(new (std::nothrow) KyroWinMutexImp())
{
}

KyroMutex::~KyroMutex()
{
    delete m_imp;
}

bool KyroMutex::create(const TStr& name)
{
    return m_imp != nullptr && m_imp->create(name);
}

bool KyroMutex::close()
{
    return m_imp == nullptr || m_imp->close();
}

bool KyroMutex::lock(int timeoutMs)
{
    return m_imp != nullptr && m_imp->lock(timeoutMs);
}

bool KyroMutex::unlock()
{
    return m_imp == nullptr || m_imp->unlock();
}

bool KyroMutex::isLocked() const
{
    return m_imp != nullptr && m_imp->isLocked();
}
