#include "kyro/platform/web_request.h"

#include "windows_support.h"

#include <wininet.h>

#include <string>

namespace kyro::platform {

namespace {

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

}  // namespace

WebRequestResult openWebAddress(const char* agent, const char* url)
{
    HINTERNET session = nullptr;
    try {
        const std::wstring agentName = win32::widen(agent);
        const std::wstring address = win32::widen(url);

        session = ::InternetOpenW(agentName.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                  nullptr, 0);
        if (session == nullptr)
            return WebRequestResult::SessionFailed;
        // Only https: the point of the request is the server's certificate.
        const HINTERNET request =
            isHttpsAddress(address)
                ? ::InternetOpenUrlW(session, address.c_str(), nullptr, 0,
                                     INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_PRAGMA_NOCACHE,
                                     0)
                : nullptr;
        if (request == nullptr) {
            ::InternetCloseHandle(session);
            return WebRequestResult::AddressFailed;
        }
        ::InternetCloseHandle(request);
        ::InternetCloseHandle(session);
        return WebRequestResult::Opened;
    } catch (...) {
        // Only the texts can throw, before anything is opened.
        if (session != nullptr)
            ::InternetCloseHandle(session);
        return WebRequestResult::SessionFailed;
    }
}

}  // namespace kyro::platform
