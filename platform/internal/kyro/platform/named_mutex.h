// Named mutexes that several processes of one user share.
//
// The contract is the Win32 mutex's: a mutex belongs to the thread that obtained it, that
// thread may obtain it again (each wait needs its own release), a release from any other
// thread fails, and a thread that ends while owning it leaves it abandoned: the next wait
// reports Abandoned and owns the mutex.
//
// Names are UTF-8 and case-sensitive. "Local\" in front names the same mutex as the name
// without it; "Global\" in front names a separate one. Any other "\" in a name makes the
// open fail, as on Windows.
//
// Other users must neither hold our mutexes nor keep us from them.
// Windows: CreateMutexW (default security, not initially owned); a mutex of that name that
// belongs to another account (one made first by someone else) is refused.
// WaitForSingleObject, ReleaseMutex, CloseHandle.
// POSIX: a robust, recursive, process-shared pthread mutex in a file of 0600 in the user's
// private runtime folder, which no other user can make or open; see the backend.
#ifndef KYRO_PLATFORM_NAMED_MUTEX_H
#define KYRO_PLATFORM_NAMED_MUTEX_H

#include <cstdint>
#include <string>

namespace kyro::platform {

// An open mutex: a HANDLE on Windows, a handle on a cached mapping on POSIX.
using NamedMutex = std::intptr_t;
constexpr NamedMutex kNoNamedMutex = 0;

enum class NamedMutexWait {
    Obtained,    // the calling thread owns the mutex
    Abandoned,   // its previous owner ended while owning it; the calling thread owns it now
    TimedOut,    // someone else kept it for the whole time
    Failed       // no wait happened (bad handle or time-out) or the system refused it
};

// Opens the mutex of that name, creating it when there is none; never initially owned.
// kNoNamedMutex when the name is null, empty or not usable, or on failure.
NamedMutex namedMutexOpen(const char* name);

// Waits up to `timeoutMs` milliseconds (0 only tries, -1 waits for ever) for ownership.
// A time-out below -1 fails without waiting.
NamedMutexWait namedMutexWait(NamedMutex mutex, int timeoutMs);

// Gives one level of ownership back. False when the calling thread does not own it.
bool namedMutexRelease(NamedMutex mutex);

// Closes the handle; it must not be used afterwards. Ownership is not given back.
// False for kNoNamedMutex.
bool namedMutexClose(NamedMutex mutex);

// Where the POSIX backend keeps the mutex of that name (a file path); empty on Windows, for
// a name that cannot be a mutex's, or when there is no safe runtime folder.
std::string namedMutexLocation(const char* name);

// Lets go of the name: the next open of it makes a new mutex, while handles already open
// keep the old one. Only for names that no other party still uses, such as a test's own.
// Windows removes a named mutex with its last handle, so there is nothing to do there; the
// POSIX backend removes its shared memory object. False when the name cannot be a mutex's.
bool namedMutexDiscard(const char* name);

}  // namespace kyro::platform

#endif
