#include "kyro/platform/debug_output.h"

#include "kyro/platform/named_mutex.h"
#include "windows_support.h"

#include <string>

namespace kyro::platform {

const char* const kDebugOutputFileVariable = "KYRO_DEBUG_OUTPUT";

namespace {

const char* const kDebugOutputMutex = "KyroDebugOutput.Mutex";
const int kDebugOutputMutexWaitMs = 2000;

// The writers of all processes take turns on a named mutex while they append. A writer
// that cannot have it in time writes all the same.
class WriterTurn {
public:
    WriterTurn() : m_mutex(namedMutexOpen(kDebugOutputMutex))
    {
        if (m_mutex != kNoNamedMutex) {
            const NamedMutexWait waited = namedMutexWait(m_mutex, kDebugOutputMutexWaitMs);
            m_owned = waited == NamedMutexWait::Obtained || waited == NamedMutexWait::Abandoned;
        }
    }
    ~WriterTurn()
    {
        if (m_owned)
            namedMutexRelease(m_mutex);
        if (m_mutex != kNoNamedMutex)
            namedMutexClose(m_mutex);
    }
    WriterTurn(const WriterTurn&) = delete;
    WriterTurn& operator=(const WriterTurn&) = delete;

private:
    NamedMutex m_mutex;
    bool m_owned = false;
};

// Appends the line with one WriteFile on a handle that may only append, so the system puts
// it at the end of the file as it then is. Wine does not do that as one step for several
// processes (a line can land on another's), hence the turns.
void appendLine(const wchar_t* path, const std::string& line)
{
    const WriterTurn turn;
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
