// POSIX backend of child-process launch: posix_spawn with the same redirections as the
// Windows backend. Every descriptor this backend makes is close-on-exec, and the child
// closes everything above its standard three before the program runs, so it inherits
// nothing else of its host.
#include "kyro/platform/process_launch.h"

#include "posix_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kyro::platform {

namespace {

// Children we started and have not yet seen end. Only these are ever waited for: the
// host's own children are none of our business. The list is never destroyed, because
// launch records may be freed by other objects' destructors at unload.
std::mutex g_childrenLock;
std::vector<pid_t>& children()
{
    static std::vector<pid_t>* list = new std::vector<pid_t>();
    return *list;
}

bool hasEnded(pid_t child)
{
    int status = 0;
    const pid_t result = ::waitpid(child, &status, WNOHANG);
    // ECHILD: the host reaps its children itself (or ignores SIGCHLD).
    return result == child || (result < 0 && errno == ECHILD);
}

void reapEnded()
{
    std::vector<pid_t>& list = children();
    list.erase(std::remove_if(list.begin(), list.end(), hasEnded), list.end());
}

void closeQuietly(int fd)
{
    if (fd >= 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
}

// A pipe whose ends are both close-on-exec and above the standard descriptors, so the
// child's dup2 onto 0, 1 and 2 can never overwrite one of them first.
bool makePipe(int ends[2])
{
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        if (ends[i] > 2)
            continue;
        const int moved = ::fcntl(ends[i], F_DUPFD_CLOEXEC, 3);
        ::close(ends[i]);
        ends[i] = moved;
    }
    if (ends[0] < 0 || ends[1] < 0) {
        closeQuietly(ends[0]);
        closeQuietly(ends[1]);
        return false;
    }
    return true;
}

// Splits at blanks; double quotes group words and are dropped; "" is an empty argument.
std::vector<std::string> splitCommandLine(const char* commandLine)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char* p = commandLine != nullptr ? commandLine : ""; *p != '\0'; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (*p == ' ' || *p == '\t')) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += *p;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

class SpawnSetup {
public:
    SpawnSetup()
    {
        m_actionsReady = ::posix_spawn_file_actions_init(&m_actions) == 0;
        m_attributesReady = ::posix_spawnattr_init(&m_attributes) == 0;
    }
    ~SpawnSetup()
    {
        if (m_actionsReady)
            ::posix_spawn_file_actions_destroy(&m_actions);
        if (m_attributesReady)
            ::posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // `output` below 0: the null device.
    bool prepare(int input, int output)
    {
        if (!m_actionsReady || !m_attributesReady)
            return false;
        if (::posix_spawn_file_actions_adddup2(&m_actions, input, 0) != 0)
            return false;
        if (output >= 0 ? ::posix_spawn_file_actions_adddup2(&m_actions, output, 1) != 0
                        : ::posix_spawn_file_actions_addopen(&m_actions, 1, "/dev/null",
                                                             O_WRONLY, 0) != 0)
            return false;
        if (::posix_spawn_file_actions_adddup2(&m_actions, 1, 2) != 0)
            return false;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        // Descriptors the host opened without close-on-exec stay behind as well.
        if (::posix_spawn_file_actions_addclosefrom_np(&m_actions, 3) != 0)
            return false;
#endif
        // The child starts with no blocked signals and default handlers, whatever the
        // launching thread of the host had set.
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        return ::posix_spawnattr_setsigmask(&m_attributes, &none) == 0 &&
               ::posix_spawnattr_setsigdefault(&m_attributes, &all) == 0 &&
               ::posix_spawnattr_setflags(&m_attributes,
                                          POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    }

    const posix_spawn_file_actions_t* actions() const { return &m_actions; }
    const posix_spawnattr_t* attributes() const { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
    bool m_actionsReady = false;
    bool m_attributesReady = false;
};

}  // namespace

LaunchResult launchProcess(const char* application, const char* commandLine,
                           LaunchedProcess* out, ChildOutput childOutput)
{
    if (out == nullptr)
        return LaunchResult::ProcessFailed;
    *out = LaunchedProcess();
    const std::string path = posix::nativePath(application);
    if (path.empty())
        return LaunchResult::ProcessFailed;

    std::vector<std::string> words = splitCommandLine(commandLine);
    if (words.empty())
        words.push_back(path);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);

    int output[2] = {-1, -1};
    int input[2] = {-1, -1};
    if (childOutput == ChildOutput::Pipe && !makePipe(output))
        return LaunchResult::PipeFailed;
    if (!makePipe(input)) {
        closeQuietly(output[0]);
        closeQuietly(output[1]);
        return LaunchResult::PipeFailed;
    }

    std::lock_guard<std::mutex> serial(g_childrenLock);
    reapEnded();

    pid_t child = -1;
    SpawnSetup setup;
    const bool started =
        setup.prepare(input[0], output[1]) &&
        ::posix_spawn(&child, path.c_str(), setup.actions(), setup.attributes(), argv.data(),
                      environ) == 0;

    // The child has its own copies of its ends; ours would keep the output pipe from ever
    // reporting that the child has gone.
    closeQuietly(input[0]);
    closeQuietly(output[1]);
    if (!started) {
        closeQuietly(input[1]);
        closeQuietly(output[0]);
        return LaunchResult::ProcessFailed;
    }
    try {
        children().push_back(child);
    } catch (...) {
        // Out of memory: the child runs all the same, only nobody will reap it.
    }

    out->processId = static_cast<std::uint32_t>(child);
    out->input = input[1];
    out->output = output[0];
    return LaunchResult::Started;
}

void closePipeEnd(PipeEnd end)
{
    if (end >= 0)
        closeQuietly(static_cast<int>(end));
}

long readPipe(PipeEnd end, void* buffer, std::size_t size)
{
    if (end < 0 || buffer == nullptr)
        return -1;
    for (;;) {
        const ssize_t got = ::read(static_cast<int>(end), buffer, size);
        if (got >= 0)
            return static_cast<long>(got);
        if (errno != EINTR)
            return -1;
    }
}

void releaseEndedChildren()
{
    std::lock_guard<std::mutex> serial(g_childrenLock);
    reapEnded();
}

int openHandleCount()
{
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(folder);
    return count - 1;  // the listing's own descriptor
}

std::string executablePath()
{
    std::vector<char> path(4096);
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size())
        return std::string();
    std::string text(path.data(), static_cast<std::size_t>(length));
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

bool environmentVariable(const char* name, std::string* value)
{
    if (name == nullptr || *name == '\0')
        return false;
    const char* found = std::getenv(name);
    if (found == nullptr)
        return false;
    if (value != nullptr)
        value->assign(found);
    return true;
}

bool setEnvironmentVariable(const char* name, const char* value)
{
    if (name == nullptr || *name == '\0' || std::strchr(name, '=') != nullptr)
        return false;
    if (value == nullptr)
        return ::unsetenv(name) == 0;
    return ::setenv(name, value, 1) == 0;
}

}  // namespace kyro::platform
