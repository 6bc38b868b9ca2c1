// Windows backend: the registry and the shell's folders.
#include "kyro/platform/known_folders.h"

#include "windows_support.h"

#include <objbase.h>
#include <shlobj.h>

namespace kyro::platform {

namespace {

// SHGetFolderPathW with no window and no token, the default path; empty on failure.
std::string shellFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_DEFAULT, path)))
        return std::string();
    return win32::narrow(path);
}

// "CommonFilesDir" when it is a non-empty REG_SZ value.
std::string registryCommonFilesDir()
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                        KEY_READ, &key) != ERROR_SUCCESS)
        return std::string();
    std::string result;
    DWORD type = 0;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key, L"CommonFilesDir", nullptr, &type, nullptr, &bytes) ==
            ERROR_SUCCESS &&
        type == REG_SZ && bytes > 0) {
        // One unit more than asked for: a stored value need not end with a zero.
        std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD got = bytes;
        if (::RegQueryValueExW(key, L"CommonFilesDir", nullptr, &type,
                               reinterpret_cast<BYTE*>(&value[0]), &got) == ERROR_SUCCESS &&
            type == REG_SZ)
            result = win32::narrow(value.c_str());
    }
    ::RegCloseKey(key);
    return result;
}

using KnownFolderFunction = HRESULT(WINAPI*)(REFGUID, DWORD, HANDLE, PWSTR*);

// FOLDERID_LocalAppData, spelled out so no GUID library is needed.
const GUID kLocalAppData = {0xF1B32785, 0x6FBA, 0x4FCF,
                            {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};

std::string knownLocalAppData()
{
    HMODULE shell = ::GetModuleHandleW(L"shell32.dll");
    bool loaded = false;
    if (shell == nullptr) {
        shell = ::LoadLibraryW(L"shell32.dll");
        loaded = shell != nullptr;
    }
    if (shell == nullptr)
        return std::string();
    std::string result;
    const auto function = reinterpret_cast<KnownFolderFunction>(
        reinterpret_cast<void*>(::GetProcAddress(shell, "SHGetKnownFolderPath")));
    if (function != nullptr) {
        PWSTR path = nullptr;
        if (SUCCEEDED(function(kLocalAppData, 0, nullptr, &path)) && path != nullptr)
            result = win32::narrow(path);
        ::CoTaskMemFree(path);
    }
    if (loaded)
        ::FreeLibrary(shell);
    return result;
}

}  // namespace

const char kPathListSeparator = ';';

std::string commonFilesFolder()
{
    std::string folder = registryCommonFilesDir();
    return folder.empty() ? shellFolder(CSIDL_PROGRAM_FILES_COMMON) : folder;
}

std::string commonAppDataFolder()
{
    return shellFolder(CSIDL_COMMON_APPDATA);
}

std::string localAppDataFolder()
{
    std::string folder = knownLocalAppData();
    return folder.empty() ? shellFolder(CSIDL_LOCAL_APPDATA) : folder;
}

std::string systemPathText(const char* path)
{
    return path == nullptr ? std::string() : std::string(path);
}

}  // namespace kyro::platform
