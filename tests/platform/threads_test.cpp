// Threads and alertable sleeps: bounded waits, letting go of a running thread, and wake-ups
// that end a sleep early, come before it, or come after the sleeper has gone.
#include "kyro/platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace kyro::platform;

namespace {

struct Shared {
    std::atomic<SleepWaker> waker{kNoSleepWaker};
    std::atomic<int> slept{-1};
};

// Hands out a waker, then sleeps far longer than any test waits.
void sleeper(void* context)
{
    auto* shared = static_cast<Shared*>(context);
    shared->waker = sleepWakerForCurrentThread();
    shared->slept = sleepAlertable(120000) ? 1 : 0;
}

}  // namespace

TEST(PlatformThreads, ThreadsEndAndWakeUpsEndOneSleepWhenEverTheyCome)
{
    Shared shared;
    const ThreadHandle thread = startThread(&sleeper, &shared);
    ASSERT_NE(thread, kNoThread);
    EXPECT_FALSE(waitForThread(thread, 20));  // asleep: it cannot have ended
    for (int i = 0; i < 30000 && shared.waker.load() == kNoSleepWaker; ++i)
        sleepAlertable(1);
    EXPECT_TRUE(wakeSleeper(shared.waker.load()));
    EXPECT_TRUE(waitForThread(thread, 30000));
    EXPECT_TRUE(waitForThread(thread, 0));  // an ended thread stays ended
    releaseThread(thread);
    EXPECT_EQ(shared.slept.load(), 1);
    wakeSleeper(shared.waker.load());  // the thread is gone: harmless until released
    releaseSleepWaker(shared.waker.load());

    // Woken before sleeping (here from another thread): the next sleep returns at once.
    const SleepWaker own = sleepWakerForCurrentThread();
    EXPECT_FALSE(sleepAlertable(5));
    SleepWaker target = own;
    const ThreadHandle waking =
        startThread([](void* waker) { wakeSleeper(*static_cast<SleepWaker*>(waker)); }, &target);
    releaseThread(waking);  // let go while it may still run: it carries on to its end
    EXPECT_TRUE(sleepAlertable(120000));
    // Wake-ups do not add up: two of them end one sleep.
    EXPECT_TRUE(wakeSleeper(own) && wakeSleeper(own));
    EXPECT_TRUE(sleepAlertable(120000));
    EXPECT_FALSE(sleepAlertable(0));
    // A second token reaches the same thread; either can go first.
    const SleepWaker second = sleepWakerForCurrentThread();
    releaseSleepWaker(own);
    EXPECT_TRUE(wakeSleeper(second));
    EXPECT_TRUE(sleepAlertable(120000));
    releaseSleepWaker(second);
    EXPECT_EQ(startThread(nullptr, nullptr), kNoThread);
    EXPECT_FALSE(wakeSleeper(kNoSleepWaker));
}
