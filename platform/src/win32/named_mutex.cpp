// Windows backend of named mutexes: a thin layer over the kernel's own mutex objects.
#include "kyro/platform/named_mutex.h"

#include "kyro/platform/fault_injection.h"
#include "windows_support.h"

#include <aclapi.h>

namespace kyro::platform {

namespace {

HANDLE toHandle(NamedMutex mutex)
{
    return reinterpret_cast<HANDLE>(mutex);
}

}  // namespace

NamedMutex namedMutexOpen(const char* name)
{
    if (name == nullptr || *name == '\0')
        return kNoNamedMutex;
    if (failThisCall(FaultPoint::NamedMutexOpen)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return kNoNamedMutex;
    }
    const HANDLE handle = ::CreateMutexW(nullptr, FALSE, win32::widen(name).c_str());
    if (handle == nullptr)
        return kNoNamedMutex;
    // One that was there already may have been made by another account in this session,
    // to hold it for ever or to share it with us: only our own is used.
    if (::GetLastError() == ERROR_ALREADY_EXISTS && !win32::ownedByThisAccount(handle)) {
        ::CloseHandle(handle);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return kNoNamedMutex;
    }
    return reinterpret_cast<NamedMutex>(handle);
}

NamedMutexWait namedMutexWait(NamedMutex mutex, int timeoutMs)
{
    if (mutex == kNoNamedMutex || timeoutMs < -1)
        return NamedMutexWait::Failed;
    const DWORD wait = timeoutMs == -1 ? INFINITE : static_cast<DWORD>(timeoutMs);
    switch (::WaitForSingleObject(toHandle(mutex), wait)) {
    case WAIT_OBJECT_0:
        return NamedMutexWait::Obtained;
    case WAIT_ABANDONED:
        return NamedMutexWait::Abandoned;
    case WAIT_TIMEOUT:
        return NamedMutexWait::TimedOut;
    default:
        return NamedMutexWait::Failed;
    }
}

bool namedMutexRelease(NamedMutex mutex)
{
    return mutex != kNoNamedMutex && ::ReleaseMutex(toHandle(mutex)) != FALSE;
}

bool namedMutexClose(NamedMutex mutex)
{
    return mutex != kNoNamedMutex && ::CloseHandle(toHandle(mutex)) != FALSE;
}

std::string namedMutexLocation(const char*)
{
    return std::string();
}

bool namedMutexDiscard(const char* name)
{
    // The kernel removes the object with its last handle.
    return name != nullptr && *name != '\0';
}

}  // namespace kyro::platform
