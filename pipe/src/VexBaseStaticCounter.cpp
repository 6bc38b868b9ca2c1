#include "kyro/pipe/VexBaseStaticCounter.h"

#include <cstdio>

namespace {

// Constant-initialised: they exist before any code of the library runs, so no order of
// static construction can find them unmade.
VexBaseStaticCounter g_allocatedBytes("VexBase Allocated Bytes");
VexBaseStaticCounter g_allocatedInstances("VexBase Allocated Instances");

}  // namespace

VexBaseStaticCounter::~VexBaseStaticCounter()
{
    // Runs at unload for the process-wide instances: no locks, no waits, one write.
    const std::int32_t difference = discrepancy();
    if (difference != 0) {
        std::fprintf(stderr,
                     "!!!!! -----------\n!!!!! Counter Discrepancy detected at shutdown in %s: "
                     "%ld\n!!!!! ---------\n\n",
                     m_name != nullptr ? m_name : "", static_cast<long>(difference));
    }
}

std::int32_t VexBaseStaticCounter::discrepancy() const
{
    return static_cast<std::int32_t>(second() - first());
}

VexBaseStaticCounter& VexBaseStaticCounter::allocatedBytes()
{
    return g_allocatedBytes;
}

VexBaseStaticCounter& VexBaseStaticCounter::allocatedInstances()
{
    return g_allocatedInstances;
}
