// VexBase: the lock an owner that ended leaves behind. (A lock that is not recursive or never
// times out hangs the conduit tests.)
#include "kyro/pipe/VexBase.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

bool otherThreadGetsLock(VexBase& object, std::uint32_t timeoutMs = 1)
{
    bool obtained = false;
    std::thread([&] {
        if ((obtained = object.lock(timeoutMs)))
            object.unlock();
    }).join();
    return obtained;
}

}  // namespace

// The first waiter after the owner's thread ended gets false, but holds the lock once.
TEST(VexBase, AnAbandonedLockFailsOnceAndPassesToItsWaiter)
{
    for (const std::uint32_t timeoutMs : {0u, 50u}) {   // 0: without limit
        SCOPED_TRACE(timeoutMs);
        auto* object = new VexBase;   // left behind: its owner is gone
        std::thread([object] { ASSERT_TRUE(object->lock(0)); }).join();
        bool got = true;
        std::thread([&] {
            got = object->lock(timeoutMs);
            EXPECT_FALSE(otherThreadGetsLock(*object));
            object->unlock();
        }).join();
        EXPECT_FALSE(got);
        EXPECT_TRUE(otherThreadGetsLock(*object));
    }
}
