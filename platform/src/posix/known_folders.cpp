// POSIX backend: the install prefix and the XDG base directories.
#include "kyro/platform/known_folders.h"

#include "posix_support.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#ifndef KYRO_INSTALL_PREFIX
#define KYRO_INSTALL_PREFIX "/usr/local"
#endif

namespace kyro::platform {

namespace {

// The library's form of a system path: "\" separators, no trailing one.
std::string libraryPath(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

// An XDG variable counts only when it holds an absolute path.
bool absoluteVariable(const char* name, std::string* value)
{
    const char* found = std::getenv(name);
    if (found == nullptr || found[0] != '/')
        return false;
    *value = found;
    return true;
}

std::string homeFolder()
{
    std::string home;
    if (absoluteVariable("HOME", &home))
        return home;
    struct passwd entry;
    struct passwd* result = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof(buffer), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr && result->pw_dir[0] == '/')
        return result->pw_dir;
    return std::string();
}

}  // namespace

const char kPathListSeparator = ':';

std::string commonFilesFolder()
{
    return libraryPath(std::string(KYRO_INSTALL_PREFIX) + "/lib");
}

std::string commonAppDataFolder()
{
    return libraryPath("/var/lib");
}

std::string localAppDataFolder()
{
    std::string folder;
    if (absoluteVariable("XDG_DATA_HOME", &folder))
        return libraryPath(folder);
    const std::string home = homeFolder();
    return home.empty() ? std::string() : libraryPath(home + "/.local/share");
}

std::string systemPathText(const char* path)
{
    return posix::nativePath(path);
}

}  // namespace kyro::platform
