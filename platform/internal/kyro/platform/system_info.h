// Facts about the machine that diagnostic records carry: its name and the version of the
// operating system.
#ifndef KYRO_PLATFORM_SYSTEM_INFO_H
#define KYRO_PLATFORM_SYSTEM_INFO_H

#include <string>

namespace kyro::platform {

// The computer's name, UTF-8; empty when the system cannot tell it.
// Windows: GetComputerNameW with room for 15 characters (the NetBIOS limit; a longer name
// fails and gives empty). POSIX: gethostname.
std::string computerName();

struct OsVersion {
    unsigned long major = 0;
    unsigned long minor = 0;
    unsigned long build = 0;
    // The service pack ("Service Pack 1"), UTF-8; empty when there is none.
    std::string servicePack;
};

// The running system's version. False when it cannot be read.
// Windows: GetVersionExW, first with the extended record, then with the basic one (so the
// figures are what the system tells a program without a compatibility manifest).
// POSIX: the first three numbers of uname's release ("6.1.0-18-amd64" gives 6, 1, 0; a
// missing number counts 0); never a service pack.
bool osVersion(OsVersion* version);

}  // namespace kyro::platform

#endif
