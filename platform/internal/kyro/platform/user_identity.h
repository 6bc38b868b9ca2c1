// Who the current user is, as a text that tells users apart.
#ifndef KYRO_PLATFORM_USER_IDENTITY_H
#define KYRO_PLATFORM_USER_IDENTITY_H

#include <string>

namespace kyro::platform {

// A per-user token for naming objects that the processes of one user share (the user
// settings mutex). Windows: the unique id of GetUserNameExW(NameUniqueId); where the system
// has none (an account without a domain), the user's SID as text ("S-1-5-21-..."). POSIX:
// the numeric user id in decimal. False, with `token` emptied, when none can be had.
bool userUniqueToken(std::string* token);

}  // namespace kyro::platform

#endif
