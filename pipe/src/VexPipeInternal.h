// Helpers the pipe framework's sources share.
#ifndef KYRO_PIPE_SRC_VEXPIPEINTERNAL_H
#define KYRO_PIPE_SRC_VEXPIPEINTERNAL_H

#include "kyro/platform/user_interface.h"

namespace vexpipe {

// Lets the companion bring its window to the front; nothing happens without a window system.
inline void allowCompanionForeground()
{
    kyro::platform::allowSetForegroundWindow();
}

}  // namespace vexpipe

#endif
