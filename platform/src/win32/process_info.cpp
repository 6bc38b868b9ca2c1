#include "kyro/platform/process_info.h"

#include "windows_support.h"

namespace kyro::platform {

std::uint32_t currentProcessId()
{
    return static_cast<std::uint32_t>(::GetCurrentProcessId());
}

}  // namespace kyro::platform
