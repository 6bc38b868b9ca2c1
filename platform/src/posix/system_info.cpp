// POSIX backend: gethostname and uname.
#include "kyro/platform/system_info.h"

#include <cctype>
#include <climits>
#include <sys/utsname.h>
#include <unistd.h>

namespace kyro::platform {

namespace {

// Reads the number at `*p` (if any) and steps past it and one following ".".
unsigned long takeNumber(const char** p)
{
    unsigned long value = 0;
    while (std::isdigit(static_cast<unsigned char>(**p))) {
        const unsigned long digit = static_cast<unsigned long>(**p - '0');
        value = value > (ULONG_MAX - digit) / 10 ? ULONG_MAX : value * 10 + digit;
        ++*p;
    }
    if (**p == '.')
        ++*p;
    return value;
}

}  // namespace

std::string computerName()
{
    // HOST_NAME_MAX is 64 on Linux; the room beyond it keeps a NUL even where a longer
    // name is cut without one.
    char name[256] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0)
        return std::string();
    return name;
}

bool osVersion(OsVersion* version)
{
    struct utsname names;
    if (::uname(&names) != 0)
        return false;
    const char* p = names.release;
    version->major = takeNumber(&p);
    version->minor = takeNumber(&p);
    version->build = takeNumber(&p);
    version->servicePack.clear();
    return true;
}

}  // namespace kyro::platform
