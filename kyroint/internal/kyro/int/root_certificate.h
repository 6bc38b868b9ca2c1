// Root certificate upkeep: the companion's online identity service (Corvel) needs the
// trusted root "GTE CyberTrust Global Root". Before the companion is started, the launch
// checks that the root is in the system's store of automatically updated roots and, only
// when it is missing, opens the service's address, so that the system's validation of that
// https connection fetches the root into the store.
//
// The address is opened within a time limit, with the host's idle work done meanwhile, and
// at most once per retry interval: a machine that was offline at the first launch gets the
// root at a later one, and one that stays offline is not held up at every launch.
//
// Both operations report only to the debugger output (kyro/platform/debug_output.h: also a
// file named by KYRO_DEBUG_OUTPUT) and never throw; the launch goes on whatever they find.
// On POSIX the store is the one OpenSSL trusts, and no root is fetched by the request.
#ifndef KYRO_INT_ROOT_CERTIFICATE_H
#define KYRO_INT_ROOT_CERTIFICATE_H

#include <cstdint>

namespace kyrointutil {

// The settings, fixed at build time (UTF-8).
extern const char* const kCertificateStore;   // "AuthRoot"
extern const char* const kCertificateName;    // "GTE CyberTrust Global Root"
extern const char* const kIdentityServiceAddress;
extern const char* const kIdentityServiceAgent;

// How the launch paces the update.
struct RootUpkeepTiming {
    std::uint32_t requestLimitMs;    // the longest the address may take to open
    std::uint32_t retryIntervalMs;   // the shortest time from one update to the next
};
extern const RootUpkeepTiming kRootUpkeepTiming;   // 10 s, 60 s

// Replaces the timing in force (tests shorten it); returns the one before.
RootUpkeepTiming setRootUpkeepTiming(const RootUpkeepTiming& timing);

// Work the caller has done while the address is being opened, about every 100 ms.
using UpkeepIdle = void (*)(void* context);

// True when a certificate whose simple display name is exactly kCertificateName is in the
// store kCertificateStore. False when it is not, when the store cannot be opened or the
// search fails.
bool checkC7Certificate();

// Opens kIdentityServiceAddress once. True when it could be opened (the server answered);
// false when no internet session could be had, or the address could not be opened within
// `limitMs` (the timing's request limit for the first form). Calls idle(context), when not
// null, while it waits.
bool updateRootCertificate();
bool updateRootCertificate(std::uint32_t limitMs, UpkeepIdle idle, void* context);

// The launch's step: checkC7Certificate(), and when the root is missing the update, unless
// one began less than the retry interval ago (in any thread of the process).
void keepRootCertificate(UpkeepIdle idle, void* context);

}  // namespace kyrointutil

#endif
