// Windows backend: fiber-local storage, whose callbacks run at thread exit.
#include "kyro/platform/thread_slot.h"

#include "windows_support.h"

namespace kyro::platform {

bool threadSlotCreate(ThreadSlotCleanup cleanup, ThreadSlotId* slot)
{
    const DWORD index = ::FlsAlloc(reinterpret_cast<PFLS_CALLBACK_FUNCTION>(cleanup));
    if (index == FLS_OUT_OF_INDEXES)
        return false;
    *slot = index;
    return true;
}

void* threadSlotGet(ThreadSlotId slot)
{
    return ::FlsGetValue(slot);
}

bool threadSlotSet(ThreadSlotId slot, void* value)
{
    return ::FlsSetValue(slot, value) != FALSE;
}

void threadSlotDestroy(ThreadSlotId slot)
{
    ::FlsFree(slot);
}

}  // namespace kyro::platform
