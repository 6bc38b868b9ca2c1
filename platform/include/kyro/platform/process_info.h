// Facts about the current process.
#ifndef KYRO_PLATFORM_PROCESS_INFO_H
#define KYRO_PLATFORM_PROCESS_INFO_H

#include <cstdint>

namespace kyro::platform {

// The id other processes know this process by (GetCurrentProcessId, getpid).
std::uint32_t currentProcessId();

}  // namespace kyro::platform

#endif
