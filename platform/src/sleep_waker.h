// The wake-up objects behind sleepWakerForCurrentThread(), shared by the backends: one per
// thread that asked for one, reference-counted (the thread holds one reference, each
// token one), so that a token outlives its thread safely. What a backend adds is the
// signal itself: the three functions at the end, in its threads.cpp.
#ifndef KYRO_PLATFORM_SLEEP_WAKER_H
#define KYRO_PLATFORM_SLEEP_WAKER_H

#include "kyro/platform/threads.h"

namespace kyro::platform {

// A backend's wake-up signal (an event, or a condition with its flag).
struct WakeSignal;

// This thread's signal; made first when `create` is true. Null when there is none.
WakeSignal* currentWakeSignal(bool create);
// The signal a token stands for; null for kNoSleepWaker.
WakeSignal* wakeSignalOf(SleepWaker token);

// The backend's part.
WakeSignal* newWakeSignal();
void deleteWakeSignal(WakeSignal* signal);

}  // namespace kyro::platform

#endif
