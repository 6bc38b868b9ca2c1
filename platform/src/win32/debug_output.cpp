#include "kyro/platform/debug_output.h"

#include "windows_support.h"

#include <string>

namespace kyro::platform {

const char* const kDebugOutputFileVariable = "KYRO_DEBUG_OUTPUT";

namespace {

// Appends the line with one WriteFile on a handle that may only append: the system puts
// every write at the end of the file as it then is, so lines of several processes never
// overwrite or split each other.
void appendLine(const wchar_t* path, const std::string& line)
{
    const HANDLE file =
        ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    // A console, a pipe or a device named by mistake is not written.
    if (::GetFileType(file) == FILE_TYPE_DISK) {
        DWORD written = 0;
        ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    ::CloseHandle(file);
}

}  // namespace

void writeDebugOutput(const char* utf8Text)
{
    const DWORD lastError = ::GetLastError();
    try {
        const char* text = utf8Text != nullptr ? utf8Text : "";
        ::OutputDebugStringW(win32::widen(text).c_str());

        // The runtime's copy of the environment, which setEnvironmentVariable() keeps.
        const wchar_t* path = ::_wgetenv(win32::widen(kDebugOutputFileVariable).c_str());
        if (path != nullptr && *path != L'\0')
            appendLine(path, std::string(text) + "\n");
    } catch (...) {
        // Out of memory: the message is lost, nothing else.
    }
    ::SetLastError(lastError);
}

}  // namespace kyro::platform
