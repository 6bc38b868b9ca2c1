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

}  // namespace kyro::platform::win32
