// VexBase: reference counting, copies with their own state, and the recursive timed lock.
#include "kyro/pipe/VexBase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Says when it is destroyed, to the flag it was last given.
struct Tracked : VexBase {
    explicit Tracked(bool* destroyedFlag) : destroyed(destroyedFlag) {}
    ~Tracked() override { *destroyed = true; }
    bool* destroyed;
};

bool otherThreadGetsLock(VexBase& object, std::uint32_t timeoutMs)
{
    bool obtained = false;
    std::thread([&] {
        obtained = object.lock(timeoutMs);
        if (obtained)
            object.unlock();
    }).join();
    return obtained;
}

// lock(timeoutMs) on a detached thread, which unlocks once when let go: a lock() that never
// returns leaves the thread behind rather than hanging the test.
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
    int result()   // 1 got it, 0 refused, -1 still waiting after 5 s
    {
        std::unique_lock<std::mutex> guard(m_state->mutex);
        m_state->changed.wait_for(guard, std::chrono::seconds(5), [&] { return m_state->result >= 0; });
        return m_state->result;
    }
    bool letGo()
    {
        std::unique_lock<std::mutex> guard(m_state->mutex);
        m_state->release = true;
        m_state->changed.notify_all();
        return m_state->changed.wait_for(guard, std::chrono::seconds(5), [&] { return m_state->done; });
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
    bool originalGone = false, copyGone = false, assignedGone = false;
    Tracked* original = new Tracked(&originalGone);
    EXPECT_EQ(original->addRef(), 2u);
    EXPECT_EQ(original->addRef(), 3u);
    EXPECT_EQ(original->release(), 2u);
    ASSERT_TRUE(original->lock(0));
    // A copy's count and lock are its own, and free while the original's is held.
    VexBase* copy = new Tracked(*original);
    static_cast<Tracked*>(copy)->destroyed = &copyGone;
    EXPECT_TRUE(otherThreadGetsLock(*copy, 1));
    EXPECT_FALSE(otherThreadGetsLock(*original, 1));
    EXPECT_EQ(copy->release(), 0u);   // through the base, the derived destructor runs
    EXPECT_TRUE(copyGone);
    // Assignment keeps the target's own count and lock.
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

TEST(VexBase, LockIsRecursivePerThreadAndTimed)
{
    VexBase object;
    object.unlock();   // never locked: nothing happens
    ASSERT_TRUE(object.lock(0));
    ASSERT_TRUE(object.lock(10));
    EXPECT_FALSE(otherThreadGetsLock(object, 1));
    std::thread([&] { object.unlock(); }).join();   // not the holder: nothing given away
    object.unlock();
    EXPECT_FALSE(otherThreadGetsLock(object, 1));
    object.unlock();
    EXPECT_TRUE(otherThreadGetsLock(object, 1));
    object.unlock();   // one more than taken: harmless
    EXPECT_TRUE(otherThreadGetsLock(object, 1));

    // Held elsewhere: a timed lock gives up, an unlimited one waits for the holder.
    Taker holder(object, 0);
    ASSERT_EQ(holder.result(), 1);
    EXPECT_FALSE(object.lock(50));
    std::thread releaser([&holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        holder.letGo();
    });
    EXPECT_TRUE(object.lock(0));
    object.unlock();
    releaser.join();
}

TEST(VexBase, AnAbandonedLockFailsOnceAndPassesToItsWaiter)
{
    // No thread started after the owner ended (which may get the owner's id again) gets it.
    static VexBase* const left = new VexBase;   // never destroyed: its owner is gone
    std::thread([] { ASSERT_TRUE(left->lock(0)); }).join();
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(otherThreadGetsLock(*left, 1)) << "thread " << i;

    for (const std::uint32_t timeoutMs : {0u, 50u, 60000u}) {   // 0: without limit
        SCOPED_TRACE(timeoutMs);
        auto* object = new VexBase;   // not destroyed when a row hangs
        std::thread([object] { ASSERT_TRUE(object->lock(0)); }).join();
        Taker waiter(*object, timeoutMs);
        ASSERT_EQ(waiter.result(), 0) << "-1: still waiting";
        EXPECT_FALSE(otherThreadGetsLock(*object, 1));   // the waiter holds it now, once
        ASSERT_TRUE(waiter.letGo());
        EXPECT_TRUE(otherThreadGetsLock(*object, 1));
        delete object;
    }
}
