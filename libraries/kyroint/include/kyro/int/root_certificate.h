// Root certificate upkeep: the companion's online identity service (Corvel) needs the
// trusted root "GTE CyberTrust Global Root". Before the companion is started, the launch
// checks that the root is in the system's store of automatically updated roots and, only
// when it is missing, opens the service's address once, so that the system's validation of
// that https connection fetches the root into the store.
//
// Both operations report only to the debugger output (kyro/platform/debug_output.h: also a
// file named by KYRO_DEBUG_OUTPUT) and never throw; the launch goes on whatever they find.
// On POSIX the store is the one OpenSSL trusts, and no root is fetched by the request.
#ifndef KYRO_INT_ROOT_CERTIFICATE_H
#define KYRO_INT_ROOT_CERTIFICATE_H

namespace kyrointutil {

// The settings, fixed at build time (UTF-8).
extern const char* const kCertificateStore;   // "AuthRoot"
extern const char* const kCertificateName;    // "GTE CyberTrust Global Root"
extern const char* const kIdentityServiceAddress;
extern const char* const kIdentityServiceAgent;

// True when a certificate whose simple display name is exactly kCertificateName is in the
// store kCertificateStore. False when it is not, when the store cannot be opened or the
// search fails.
bool checkC7Certificate();

// Opens kIdentityServiceAddress once. True when it could be opened (the server answered);
// false when no internet session could be had or the address could not be opened. Waits as
// long as the system's time-outs allow.
bool updateRootCertificate();

}  // namespace kyrointutil

#endif
