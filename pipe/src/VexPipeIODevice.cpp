#include "kyro/pipe/VexPipeIODevice.h"

VexPipeIODevice::VexPipeIODevice() : m_useCount(0) {}

VexPipeIODevice::~VexPipeIODevice() = default;

std::uint32_t VexPipeIODevice::read(void*, std::uint32_t)
{
    return 0;
}

bool VexPipeIODevice::isReading() const
{
    return false;
}

std::uint32_t VexPipeIODevice::queuedBytes() const
{
    return 0;
}

bool VexPipeIODevice::hasReceived() const
{
    return false;
}

void VexPipeIODevice::setDataWaker(kyro::platform::SleepWaker) {}

void VexPipeIODevice::dropUse()
{
    if (m_useCount == 0 || --m_useCount == 0)
        delete this;
}
