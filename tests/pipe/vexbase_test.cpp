// VexBase: reference counting, copies with their own state, and the recursive timed lock.
#include "kyro/pipe/VexBase.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

struct Tracked : VexBase {   // says when it is destroyed
    explicit Tracked(bool* destroyedFlag) : destroyed(destroyedFlag) {}
    Tracked(const Tracked&) = default;
    Tracked& operator=(const Tracked&) = default;
    ~Tracked() override { *destroyed = true; }
    bool* destroyed;
};

bool otherThreadGetsLock(VexBase& object, std::uint32_t timeoutMs = 1)
{
    bool obtained = false;
    std::thread([&] {
        if ((obtained = object.lock(timeoutMs)))
            object.unlock();
    }).join();
    return obtained;
}

// lock(timeoutMs) on a detached thread that unlocks once `letGo` is set: a lock() that never
// returns leaves that thread behind instead of hanging the test. 1: got it, 0: refused, -1: waits.
int lockElsewhere(VexBase& object, std::uint32_t timeoutMs, std::shared_future<void> letGo)
{
    auto got = std::make_shared<std::promise<bool>>();
    std::future<bool> result = got->get_future();
    std::thread([&object, timeoutMs, got, letGo] {
        got->set_value(object.lock(timeoutMs));
        letGo.wait();
        object.unlock();
    }).detach();
    return result.wait_for(std::chrono::seconds(5)) == std::future_status::ready ? result.get() : -1;
}

}  // namespace

TEST(VexBase, CountsReferencesAndCopiesHaveTheirOwn)
{
    bool originalGone = false, copyGone = false, assignedGone = false;
    Tracked* original = new Tracked(&originalGone);
    EXPECT_EQ(original->addRef(), 2u);
    EXPECT_EQ(original->release(), 1u);
    ASSERT_TRUE(original->lock(0));
    // Copies and assigned objects keep their own count and lock, free while the original's is held.
    VexBase* copy = new Tracked(*original);
    static_cast<Tracked*>(copy)->destroyed = &copyGone;
    Tracked* assigned = new Tracked(&assignedGone);
    assigned->addRef();
    *assigned = *original;
    assigned->destroyed = &assignedGone;
    EXPECT_TRUE(otherThreadGetsLock(*copy));
    EXPECT_TRUE(otherThreadGetsLock(*assigned));
    EXPECT_FALSE(otherThreadGetsLock(*original));
    EXPECT_EQ(copy->release(), 0u);   // through the base, the derived destructor runs
    EXPECT_TRUE(copyGone);
    EXPECT_EQ(assigned->release(), 1u);
    EXPECT_EQ(assigned->release(), 0u);
    EXPECT_TRUE(assignedGone);
    original->unlock();
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
    std::thread([&] { object.unlock(); }).join();   // not the holder's: nothing given away
    object.unlock();
    EXPECT_FALSE(otherThreadGetsLock(object));
    object.unlock();
    object.unlock();   // one more than taken: harmless
    EXPECT_TRUE(otherThreadGetsLock(object));

    // Held elsewhere: a timed lock gives up, an unlimited one waits for the holder.
    std::promise<void> letGo;
    ASSERT_EQ(lockElsewhere(object, 0, letGo.get_future().share()), 1);
    EXPECT_FALSE(object.lock(50));
    std::thread releaser([&letGo] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        letGo.set_value();
    });
    EXPECT_TRUE(object.lock(0));
    object.unlock();
    releaser.join();
}

TEST(VexBase, AnAbandonedLockFailsOnceAndPassesToItsWaiter)
{
    // No thread started after the owner ended (which may reuse the owner's id) gets it.
    static VexBase* const left = new VexBase;   // never destroyed: its owner is gone
    std::thread([] { ASSERT_TRUE(left->lock(0)); }).join();
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(otherThreadGetsLock(*left)) << "thread " << i;

    for (const std::uint32_t timeoutMs : {0u, 50u, 60000u}) {   // 0: without limit
        SCOPED_TRACE(timeoutMs);
        auto* object = new VexBase;   // left behind when a row hangs
        std::thread([object] { ASSERT_TRUE(object->lock(0)); }).join();
        std::promise<void> letGo;
        ASSERT_EQ(lockElsewhere(*object, timeoutMs, letGo.get_future().share()), 0) << "-1: still waiting";
        EXPECT_FALSE(otherThreadGetsLock(*object));   // the waiter holds it now, once
        letGo.set_value();
        EXPECT_TRUE(otherThreadGetsLock(*object, 5000));
        delete object;
    }
}
