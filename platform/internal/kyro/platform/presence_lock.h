// A named lock a process holds for its whole life to show that it is there, and the probe
// that asks whether some process holds it. The companion holds one per pipe prefix.
//
// Windows: a named mutex ("Global\..." names work). Holding means keeping a handle of it
// open; the probe creates the mutex and looks whether it existed already, then closes it
// at once. POSIX: a lock file in the per-user runtime folder (see named_pipe.h) with an
// exclusive flock(); the probe tries a shared non-blocking flock. A missing or unlocked
// file means nobody holds it.
//
// Either way the system lets go of the lock when the holding process ends, however it
// ends, so a killed holder is never taken for a live one.
#ifndef KYRO_PLATFORM_PRESENCE_LOCK_H
#define KYRO_PLATFORM_PRESENCE_LOCK_H

#include <cstdint>

namespace kyro::platform {

using PresenceLock = std::intptr_t;
constexpr PresenceLock kNoPresenceLock = 0;

enum class PresenceResult {
    Acquired,       // *lock holds the name until releasePresenceLock()
    HeldElsewhere,  // another holder has it (this process counts too, through another lock)
    Failed          // the lock could not be made (no runtime folder, bad name, ...)
};

// Takes the lock `name` (case-sensitive). A probe holds the name for an instant: while it
// does, this tries again for up to about 100 ms before it answers HeldElsewhere.
PresenceResult acquirePresenceLock(const char* name, PresenceLock* lock);

// Lets go of the lock (POSIX removes its file). kNoPresenceLock is ignored.
void releasePresenceLock(PresenceLock lock);

// Whether some process holds `name`. Windows: CreateMutexW(no security, initially owned),
// then whether the mutex existed already (183); the handle is closed at once.
bool presenceLockHeld(const char* name);

}  // namespace kyro::platform

#endif
