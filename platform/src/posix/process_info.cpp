#include "kyro/platform/process_info.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
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

int threadCount()
{
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(tasks);
    return count > 0 ? count : -1;
}

std::int64_t privateMemoryBytes()
{
    std::FILE* file = std::fopen("/proc/self/status", "re");
    if (file == nullptr)
        return -1;
    // "RssAnon:    1234 kB"; kernels before 4.5 have only VmRSS.
    long long anonymous = -1;
    long long resident = -1;
    char line[256];
    while (std::fgets(line, sizeof(line), file) != nullptr) {
        if (std::strncmp(line, "RssAnon:", 8) == 0)
            anonymous = std::atoll(line + 8);
        else if (std::strncmp(line, "VmRSS:", 6) == 0)
            resident = std::atoll(line + 6);
    }
    std::fclose(file);
    const long long kilobytes = anonymous >= 0 ? anonymous : resident;
    return kilobytes >= 0 ? static_cast<std::int64_t>(kilobytes) * 1024 : -1;
}

}  // namespace kyro::platform
