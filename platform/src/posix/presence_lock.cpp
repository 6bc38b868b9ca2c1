// POSIX backend of presence locks: a lock file in the per-user runtime folder, held with
// an exclusive flock() for as long as the lock is taken. The system drops a flock when
// its holder ends, however it ends. The holder removes the file when it lets go; a file
// left by a holder that was killed is unlocked, which the probe reads as "nobody".
#include "kyro/platform/presence_lock.h"

#include "posix_support.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kyro::platform {

namespace {

struct HeldLock {
    std::string path;
    int fd = -1;
};

constexpr std::size_t kMaxLockPath = 4000;

std::string lockPath(const char* name)
{
    std::string folder;
    if (name == nullptr || *name == '\0' || !posix::runtimeFolder(&folder))
        return std::string();
    return posix::runtimeFilePath(folder, 'l', name, false, kMaxLockPath);
}

bool flockNow(int fd, int operation)
{
    int status;
    do {
        status = ::flock(fd, operation | LOCK_NB);
    } while (status != 0 && errno == EINTR);
    return status == 0;
}

}  // namespace

PresenceResult acquirePresenceLock(const char* name, PresenceLock* lock)
{
    if (lock == nullptr)
        return PresenceResult::Failed;
    *lock = kNoPresenceLock;
    const std::string path = lockPath(name);
    if (path.empty())
        return PresenceResult::Failed;

    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return PresenceResult::Failed;
        if (!flockNow(fd, LOCK_EX)) {
            ::close(fd);
            if (errno != EWOULDBLOCK)
                return PresenceResult::Failed;
            // A probe holds a shared lock for an instant; a holder keeps it.
            if (std::chrono::steady_clock::now() >= giveUp)
                return PresenceResult::HeldElsewhere;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        // The file may have been removed by a holder letting go between our open and our
        // lock: only a lock on the file that is still there counts.
        struct stat opened;
        struct stat current;
        if (::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &current) == 0 &&
            opened.st_dev == current.st_dev && opened.st_ino == current.st_ino) {
            auto* held = new (std::nothrow) HeldLock;
            if (held == nullptr) {
                ::close(fd);
                return PresenceResult::Failed;
            }
            held->path = path;
            held->fd = fd;
            *lock = reinterpret_cast<PresenceLock>(held);
            return PresenceResult::Acquired;
        }
        ::close(fd);
    }
}

void releasePresenceLock(PresenceLock lock)
{
    auto* held = reinterpret_cast<HeldLock*>(lock);
    if (held == nullptr)
        return;
    // Removed while still locked, so nobody can lock the old file and take it for live.
    ::unlink(held->path.c_str());
    ::close(held->fd);
    delete held;
}

bool presenceLockHeld(const char* name)
{
    const std::string path = lockPath(name);
    if (path.empty())
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool free = flockNow(fd, LOCK_SH);
    const int error = errno;
    ::close(fd);  // also lets go of our shared lock
    return !free && error == EWOULDBLOCK;
}

}  // namespace kyro::platform
