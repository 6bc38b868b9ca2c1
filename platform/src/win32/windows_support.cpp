#include "windows_support.h"

#include <cstring>

namespace kyro::platform::win32 {

std::wstring widen(const char* utf8)
{
    if (utf8 == nullptr || *utf8 == '\0')
        return std::wstring();
    const int bytes = static_cast<int>(std::strlen(utf8));
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8, bytes, nullptr, 0);
    if (units <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8, bytes, &wide[0], units);
    return wide;
}

std::string narrow(const wchar_t* wide)
{
    if (wide == nullptr || *wide == L'\0')
        return std::string();
    const int units = static_cast<int>(::wcslen(wide));
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide, units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::string();
    std::string text(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, units, &text[0], bytes, nullptr, nullptr);
    return text;
}

}  // namespace kyro::platform::win32
