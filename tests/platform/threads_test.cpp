// Alertable sleeps: wake-ups during a sleep, before it, and after the sleeper has gone.
#include "kyro/platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace kyro::platform;

namespace {

std::atomic<SleepWaker> g_waker{kNoSleepWaker};
std::atomic<bool> g_woken{false};

void sleeper(void*)
{
    g_waker = sleepWakerForCurrentThread();
    g_woken = sleepAlertable(120000);
}

}  // namespace

TEST(PlatformThreads, AWakeUpEndsOneSleepWhenEverItComes)
{
    const ThreadHandle thread = startThread(&sleeper, nullptr);
    for (int i = 0; i < 30000 && g_waker.load() == kNoSleepWaker; ++i)
        sleepAlertable(1);
    EXPECT_TRUE(wakeSleeper(g_waker.load()));
    EXPECT_TRUE(waitForThread(thread, 30000) && g_woken.load());
    releaseThread(thread);
    wakeSleeper(g_waker.load());  // the thread is gone: harmless until released
    releaseSleepWaker(g_waker.load());

    // Woken before sleeping: the next sleep returns at once. Wake-ups do not add up.
    const SleepWaker own = sleepWakerForCurrentThread();
    EXPECT_FALSE(sleepAlertable(5));
    EXPECT_TRUE(wakeSleeper(own) && wakeSleeper(own));
    EXPECT_TRUE(sleepAlertable(120000));
    EXPECT_FALSE(sleepAlertable(0));
    releaseSleepWaker(own);
}
