#include "kyro/platform/process_info.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

namespace kyro::platform {

namespace {

// The state letter of /proc/<pid>/stat: "pid (name) S ...", where the name may itself
// hold blanks and parentheses, so the state follows the last ")". 0 when unreadable.
char processState(std::uint32_t processId)
{
    char path[48];
    std::snprintf(path, sizeof(path), "/proc/%u/stat", processId);
    std::FILE* file = std::fopen(path, "re");
    if (file == nullptr)
        return 0;
    char line[512];
    const std::size_t length = std::fread(line, 1, sizeof(line) - 1, file);
    std::fclose(file);
    line[length] = '\0';
    const char* close = std::strrchr(line, ')');
    return close != nullptr && close[1] == ' ' ? close[2] : 0;
}

}  // namespace

std::uint32_t currentProcessId()
{
    return static_cast<std::uint32_t>(::getpid());
}

bool processIsAlive(std::uint32_t processId)
{
    // 0 and negative ids would signal whole process groups.
    if (processId == 0 || processId > 0x7FFFFFFFu)
        return false;
    if (::kill(static_cast<pid_t>(processId), 0) != 0 && errno != EPERM)
        return false;
    // An ended child that nobody has reaped yet still answers kill().
    const char state = processState(processId);
    return state != 'Z' && state != 'X';
}

}  // namespace kyro::platform
