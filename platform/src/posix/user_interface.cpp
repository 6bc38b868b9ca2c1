// POSIX backend: no window system is used; nothing to pump and no dialog to show.
#include "kyro/platform/user_interface.h"

namespace kyro::platform {

void allowSetForegroundWindow() {}

int pumpWindowMessages()
{
    return 0;
}

int showMessageDialog(const MessageDialog&)
{
    return -1;
}

}  // namespace kyro::platform
