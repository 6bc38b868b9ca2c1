// POSIX backend: no window system is used; nothing to pump and no dialog to show.
#include "kyro/platform/user_interface.h"

namespace kyro::platform {

void allowSetForegroundWindow() {}

int pumpWindowMessages()
{
    return 0;
}

ModalWait::ModalWait() = default;

ModalWait::~ModalWait() = default;

ThreadWait waitForThreadOrInput(ThreadHandle thread, std::uint32_t timeoutMs)
{
    if (thread == kNoThread)
        return ThreadWait::Failed;
    return waitForThread(thread, timeoutMs) ? ThreadWait::Ended : ThreadWait::TimedOut;
}

int showMessageDialog(const MessageDialog&)
{
    return -1;
}

}  // namespace kyro::platform
