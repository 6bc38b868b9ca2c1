// Windows backend of child-process launch: CreateProcessW with the standard handles on
// anonymous pipes, no console window, and a handle list so that the child inherits those
// pipe ends and nothing else this process has marked inheritable.
#include "kyro/platform/process_launch.h"

#include "windows_support.h"

#include <cwchar>
#include <mutex>
#include <stdlib.h>
#include <string>
#include <vector>

namespace kyro::platform {

namespace {

using win32::ScopedHandle;

// A STARTUPINFOEXW attribute list naming the handles the child may inherit.
class HandleList {
public:
    explicit HandleList(HANDLE* handles, std::size_t count)
    {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        if (size == 0)
            return;
        m_storage.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_storage.data());
        if (!::InitializeProcThreadAttributeList(list, 1, 0, &size))
            return;
        m_list = list;
        if (!::UpdateProcThreadAttribute(m_list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                         count * sizeof(HANDLE), nullptr, nullptr)) {
            ::DeleteProcThreadAttributeList(m_list);
            m_list = nullptr;
        }
    }
    ~HandleList()
    {
        if (m_list != nullptr)
            ::DeleteProcThreadAttributeList(m_list);
    }
    HandleList(const HandleList&) = delete;
    HandleList& operator=(const HandleList&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return m_list; }

private:
    std::vector<unsigned char> m_storage;
    LPPROC_THREAD_ATTRIBUTE_LIST m_list = nullptr;
};

// One launch at a time: without a handle list (older systems) a child inherits every
// inheritable handle, so the child ends of a concurrent launch must not exist meanwhile.
std::mutex g_launchLock;

BOOL createProcess(const std::wstring& application, std::wstring commandLine,
                   STARTUPINFOEXW* startup, DWORD flags, PROCESS_INFORMATION* process)
{
    // CreateProcessW may write into the command line, so it gets its own copy.
    return ::CreateProcessW(application.c_str(), commandLine.empty() ? nullptr : &commandLine[0],
                            nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                            &startup->StartupInfo, process);
}

int probedHandleCount()
{
    // Handle values are multiples of 4 handed out from the bottom; a long run of unused
    // values means the table has ended.
    int count = 0;
    int misses = 0;
    for (ULONG_PTR value = 4; misses < 1024 && value < (1u << 24); value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            misses = 0;
        } else {
            ++misses;
        }
    }
    return count;
}

}  // namespace

LaunchResult launchProcess(const char* application, const char* commandLine,
                           LaunchedProcess* out, ChildOutput childOutput)
{
    if (out == nullptr)
        return LaunchResult::ProcessFailed;
    *out = LaunchedProcess();
    const std::wstring applicationWide = win32::widen(application);
    if (applicationWide.empty())
        return LaunchResult::ProcessFailed;

    std::lock_guard<std::mutex> serial(g_launchLock);

    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;

    ScopedHandle outputRead, outputWrite, inputRead, inputWrite;
    if (childOutput == ChildOutput::Discard) {
        *outputWrite.receive() =
            ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                          OPEN_EXISTING, 0, nullptr);
        if (outputWrite.get() == INVALID_HANDLE_VALUE)
            return LaunchResult::PipeFailed;
    } else if (!::CreatePipe(outputRead.receive(), outputWrite.receive(), &inheritable, 0) ||
               !::SetHandleInformation(outputRead.get(), HANDLE_FLAG_INHERIT, 0)) {
        return LaunchResult::PipeFailed;
    }
    if (!::CreatePipe(inputRead.receive(), inputWrite.receive(), &inheritable, 0) ||
        !::SetHandleInformation(inputWrite.get(), HANDLE_FLAG_INHERIT, 0))
        return LaunchResult::PipeFailed;

    STARTUPINFOEXW startup{};
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = inputRead.get();
    startup.StartupInfo.hStdOutput = outputWrite.get();
    startup.StartupInfo.hStdError = outputWrite.get();

    HANDLE childEnds[2] = {inputRead.get(), outputWrite.get()};
    HandleList handleList(childEnds, 2);

    const std::wstring commandLineWide = win32::widen(commandLine);
    PROCESS_INFORMATION process{};
    BOOL started = FALSE;
    if (handleList.get() != nullptr) {
        startup.StartupInfo.cb = sizeof(startup);
        startup.lpAttributeList = handleList.get();
        started = createProcess(applicationWide, commandLineWide, &startup,
                                CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, &process);
    }
    // A system without handle lists refuses the attribute list itself; such a child then
    // inherits every inheritable handle, which the launch lock keeps to our two.
    if (!started && (handleList.get() == nullptr || ::GetLastError() == ERROR_INVALID_PARAMETER)) {
        startup.StartupInfo.cb = sizeof(startup.StartupInfo);
        startup.lpAttributeList = nullptr;
        started = createProcess(applicationWide, commandLineWide, &startup, CREATE_NO_WINDOW,
                                &process);
    }
    if (!started)
        return LaunchResult::ProcessFailed;

    // Nobody waits for the child or watches it end.
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);

    out->processId = static_cast<std::uint32_t>(process.dwProcessId);
    out->input = reinterpret_cast<PipeEnd>(inputWrite.take());
    out->output = childOutput == ChildOutput::Pipe ? reinterpret_cast<PipeEnd>(outputRead.take())
                                                   : kNoPipeEnd;
    // The child's ends close here: it holds its own copies, and ours would keep the output
    // pipe from ever reporting that the child has gone.
    return LaunchResult::Started;
}

void closePipeEnd(PipeEnd end)
{
    if (end != kNoPipeEnd && end != 0)
        ::CloseHandle(reinterpret_cast<HANDLE>(end));
}

long readPipe(PipeEnd end, void* buffer, std::size_t size)
{
    if (end == kNoPipeEnd || end == 0 || buffer == nullptr)
        return -1;
    const DWORD wanted = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
    for (;;) {
        DWORD read = 0;
        if (::ReadFile(reinterpret_cast<HANDLE>(end), buffer, wanted, &read, nullptr)) {
            // A writer's zero-length write arrives as an empty read: not the end.
            if (read > 0 || wanted == 0)
                return static_cast<long>(read);
            continue;
        }
        // The last writer gone: broken, or (as Wine may say) no longer connected.
        const DWORD error = ::GetLastError();
        return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED ? 0 : -1;
    }
}

void releaseEndedChildren()
{
}

int openHandleCount()
{
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count > 0)
        return static_cast<int>(count);
    // A live process always holds handles: a zero is a system that does not keep count.
    return probedHandleCount();
}

std::string executablePath()
{
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::string();
        if (length < path.size())
            return win32::narrow(path.data());
        if (path.size() >= 32768)
            return std::string();
        path.resize(path.size() * 2);
    }
}

bool environmentVariable(const char* name, std::string* value)
{
    if (name == nullptr || *name == '\0')
        return false;
    const wchar_t* found = ::_wgetenv(win32::widen(name).c_str());
    if (found == nullptr)
        return false;
    if (value != nullptr)
        *value = win32::narrow(found);
    return true;
}

bool setEnvironmentVariable(const char* name, const char* value)
{
    if (name == nullptr || *name == '\0' || std::string(name).find('=') != std::string::npos)
        return false;
    // The runtime's call keeps its own copy of the environment (getenv) and the system's
    // (what children inherit) in step; an empty value removes the variable.
    return ::_wputenv_s(win32::widen(name).c_str(), win32::widen(value).c_str()) == 0;
}

}  // namespace kyro::platform
