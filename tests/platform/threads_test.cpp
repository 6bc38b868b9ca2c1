// Threads and alertable sleeps: bounded waits, letting go of a running thread, and wake-ups
// that end a sleep early, come before it, or come after the sleeper has gone.
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
    std::atomic<bool> open{false}, done{false};
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
    Shared shared, running;
    const ThreadHandle thread = startThread(&waitAtGate, &shared);
    ASSERT_NE(thread, kNoThread);
    EXPECT_FALSE(waitForThread(thread, 20));  // held at the gate: it cannot have ended
    shared.open = true;
    EXPECT_TRUE(waitForThread(thread, kWaitForever));
    EXPECT_TRUE(shared.done.load());
    EXPECT_TRUE(waitForThread(thread, 0));  // an ended thread stays ended
    EXPECT_NE(shared.threadId.load(), currentThreadId());
    releaseThread(thread);
    // Let go while still running: the thread carries on to its end.
    const ThreadHandle abandoned = startThread(&waitAtGate, &running);
    ASSERT_NE(abandoned, kNoThread);
    releaseThread(abandoned);
    running.open = true;
    EXPECT_TRUE(eventually([&] { return running.done.load(); }));
    EXPECT_EQ(startThread(nullptr, nullptr), kNoThread);
    releaseThread(kNoThread);
    EXPECT_FALSE(waitForThread(kNoThread, 0));
}

TEST(PlatformThreads, WakeUps)
{
    // Whether the wake-up comes before the sleep starts or during it, the sleep ends now.
    Shared shared;
    const ThreadHandle thread = startThread(&sleepLong, &shared);
    ASSERT_NE(thread, kNoThread);
    ASSERT_TRUE(eventually([&] { return shared.waker.load() != kNoSleepWaker; }));
    EXPECT_TRUE(wakeSleeper(shared.waker.load()));
    EXPECT_TRUE(waitForThread(thread, 30000));
    releaseThread(thread);
    EXPECT_EQ(shared.sleepResult.load(), 1);
    wakeSleeper(shared.waker.load());  // the thread is gone: harmless until released
    releaseSleepWaker(shared.waker.load());

    // Woken before sleeping (here from another thread): the next sleep returns at once.
    const SleepWaker own = sleepWakerForCurrentThread();
    ASSERT_NE(own, kNoSleepWaker);
    EXPECT_FALSE(sleepAlertable(0));
    EXPECT_FALSE(sleepAlertable(5));
    SleepWaker target = own;
    const ThreadHandle waking =
        startThread([](void* waker) { wakeSleeper(*static_cast<SleepWaker*>(waker)); }, &target);
    ASSERT_TRUE(waitForThread(waking, 30000));
    releaseThread(waking);
    EXPECT_TRUE(sleepAlertable(120000));
    // Wake-ups do not add up: two of them end one sleep.
    EXPECT_TRUE(wakeSleeper(own) && wakeSleeper(own));
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
