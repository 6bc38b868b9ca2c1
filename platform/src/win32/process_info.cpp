#include "kyro/platform/process_info.h"

#include "windows_support.h"

namespace kyro::platform {

std::uint32_t currentProcessId()
{
    return static_cast<std::uint32_t>(::GetCurrentProcessId());
}

bool processIsAlive(std::uint32_t processId)
{
    if (processId == 0)
        return false;
    const HANDLE process =
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) {
        // A process we may not open exists all the same; an unknown id is a bad parameter.
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    }
    // The process object outlives the process while handles to it are open.
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

}  // namespace kyro::platform
