#include "kyro/platform/clock.h"

#include "windows_support.h"

namespace kyro::platform {

LocalTime localTime()
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour,
                     now.wMinute, now.wSecond, now.wMilliseconds};
}

}  // namespace kyro::platform
