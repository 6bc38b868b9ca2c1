// POSIX backend: the library's "\" paths become "/" paths at the system call.
#ifndef KYRO_PLATFORM_POSIX_POSIX_SUPPORT_H
#define KYRO_PLATFORM_POSIX_POSIX_SUPPORT_H

#include <string>

namespace kyro::platform::posix {

// The path with every "\" turned into "/". Null becomes the empty path.
std::string nativePath(const char* path);

}  // namespace kyro::platform::posix

#endif
