// Threads and alertable sleeps: waits with a time-out, letting go of a running thread, and
// wake-ups that end a sleep early, come before it, or come after the sleeper has gone.
#include "kyro/platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace kyro::platform;

namespace {

// Polls for up to 30 s, so that no fault can keep a test waiting for ever.
template <class Condition>
bool eventually(Condition condition)
{
    for (int i = 0; i < 30000 && !condition(); ++i)
        sleepAlertable(1);
    return condition();
}

struct Shared {
    std::atomic<bool> open{false};
    std::atomic<bool> done{false};
    std::atomic<std::uint32_t> threadId{0};
    std::atomic<SleepWaker> waker{kNoSleepWaker};
    std::atomic<int> sleepResult{-1};
};

// Waits until the test opens the gate.
void waitAtGate(void* context)
{
    auto* shared = static_cast<Shared*>(context);
    shared->threadId = currentThreadId();
    eventually([shared] { return shared->open.load(); });
    shared->done = true;
}

// Hands out a waker, then sleeps far longer than any test waits.
void sleepLong(void* context)
{
    auto* shared = static_cast<Shared*>(context);
    shared->waker = sleepWakerForCurrentThread();
    shared->sleepResult = sleepAlertable(120000) ? 1 : 0;
}

}  // namespace

TEST(PlatformThreads, StartWaitAndRelease)
{
    Shared shared;
    const ThreadHandle thread = startThread(&waitAtGate, &shared);
    ASSERT_NE(thread, kNoThread);
    EXPECT_FALSE(waitForThread(thread, 20));  // held at the gate: it cannot have ended
    shared.open = true;
    EXPECT_TRUE(waitForThread(thread, kWaitForever));
    EXPECT_TRUE(shared.done.load());
    EXPECT_TRUE(waitForThread(thread, 0));  // an ended thread stays ended
    EXPECT_NE(shared.threadId.load(), currentThreadId());
    EXPECT_NE(shared.threadId.load(), 0u);
    releaseThread(thread);

    // Let go while still running: the thread carries on to its end.
    Shared running;
    const ThreadHandle abandoned = startThread(&waitAtGate, &running);
    ASSERT_NE(abandoned, kNoThread);
    releaseThread(abandoned);
    running.open = true;
    EXPECT_TRUE(eventually([&] { return running.done.load(); }));

    EXPECT_EQ(startThread(nullptr, nullptr), kNoThread);
    releaseThread(kNoThread);
    EXPECT_FALSE(waitForThread(kNoThread, 0));
}

TEST(PlatformThreads, WakeEndsSleepEarly)
{
    Shared shared;
    const ThreadHandle thread = startThread(&sleepLong, &shared);
    ASSERT_NE(thread, kNoThread);
    ASSERT_TRUE(eventually([&] { return shared.waker.load() != kNoSleepWaker; }));
    // Whether the wake-up comes before the sleep starts or during it, the sleep ends now.
    EXPECT_TRUE(wakeSleeper(shared.waker.load()));
    EXPECT_TRUE(waitForThread(thread, 30000));
    releaseThread(thread);
    EXPECT_EQ(shared.sleepResult.load(), 1);

    // The thread is gone: its token still works, harmlessly, until released.
    wakeSleeper(shared.waker.load());
    releaseSleepWaker(shared.waker.load());
}

TEST(PlatformThreads, WakeBeforeSleepIsKeptOnce)
{
    const SleepWaker own = sleepWakerForCurrentThread();
    ASSERT_NE(own, kNoSleepWaker);
    EXPECT_FALSE(sleepAlertable(0));
    EXPECT_FALSE(sleepAlertable(5));

    // Woken from another thread before sleeping: the next sleep returns at once.
    struct Waking {
        SleepWaker waker;
        static void run(void* self) { wakeSleeper(static_cast<Waking*>(self)->waker); }
    } waking{own};
    const ThreadHandle thread = startThread(&Waking::run, &waking);
    ASSERT_NE(thread, kNoThread);
    ASSERT_TRUE(waitForThread(thread, 30000));
    releaseThread(thread);
    EXPECT_TRUE(sleepAlertable(120000));

    // Wake-ups do not add up: two of them end one sleep.
    EXPECT_TRUE(wakeSleeper(own));
    EXPECT_TRUE(wakeSleeper(own));
    EXPECT_TRUE(sleepAlertable(120000));
    EXPECT_FALSE(sleepAlertable(0));

    // A second token reaches the same thread; either can go first.
    const SleepWaker second = sleepWakerForCurrentThread();
    ASSERT_NE(second, kNoSleepWaker);
    releaseSleepWaker(own);
    EXPECT_TRUE(wakeSleeper(second));
    EXPECT_TRUE(sleepAlertable(120000));
    releaseSleepWaker(second);

    EXPECT_FALSE(wakeSleeper(kNoSleepWaker));
    releaseSleepWaker(kNoSleepWaker);
}
