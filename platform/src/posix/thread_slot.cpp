// POSIX backend: the values live in a small thread_local array, read without a call into
// the C library; a pthread key per slot runs the clean-up when a thread ends.
#include "kyro/platform/thread_slot.h"

#include <atomic>
#include <pthread.h>

namespace kyro::platform {

namespace {

constexpr ThreadSlotId kMaxSlots = 8;

// initial-exec: one instruction to reach the array, also from the shared library.
__attribute__((tls_model("initial-exec"))) thread_local void* t_values[kMaxSlots];

struct Slot {
    pthread_key_t key;
    ThreadSlotCleanup cleanup;
};
Slot g_slots[kMaxSlots];
std::atomic<ThreadSlotId> g_used{0};

// The key's destructor runs on the ending thread: the fast copy goes first, so the clean-up
// sees the slot empty and can mark it.
template <ThreadSlotId Index>
void endOfThread(void* value)
{
    t_values[Index] = nullptr;
    g_slots[Index].cleanup(value);
}

using Destructor = void (*)(void*);
const Destructor kEndOfThread[kMaxSlots] = {&endOfThread<0>, &endOfThread<1>, &endOfThread<2>,
                                            &endOfThread<3>, &endOfThread<4>, &endOfThread<5>,
                                            &endOfThread<6>, &endOfThread<7>};

}  // namespace

bool threadSlotCreate(ThreadSlotCleanup cleanup, ThreadSlotId* slot)
{
    const ThreadSlotId index = g_used.fetch_add(1);
    if (index >= kMaxSlots)
        return false;
    g_slots[index].cleanup = cleanup;
    if (::pthread_key_create(&g_slots[index].key, kEndOfThread[index]) != 0)
        return false;
    *slot = index;
    return true;
}

void* threadSlotGet(ThreadSlotId slot)
{
    return slot < kMaxSlots ? t_values[slot] : nullptr;
}

bool threadSlotSet(ThreadSlotId slot, void* value)
{
    if (slot >= kMaxSlots || ::pthread_setspecific(g_slots[slot].key, value) != 0)
        return false;
    t_values[slot] = value;
    return true;
}

void threadSlotDestroy(ThreadSlotId slot)
{
    if (slot < kMaxSlots) {
        ::pthread_key_delete(g_slots[slot].key);
        t_values[slot] = nullptr;
    }
}

}  // namespace kyro::platform
