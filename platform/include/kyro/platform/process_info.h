// Facts about this process, and whether another one is still running.
#ifndef KYRO_PLATFORM_PROCESS_INFO_H
#define KYRO_PLATFORM_PROCESS_INFO_H

#include <cstdint>

namespace kyro::platform {

// The id other processes know this process by (GetCurrentProcessId, getpid).
std::uint32_t currentProcessId();

// Whether the process with that id is still running. A process that has ended but whose
// exit nobody has collected yet (a POSIX zombie) is not. False for 0 and for ids the
// system cannot have. Ids are reused, so a very old id may name some other process.
bool processIsAlive(std::uint32_t processId);

}  // namespace kyro::platform

#endif
