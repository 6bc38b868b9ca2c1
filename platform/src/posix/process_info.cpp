#include "kyro/platform/process_info.h"

#include <unistd.h>

namespace kyro::platform {

std::uint32_t currentProcessId()
{
    return static_cast<std::uint32_t>(::getpid());
}

}  // namespace kyro::platform
