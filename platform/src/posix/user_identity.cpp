// POSIX backend of the user token: the numeric user id.
#include "kyro/platform/user_identity.h"

#include <unistd.h>

namespace kyro::platform {

bool userUniqueToken(std::string* token)
{
    if (token == nullptr)
        return false;
    *token = std::to_string(static_cast<unsigned long>(::geteuid()));
    return true;
}

}  // namespace kyro::platform
