#include "demo_system.h"

#include <cstdlib>
#include <limits.h>
#include <unistd.h>

std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.find_last_of('/'));
}

void setVariable(const char* name, const std::string& value)
{
    ::setenv(name, value.c_str(), 1);
}

char pathSeparator()
{
    return '/';
}
