// POSIX backend of the file and folder calls.
#include "kyro/platform/filesystem.h"

#include "posix_support.h"

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
    return !native.empty() && ::mkdir(native.c_str(), 0777) == 0;
}

int removeFile(const char* path)
{
    const std::string native = posix::nativePath(path);
    return !native.empty() && ::unlink(native.c_str()) == 0 ? 0 : -1;
}

std::FILE* openFile(const char* path, const char* mode)
{
    const std::string native = posix::nativePath(path);
    if (native.empty() || mode == nullptr)
        return nullptr;
    // "e": close-on-exec, so a launched companion never inherits the stream.
    const std::string withCloexec = std::string(mode) + "e";
    return std::fopen(native.c_str(), withCloexec.c_str());
}

}  // namespace kyro::platform
