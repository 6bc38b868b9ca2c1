// Windows backend: GetComputerNameW and GetVersionExW.
#include "kyro/platform/system_info.h"

#include "windows_support.h"

namespace kyro::platform {

std::string computerName()
{
    wchar_t name[16] = {};
    DWORD size = 16;
    if (!::GetComputerNameW(name, &size))
        return std::string();
    return win32::narrow(name);
}

bool osVersion(OsVersion* version)
{
    OSVERSIONINFOEXW extended = {};
    extended.dwOSVersionInfoSize = sizeof(extended);
    OSVERSIONINFOW* record = reinterpret_cast<OSVERSIONINFOW*>(&extended);
    if (!::GetVersionExW(record)) {
        // Systems that do not know the extended record still fill the basic one.
        extended = OSVERSIONINFOEXW();
        record->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!::GetVersionExW(record))
            return false;
    }
    version->major = record->dwMajorVersion;
    version->minor = record->dwMinorVersion;
    version->build = record->dwBuildNumber;
    // The record's text need not end within its buffer.
    wchar_t servicePack[129] = {};
    for (int i = 0; i < 128 && record->szCSDVersion[i] != L'\0'; ++i)
        servicePack[i] = record->szCSDVersion[i];
    version->servicePack = win32::narrow(servicePack);
    return true;
}

}  // namespace kyro::platform
