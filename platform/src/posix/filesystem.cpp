// POSIX backend of the file and folder calls.
#include "kyro/platform/filesystem.h"

#include "kyro/platform/fault_injection.h"
#include "posix_support.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kyro::platform {

const char* const kTextLineEnd = "\n";

PathKind pathKind(const char* path)
{
    const std::string native = posix::nativePath(path);
    struct stat info;
    if (native.empty() || ::stat(native.c_str(), &info) != 0)
        return PathKind::Missing;
    if (S_ISDIR(info.st_mode))
        return PathKind::Directory;
    if (S_ISREG(info.st_mode))
        return PathKind::File;
    return PathKind::Other;
}

bool makeDirectory(const char* path)
{
    const std::string native = posix::nativePath(path);
    return !native.empty() && ::mkdir(native.c_str(), 0700) == 0;
}

int removeFile(const char* path)
{
    const std::string native = posix::nativePath(path);
    return !native.empty() && ::unlink(native.c_str()) == 0 ? 0 : -1;
}

bool listFolder(const char* folder, std::vector<std::string>* names)
{
    const std::string native = posix::nativePath(folder);
    if (native.empty() || names == nullptr)
        return false;
    DIR* listing = ::opendir(native.c_str());
    if (listing == nullptr)
        return false;
    names->clear();
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names->push_back(entry->d_name);
    }
    ::closedir(listing);
    return true;
}

bool removeOwnPlainFile(const char* path)
{
    const std::string native = posix::nativePath(path);
    struct stat info;
    // lstat and unlink both take a link for itself, never for what it points to.
    return !native.empty() && ::lstat(native.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_uid == ::geteuid() && ::unlink(native.c_str()) == 0;
}

namespace {

// The descriptor as a stream of `mode`; the descriptor is closed when that fails.
std::FILE* streamOf(int fd, const char* mode)
{
    std::FILE* stream = ::fdopen(fd, mode);
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return stream;
}

}  // namespace

std::FILE* openFile(const char* path, const char* mode)
{
    const std::string native = posix::nativePath(path);
    if (native.empty() || mode == nullptr)
        return nullptr;
    if (failThisCall(FaultPoint::FileOpen)) {
        errno = EACCES;
        return nullptr;
    }
    int flags;
    switch (mode[0]) {
    case 'r':
        flags = O_RDONLY;
        break;
    case 'w':
        flags = O_WRONLY | O_CREAT;
        break;
    case 'a':
        flags = O_WRONLY | O_CREAT | O_APPEND;
        break;
    default:
        errno = EINVAL;
        return nullptr;
    }
    const bool update = std::strchr(mode, '+') != nullptr;
    if (update)
        flags = (flags & ~O_ACCMODE) | O_RDWR;
    const bool writes = mode[0] != 'r' || update;
    // Close-on-exec, so a launched companion never inherits the stream; not blocking, so
    // a pipe planted at the path cannot hold the open up (the descriptor is refused below).
    flags |= O_CLOEXEC | O_NONBLOCK;
    if (writes)
        flags |= O_NOFOLLOW;
    const int fd = ::open(native.c_str(), flags, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return nullptr;
    struct stat info;
    bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                  (!writes || info.st_nlink <= 1);
    usable = usable && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
    // Emptied only now that it is known to be a plain file of its own.
    if (usable && mode[0] == 'w')
        usable = ::ftruncate(fd, 0) == 0;
    if (!usable) {
        ::close(fd);
        errno = EACCES;
        return nullptr;
    }
    return streamOf(fd, mode);
}

std::FILE* createNewFile(const char* path)
{
    const std::string native = posix::nativePath(path);
    if (native.empty())
        return nullptr;
    if (failThisCall(FaultPoint::FileOpen)) {
        errno = EACCES;
        return nullptr;
    }
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return nullptr;
    // The umask may have taken bits away; none is ever added.
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
        ::close(fd);
        ::unlink(native.c_str());
        return nullptr;
    }
    return streamOf(fd, "wb");
}

std::FILE* openPlainFileForReading(const char* path)
{
    const std::string native = posix::nativePath(path);
    if (native.empty())
        return nullptr;
    if (failThisCall(FaultPoint::FileOpen)) {
        errno = EACCES;
        return nullptr;
    }
    // Devices are not even opened (opening some has effects of its own); what is opened is
    // checked again, since the path may name something else by then.
    struct stat info;
    if (::stat(native.c_str(), &info) != 0)
        return nullptr;
    if (!S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return nullptr;
    }
    // O_NONBLOCK: opening a FIFO nobody writes to must not wait.
    const int file = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (file < 0)
        return nullptr;
    const int flags = ::fcntl(file, F_GETFL);
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
        ::fcntl(file, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(file);
        errno = EINVAL;
        return nullptr;
    }
    return streamOf(file, "rb");
}

std::size_t writeFile(std::FILE* stream, const void* data, std::size_t size)
{
    if (stream == nullptr || (data == nullptr && size != 0))
        return 0;
    if (failThisCall(FaultPoint::FileWrite)) {
        const std::size_t taken = std::fwrite(data, 1, size / 2, stream);
        errno = ENOSPC;
        return taken;
    }
    return std::fwrite(data, 1, size, stream);
}

long long fileLength(std::FILE* stream)
{
    struct stat info;
    if (stream == nullptr || ::fstat(::fileno(stream), &info) != 0)
        return -1;
    return static_cast<long long>(info.st_size);
}

std::size_t readFileAt(std::FILE* stream, long long offset, void* buffer, std::size_t size)
{
    if (stream == nullptr || buffer == nullptr || offset < 0)
        return 0;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(::fileno(stream), static_cast<char*>(buffer) + done, size - done,
                                    static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool truncateFile(std::FILE* stream, long long length)
{
    if (stream == nullptr || length < 0)
        return false;
    std::fflush(stream);
    return ::ftruncate(::fileno(stream), static_cast<off_t>(length)) == 0 &&
           ::fseeko(stream, static_cast<off_t>(length), SEEK_SET) == 0;
}

bool replaceFile(const char* source, const char* target)
{
    if (failThisCall(FaultPoint::FileReplace)) {
        errno = EIO;
        return false;
    }
    const std::string from = posix::nativePath(source);
    const std::string to = posix::nativePath(target);
    return !from.empty() && !to.empty() && ::rename(from.c_str(), to.c_str()) == 0;
}

bool flushToDisk(std::FILE* stream)
{
    if (stream == nullptr || std::fflush(stream) != 0)
        return false;
    return ::fsync(::fileno(stream)) == 0;
}

}  // namespace kyro::platform
