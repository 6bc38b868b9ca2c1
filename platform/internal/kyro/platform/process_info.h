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

// The threads this process runs, the calling one included; -1 when it cannot be told.
// A snapshot of the system's threads on Windows, the entries of /proc/self/task on POSIX.
// Meant for leak checks.
int threadCount();

// The memory this process holds for itself alone, in bytes; -1 when it cannot be told.
// Windows: its private bytes (the commit charge: committed memory no other process
// shares); POSIX: its anonymous resident memory (RssAnon of /proc/self/status, VmRSS
// where that is missing).
// Meant for leak checks: it follows the heap, not the mapped program files.
std::int64_t privateMemoryBytes();

}  // namespace kyro::platform

#endif
