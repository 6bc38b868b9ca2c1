// VexBase: reference counting, copies with their own state, and the recursive timed lock.
#include "kyro/pipe/VexBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Says when it is destroyed. Copies report to the flag they are given afterwards.
struct Tracked : VexBase {
    explicit Tracked(bool* destroyedFlag) : destroyed(destroyedFlag) {}
    Tracked(const Tracked&) = default;
    Tracked& operator=(const Tracked&) = default;
    ~Tracked() override { *destroyed = true; }

    bool* destroyed;
};

template <typename Work>
void onOtherThread(Work work)
{
    std::thread(work).join();
}

bool otherThreadGetsLock(VexBase& object, std::uint32_t timeoutMs)
{
    bool obtained = false;
    onOtherThread([&] {
        obtained = object.lock(timeoutMs);
        if (obtained)
            object.unlock();
    });
    return obtained;
}

// Calls lock(timeoutMs) on a thread of its own, which keeps what it got until let go and
// then unlocks once, whatever lock() said. A lock() that never returns leaves the thread
// behind (with the state it uses) rather than hanging the test.
class Taker {
public:
    Taker(VexBase& object, std::uint32_t timeoutMs) : m_state(std::make_shared<State>())
    {
        std::thread([state = m_state, &object, timeoutMs] {
            const bool got = object.lock(timeoutMs);
            std::unique_lock<std::mutex> guard(state->mutex);
            state->result = got ? 1 : 0;
            state->changed.notify_all();
            state->changed.wait(guard, [&] { return state->release; });
            object.unlock();
            state->done = true;
            state->changed.notify_all();
        }).detach();
    }
    ~Taker() { letGo(); }

    // What lock() gave within `limit`: 1 true, 0 false, -1 not returned.
    int result(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> guard(m_state->mutex);
        m_state->changed.wait_for(guard, limit, [&] { return m_state->result >= 0; });
        return m_state->result;
    }
    // Lets the thread unlock and waits (bounded) until it has.
    bool letGo()
    {
        std::unique_lock<std::mutex> guard(m_state->mutex);
        m_state->release = true;
        m_state->changed.notify_all();
        return m_state->changed.wait_for(guard, std::chrono::seconds(5),
                                         [&] { return m_state->done; });
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        int result = -1;
        bool release = false;
        bool done = false;
    };
    std::shared_ptr<State> m_state;
};

}  // namespace

TEST(VexBase, CountsReferencesAndCopiesHaveTheirOwn)
{
    bool originalGone = false;
    bool copyGone = false;
    Tracked* original = new Tracked(&originalGone);
    EXPECT_EQ(original->addRef(), 2u);
    EXPECT_EQ(original->addRef(), 3u);
    EXPECT_EQ(original->release(), 2u);
    ASSERT_TRUE(original->lock(0));

    // A copy's count and lock are its own, and free while the original's is held here.
    VexBase* copy = new Tracked(*original);
    static_cast<Tracked*>(copy)->destroyed = &copyGone;
    EXPECT_TRUE(otherThreadGetsLock(*copy, 1));
    EXPECT_FALSE(otherThreadGetsLock(*original, 1));
    EXPECT_EQ(copy->release(), 0u);  // through the base, the derived destructor runs
    EXPECT_TRUE(copyGone);
    EXPECT_FALSE(originalGone);

    // Assignment keeps the target's own count and lock.
    bool assignedGone = false;
    Tracked* assigned = new Tracked(&assignedGone);
    assigned->addRef();
    *assigned = *original;
    assigned->destroyed = &assignedGone;
    EXPECT_TRUE(otherThreadGetsLock(*assigned, 1));
    EXPECT_EQ(assigned->release(), 1u);
    EXPECT_EQ(assigned->release(), 0u);
    EXPECT_TRUE(assignedGone);

    original->unlock();
    EXPECT_EQ(original->release(), 1u);
    EXPECT_FALSE(originalGone);
    EXPECT_EQ(original->release(), 0u);
    EXPECT_TRUE(originalGone);
}

TEST(VexBase, LockIsRecursiveAndPerThread)
{
    VexBase object;
    object.unlock();   // never locked: nothing happens
    ASSERT_TRUE(object.lock(0));
    ASSERT_TRUE(object.lock(10));
    EXPECT_FALSE(otherThreadGetsLock(object, 1));
    // Another thread's unlock does not give away what this thread holds.
    onOtherThread([&] { object.unlock(); });
    object.unlock();
    EXPECT_FALSE(otherThreadGetsLock(object, 1));
    object.unlock();
    EXPECT_TRUE(otherThreadGetsLock(object, 1));
    object.unlock();   // one more than taken: harmless
    EXPECT_TRUE(otherThreadGetsLock(object, 1));
}

TEST(VexBase, ALockLeftByAnEndedThreadIsNoLaterThreadsLock)
{
    // Never destroyed: a lock whose owner is gone cannot be given back. No thread started
    // after the owner ended (which the system may give the owner's id again) gets it: each
    // is told it was abandoned, holds it and ends, abandoning it in turn.
    static VexBase* const object = new VexBase;
    onOtherThread([] { ASSERT_TRUE(object->lock(0)); });
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(otherThreadGetsLock(*object, 1)) << "thread " << i;
}

TEST(VexBase, AnAbandonedLockFailsPromptlyOnceAndPassesToItsWaiter)
{
    // Rows: how long the next caller is willing to wait (0: without limit).
    for (const std::uint32_t timeoutMs : {0u, 50u, 60000u}) {
        // Not destroyed when a row hangs: the stuck thread still uses it.
        auto* object = new VexBase;
        onOtherThread([object] { ASSERT_TRUE(object->lock(0)); });  // ends holding it
        const auto start = Clock::now();
        Taker waiter(*object, timeoutMs);
        const int result = waiter.result(std::chrono::seconds(5));
        ASSERT_EQ(result, 0) << "timeout " << timeoutMs << " (-1: still waiting)";
        EXPECT_LT(millisecondsSince(start), 1000) << "timeout " << timeoutMs;
        // The waiter holds it now, once: others wait until its one unlock().
        EXPECT_FALSE(otherThreadGetsLock(*object, 1)) << "timeout " << timeoutMs;
        ASSERT_TRUE(waiter.letGo());
        EXPECT_TRUE(otherThreadGetsLock(*object, 1)) << "timeout " << timeoutMs;
        delete object;
    }
}

TEST(VexBase, TimedLockGivesUpAndUnlimitedLockWaits)
{
    VexBase object;
    Taker holder(object, 0);
    ASSERT_EQ(holder.result(std::chrono::seconds(5)), 1);
    auto start = Clock::now();
    EXPECT_FALSE(object.lock(50));
    EXPECT_GE(millisecondsSince(start), 40);
    EXPECT_LT(millisecondsSince(start), 2000);
    std::thread releaser([&holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        holder.letGo();
    });
    start = Clock::now();
    EXPECT_TRUE(object.lock(0));
    EXPECT_GE(millisecondsSince(start), 80);
    object.unlock();
    releaser.join();
}

TEST(VexBase, FirstLocksFromManyThreadsShareOneLock)
{
    // The lock is made on first use; threads arriving together must still exclude each other.
    for (int round = 0; round < 20; ++round) {
        VexBase object;
        std::atomic<int> ready{0};
        int inside = 0;
        int total = 0;
        bool overlapped = false;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                ++ready;
                while (ready.load() < 4)
                    std::this_thread::yield();
                for (int i = 0; i < 200; ++i) {
                    ASSERT_TRUE(object.lock(0));
                    if (++inside != 1)
                        overlapped = true;
                    ++total;
                    --inside;
                    object.unlock();
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        EXPECT_FALSE(overlapped);
        EXPECT_EQ(total, 800);
    }
}
