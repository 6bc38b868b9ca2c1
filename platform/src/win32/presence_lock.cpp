// Windows backend of presence locks: a named mutex whose handle stays open while the lock
// is held. Presence is the mutex's existence, not its ownership: the probe itself creates
// the mutex for an instant, and a thread that ends abandons ownership but not the handle.
#include "kyro/platform/presence_lock.h"

#include "windows_support.h"

namespace kyro::platform {

PresenceResult acquirePresenceLock(const char* name, PresenceLock* lock)
{
    if (lock == nullptr)
        return PresenceResult::Failed;
    *lock = kNoPresenceLock;
    if (name == nullptr || *name == '\0')
        return PresenceResult::Failed;
    const std::wstring wideName = win32::widen(name);

    const ULONGLONG giveUp = ::GetTickCount64() + 100;
    for (;;) {
        const HANDLE mutex = ::CreateMutexW(nullptr, TRUE, wideName.c_str());
        if (mutex == nullptr)
            return PresenceResult::Failed;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            *lock = reinterpret_cast<PresenceLock>(mutex);
            return PresenceResult::Acquired;
        }
        ::CloseHandle(mutex);
        // A probe holds the name for an instant; a holder keeps it.
        if (::GetTickCount64() >= giveUp)
            return PresenceResult::HeldElsewhere;
        ::Sleep(2);
    }
}

void releasePresenceLock(PresenceLock lock)
{
    if (lock == kNoPresenceLock)
        return;
    const HANDLE mutex = reinterpret_cast<HANDLE>(lock);
    // Only the creating thread owns it; from any other thread this fails harmlessly.
    ::ReleaseMutex(mutex);
    ::CloseHandle(mutex);
}

bool presenceLockHeld(const char* name)
{
    if (name == nullptr || *name == '\0')
        return false;
    const HANDLE mutex = ::CreateMutexW(nullptr, TRUE, win32::widen(name).c_str());
    if (mutex == nullptr)
        return false;
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    ::CloseHandle(mutex);
    return existed;
}

}  // namespace kyro::platform
