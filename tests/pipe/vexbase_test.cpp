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

// lock(timeoutMs) on a detached thread, which holds what it got until let go and then unlocks
// once: a lock() that never returns leaves that thread behind instead of hanging the test.
class Elsewhere {
public:
    Elsewhere(VexBase& object, std::uint32_t timeoutMs)
    {
        auto got = std::make_shared<std::promise<bool>>();
        auto done = std::make_shared<std::promise<void>>();
        m_got = got->get_future();
        m_done = done->get_future();
        std::thread([&object, timeoutMs, got, done, letGo = m_letGo.get_future()] {
            got->set_value(object.lock(timeoutMs));
            letGo.wait();
            object.unlock();
            done->set_value();
        }).detach();
    }
    ~Elsewhere() { letGo(); }
    int result()   // 1: got it, 0: refused, -1: still waiting after 5 s
    {
        return m_got.wait_for(std::chrono::seconds(5)) == std::future_status::ready ? m_got.get() : -1;
    }
    bool letGo()   // and wait (bounded) until it has unlocked
    {
        if (!m_released)
            m_letGo.set_value();
        m_released = true;
        return m_done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    }

private:
    std::promise<void> m_letGo;
    std::future<bool> m_got;
    std::future<void> m_done;
    bool m_released = false;
};

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
    Elsewhere holder(object, 0);
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
    // No thread started after the owner ended (which may reuse the owner's id) gets it.
    static VexBase* const left = new VexBase;   // never destroyed: its owner is gone
    std::thread([] { ASSERT_TRUE(left->lock(0)); }).join();
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(otherThreadGetsLock(*left)) << "thread " << i;

    for (const std::uint32_t timeoutMs : {0u, 50u, 60000u}) {   // 0: without limit
        SCOPED_TRACE(timeoutMs);
        auto* object = new VexBase;   // left behind when a row hangs
        std::thread([object] { ASSERT_TRUE(object->lock(0)); }).join();
        Elsewhere waiter(*object, timeoutMs);
        ASSERT_EQ(waiter.result(), 0) << "-1: still waiting";
        EXPECT_FALSE(otherThreadGetsLock(*object));   // the waiter holds it now, once
        ASSERT_TRUE(waiter.letGo());
        EXPECT_TRUE(otherThreadGetsLock(*object));
        delete object;
    }
}
