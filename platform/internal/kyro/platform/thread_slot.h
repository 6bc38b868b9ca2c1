// A per-thread pointer with a clean-up that runs when a thread holding a value ends.
//
// Used for per-thread caches that must not outlive their thread. Unlike a C++
// thread_local with a destructor, it does not keep a DLL loaded after FreeLibrary.
#ifndef KYRO_PLATFORM_THREAD_SLOT_H
#define KYRO_PLATFORM_THREAD_SLOT_H

#include <cstdint>

namespace kyro::platform {

using ThreadSlotId = std::uint32_t;
using ThreadSlotCleanup = void (*)(void* value);

// Creates a slot (pthread key / fiber-local index). `cleanup` runs on a thread that ends
// with a non-null value in the slot, with that value. False when none is left.
bool threadSlotCreate(ThreadSlotCleanup cleanup, ThreadSlotId* slot);

// The calling thread's value (null until it sets one).
void* threadSlotGet(ThreadSlotId slot);
bool threadSlotSet(ThreadSlotId slot, void* value);

// Gives the slot back. Meant for unload time. On Windows the clean-up then runs for every
// thread that still holds a value; elsewhere values of other live threads are dropped.
void threadSlotDestroy(ThreadSlotId slot);

}  // namespace kyro::platform

#endif
