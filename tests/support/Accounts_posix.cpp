#include "Accounts.h"

#include "FileBytes.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

bool fileIsUserOnly(const TPath& path, std::string* detail)
{
    struct stat info;
    if (::lstat(nativePath(path).c_str(), &info) != 0) {
        *detail = "missing";
        return false;
    }
    char text[96];
    std::snprintf(text, sizeof text, "mode %03o, owner %lu, %s", info.st_mode & 07777,
                  static_cast<unsigned long>(info.st_uid),
                  S_ISREG(info.st_mode) ? "regular" : "not regular");
    *detail = text;
    return S_ISREG(info.st_mode) && (info.st_mode & 07777) == 0600 && info.st_uid == ::geteuid();
}

bool makeSymbolicLink(const TPath& link, const TPath& target)
{
    return ::symlink(nativePath(target).c_str(), nativePath(link).c_str()) == 0;
}

bool makeFifo(const TPath& path)
{
    return ::mkfifo(nativePath(path).c_str(), 0600) == 0;
}

unsigned setCreationMask(unsigned mask)
{
    return static_cast<unsigned>(::umask(static_cast<mode_t>(mask)));
}

bool setModeAndOwner(const std::string& path, unsigned mode, unsigned long owner)
{
    return ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0 &&
           ::chown(path.c_str(), static_cast<uid_t>(owner), static_cast<gid_t>(-1)) == 0;
}

HeldFileLock::HeldFileLock(const std::string& path)
{
    m_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

HeldFileLock::~HeldFileLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

unsigned long effectiveUserId()
{
    return static_cast<unsigned long>(::geteuid());
}

namespace {

// Runs a program with arguments, its output thrown away; its exit status or -1.
int quietly(const char* const* argv)
{
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(argv[0], const_cast<char* const*>(argv));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The argument list that runs `command` as the user with nothing of ours.
pid_t startAs(unsigned long uid, unsigned long gid, const std::string& command, bool ownGroup)
{
    const std::string reuid = "--reuid=" + std::to_string(uid);
    const std::string regid = "--regid=" + std::to_string(gid);
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (ownGroup)
            ::setpgid(0, 0);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::chdir("/");
        const char* argv[] = {"/usr/bin/setpriv", reuid.c_str(), regid.c_str(),
                              "--clear-groups", "--", "/bin/sh", "-c", command.c_str(),
                              nullptr};
        ::execv(argv[0], const_cast<char* const*>(argv));
        ::_exit(127);
    }
    if (ownGroup)
        ::setpgid(child, child);
    return child;
}

}  // namespace

OtherUser::OtherUser()
{
    if (::geteuid() != 0) {
        m_unavailable = "needs a second local user, which only a test run by root can create";
        return;
    }
    if (::access("/usr/sbin/useradd", X_OK) != 0 || ::access("/usr/sbin/userdel", X_OK) != 0 ||
        ::access("/usr/bin/setpriv", X_OK) != 0) {
        m_unavailable = "needs useradd, userdel and setpriv to act as a second local user";
        return;
    }
    const std::string name = "kyroadv" + std::to_string(::getpid() % 1000000);
    const char* add[] = {"/usr/sbin/useradd", "--system", "--no-create-home", "--shell",
                         "/usr/sbin/nologin", "--user-group", name.c_str(), nullptr};
    if (quietly(add) != 0) {
        m_unavailable = "useradd could not create the second local user " + name;
        return;
    }
    const passwd* entry = ::getpwnam(name.c_str());
    if (entry == nullptr) {
        const char* del[] = {"/usr/sbin/userdel", name.c_str(), nullptr};
        quietly(del);
        m_unavailable = "the new user " + name + " cannot be looked up";
        return;
    }
    m_name = name;
    m_id = entry->pw_uid;
    m_group = entry->pw_gid;
}

OtherUser::~OtherUser()
{
    stopAll();
    if (!m_name.empty()) {
        const char* del[] = {"/usr/sbin/userdel", m_name.c_str(), nullptr};
        quietly(del);
    }
}

int OtherUser::run(const std::string& command)
{
    if (m_name.empty())
        return -1;
    const pid_t child = startAs(m_id, m_group, command, false);
    if (child < 0)
        return -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool OtherUser::start(const std::string& command)
{
    if (m_name.empty())
        return false;
    const pid_t child = startAs(m_id, m_group, command, true);
    if (child < 0)
        return false;
    m_started.push_back(child);
    return true;
}

void OtherUser::stopAll()
{
    for (const long child : m_started) {
        ::kill(-static_cast<pid_t>(child), SIGKILL);
        int status = 0;
        while (::waitpid(static_cast<pid_t>(child), &status, 0) < 0 && errno == EINTR) {
        }
    }
    m_started.clear();
}
