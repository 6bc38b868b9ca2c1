#include "demo_system.h"

#include <windows.h>

#include <stdlib.h>

namespace {

std::wstring widen(const std::string& text)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string narrow(const std::wstring& wide)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(length > 0 ? length : 1, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], length, nullptr, nullptr);
    text.resize(text.size() - 1);
    return text;
}

}  // namespace

std::string programFolder()
{
    wchar_t path[32768];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, 32768);
    if (length == 0 || length >= 32768)
        return ".";
    const std::string program = narrow(std::wstring(path, length));
    return program.substr(0, program.find_last_of('\\'));
}

void setVariable(const char* name, const std::string& value)
{
    // The runtime's copy (what the library reads) and the system's (what the companion
    // inherits) together.
    ::_wputenv_s(widen(name).c_str(), widen(value).c_str());
}

char pathSeparator()
{
    return '\\';
}
