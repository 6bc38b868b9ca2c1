// A thread slot made on first use, whose values are released when their thread ends and
// which is given back at unload, so that no thread-end clean-up points into code that is
// gone. Shared by the backends; no system calls here.
#ifndef KYRO_PLATFORM_PER_THREAD_SLOT_H
#define KYRO_PLATFORM_PER_THREAD_SLOT_H

#include "kyro/platform/thread_slot.h"

#include <mutex>

namespace kyro::platform {

template <class T, void (*Release)(T*)>
class PerThreadSlot {
public:
    ~PerThreadSlot()
    {
        if (m_ready)
            threadSlotDestroy(m_slot);
    }

    // The slot, made on the first call; false when the system has none to give.
    bool get(ThreadSlotId* slot)
    {
        std::call_once(m_once, [this] { m_ready = threadSlotCreate(&endOfThread, &m_slot); });
        *slot = m_slot;
        return m_ready;
    }

private:
    static void endOfThread(void* value) { Release(static_cast<T*>(value)); }

    std::once_flag m_once;
    ThreadSlotId m_slot = 0;
    bool m_ready = false;
};

}  // namespace kyro::platform

#endif
