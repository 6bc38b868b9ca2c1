#include "kyro/platform/process_info.h"

#include "windows_support.h"

#include <psapi.h>
#include <tlhelp32.h>

namespace kyro::platform {

std::uint32_t currentProcessId()
{
    return static_cast<std::uint32_t>(::GetCurrentProcessId());
}

bool processIsAlive(std::uint32_t processId)
{
    if (processId == 0)
        return false;
    const win32::ScopedHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process.valid()) {
        // A process we may not open exists all the same; an unknown id is a bad parameter.
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    }
    // The process object outlives the process while handles to it are open.
    return ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

int threadCount()
{
    const win32::ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot.valid())
        return -1;
    // The snapshot holds every thread of the system; ours are those we own.
    const DWORD self = ::GetCurrentProcessId();
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot.get(), &entry); more;
         more = ::Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == self)
            ++count;
        entry.dwSize = sizeof(entry);
    }
    return count > 0 ? count : -1;
}

std::int64_t privateMemoryBytes()
{
    // The commit charge, which is the private bytes (PrivateUsage of the longer structure
    // is the same figure, and Wine leaves it unset).
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters)))
        return -1;
    return static_cast<std::int64_t>(counters.PagefileUsage);
}

}  // namespace kyro::platform
