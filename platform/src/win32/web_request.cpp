#include "kyro/platform/web_request.h"

#include "windows_support.h"

#include <wininet.h>

#include <string>

namespace kyro::platform {

namespace {

constexpr DWORD kIdleIntervalMs = 100;

bool isHttpsAddress(const std::wstring& url)
{
    static const wchar_t kScheme[] = L"https://";
    if (url.size() < 8)
        return false;
    for (std::size_t i = 0; i < 8; ++i) {
        wchar_t c = url[i];
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != kScheme[i])
            return false;
    }
    return true;
}

// One request, shared by the thread that makes it and the caller that waits for it. A
// caller that gives up at its limit closes the session (which cuts a waiting WinINet call
// short) and leaves; the last of the two to let go frees it.
struct Attempt {
    std::wstring agent;
    std::wstring address;
    DWORD limitMs = 0;
    HMODULE module = nullptr;   // keeps this code loaded until the thread has ended
    LONG references = 2;

    SRWLOCK lock = SRWLOCK_INIT;
    HINTERNET session = nullptr;   // while the thread's calls use it
    bool givenUp = false;

    // Read by the caller only once the thread has ended.
    WebRequestResult result = WebRequestResult::SessionFailed;
};

void release(Attempt* attempt)
{
    if (::InterlockedDecrement(&attempt->references) == 0)
        delete attempt;
}

WebRequestResult openOnce(Attempt* attempt)
{
    const HINTERNET session = ::InternetOpenW(attempt->agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                              nullptr, nullptr, 0);
    if (session == nullptr)
        return WebRequestResult::SessionFailed;
    // WinINet's own waits end by the limit as well, where closing the session does not cut
    // them short, so the thread does not linger long after its caller has gone.
    DWORD timeout = attempt->limitMs;
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT})
        ::InternetSetOptionW(session, option, &timeout, sizeof timeout);
    ::AcquireSRWLockExclusive(&attempt->lock);
    const bool givenUp = attempt->givenUp;
    if (!givenUp)
        attempt->session = session;
    ::ReleaseSRWLockExclusive(&attempt->lock);
    if (givenUp) {
        ::InternetCloseHandle(session);
        return WebRequestResult::TimedOut;
    }

    // Only https: the point of the request is the server's certificate.
    const HINTERNET request =
        isHttpsAddress(attempt->address)
            ? ::InternetOpenUrlW(session, attempt->address.c_str(), nullptr, 0,
                                 INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE, 0)
            : nullptr;
    ::AcquireSRWLockExclusive(&attempt->lock);
    const bool closedByCaller = attempt->session == nullptr;
    attempt->session = nullptr;
    ::ReleaseSRWLockExclusive(&attempt->lock);
    if (request != nullptr)
        ::InternetCloseHandle(request);
    if (!closedByCaller)
        ::InternetCloseHandle(session);
    return request != nullptr ? WebRequestResult::Opened : WebRequestResult::AddressFailed;
}

DWORD WINAPI requestThread(void* argument)
{
    Attempt* attempt = static_cast<Attempt*>(argument);
    attempt->result = openOnce(attempt);
    const HMODULE module = attempt->module;
    release(attempt);
    if (module != nullptr)
        ::FreeLibraryAndExitThread(module, 0);
    return 0;
}

// The caller's side: the session closed, so the thread's call returns, and the request left
// to the thread.
void giveUp(Attempt* attempt)
{
    ::AcquireSRWLockExclusive(&attempt->lock);
    attempt->givenUp = true;
    const HINTERNET session = attempt->session;
    attempt->session = nullptr;
    ::ReleaseSRWLockExclusive(&attempt->lock);
    if (session != nullptr)
        ::InternetCloseHandle(session);
}

}  // namespace

WebRequestResult openWebAddress(const char* agent, const char* url, const WebRequestWait& wait)
{
    Attempt* attempt = nullptr;
    try {
        attempt = new Attempt;
        attempt->agent = win32::widen(agent);
        attempt->address = win32::widen(url);
    } catch (...) {
        // Only the texts can throw, before anything is opened.
        delete attempt;
        return WebRequestResult::SessionFailed;
    }
    attempt->limitMs = wait.limitMs;
    static const char inThisModule = 0;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&inThisModule), &attempt->module))
        attempt->module = nullptr;
    const HANDLE thread = ::CreateThread(nullptr, 0, &requestThread, attempt, 0, nullptr);
    if (thread == nullptr) {
        if (attempt->module != nullptr)
            ::FreeLibrary(attempt->module);
        delete attempt;
        return WebRequestResult::SessionFailed;
    }

    WebRequestResult result = WebRequestResult::TimedOut;
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        if (elapsed >= wait.limitMs) {
            giveUp(attempt);
            break;
        }
        const DWORD slice = static_cast<DWORD>(
            wait.limitMs - elapsed < kIdleIntervalMs ? wait.limitMs - elapsed : kIdleIntervalMs);
        const DWORD outcome = ::WaitForSingleObject(thread, slice);
        if (outcome == WAIT_OBJECT_0) {
            result = attempt->result;
            break;
        }
        if (outcome != WAIT_TIMEOUT) {
            giveUp(attempt);
            result = WebRequestResult::AddressFailed;
            break;
        }
        if (wait.idle != nullptr)
            wait.idle(wait.context);
    }
    ::CloseHandle(thread);
    release(attempt);
    return result;
}

}  // namespace kyro::platform
