// Windows backend: the one place that includes <windows.h>, and the UTF-8 to UTF-16 step
// every wide Win32 call goes through.
#ifndef KYRO_PLATFORM_WIN32_WINDOWS_SUPPORT_H
#define KYRO_PLATFORM_WIN32_WINDOWS_SUPPORT_H

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

namespace kyro::platform::win32 {

// UTF-8 text as UTF-16 for a W call. Null becomes the empty text; invalid UTF-8 bytes
// become U+FFFD, so a damaged name can never reach the system cut short.
std::wstring widen(const char* utf8);

// UTF-16 from a W call as UTF-8. Null becomes the empty text.
std::string narrow(const wchar_t* wide);

// Whether the kernel object belongs to the account of this process: its owner is the
// token's user, or the token's default owner (the Administrators group for an elevated
// process). False when the owner cannot be read.
bool ownedByThisAccount(HANDLE object);
// The same for an open file (its handle needs READ_CONTROL).
bool fileOwnedByThisAccount(HANDLE file);

// Owns a handle: closes it on scope exit unless taken, and keeps the last error of the
// call that failed across that close. Null and INVALID_HANDLE_VALUE both mean none.
class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : m_handle(handle) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE* receive() { reset(); return &m_handle; }
    HANDLE get() const { return m_handle; }
    bool valid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE take()
    {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void reset()
    {
        if (valid()) {
            const DWORD error = ::GetLastError();
            ::CloseHandle(m_handle);
            ::SetLastError(error);
        }
        m_handle = nullptr;
    }

private:
    HANDLE m_handle = nullptr;
};

// A self-relative security descriptor, from LocalAlloc, whose protected access list grants
// full control to this process's user, SYSTEM and the Administrators group only, and
// nobody else; null on failure. Free it with LocalFree.
PSECURITY_DESCRIPTOR userOnlySecurity();

}  // namespace kyro::platform::win32

#endif
