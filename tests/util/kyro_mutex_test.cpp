// KyroMutex over the named mutex: the missing handle, nesting depth, re-creation, and owners
// that end without unlocking.
#include "kyro/util/KyroMutex.h"

#include "kyro/platform/named_mutex.h"
#include "kyro/platform/process_info.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

// Whether another thread gets the mutex of `name` at once.
bool lockedElsewhere(const std::string& name)
{
    bool got = false;
    std::thread thread([&] {
        KyroMutex other;
        got = other.create(name.c_str()) && other.lock(0);
    });
    thread.join();
    return got;
}

}  // namespace

TEST(KyroMutex, HandleDepthRecreationAndAbandonedOwners)
{
    const std::string name = "kyro_mutex_test_" + std::to_string(kyro::platform::currentProcessId());
    const std::string second = name + "_second";
    KyroMutex mutex, byThread;
    EXPECT_FALSE(mutex.lock(-1));  // no handle: nothing to wait for
    EXPECT_TRUE(mutex.unlock());
    ASSERT_TRUE(mutex.create(name.c_str()));
    EXPECT_FALSE(mutex.lock(-2));
    for (const int timeout : {0, 50, -1})
        ASSERT_TRUE(mutex.lock(timeout)) << timeout;
    for (int level = 3; level > 0; --level) {
        EXPECT_FALSE(lockedElsewhere(name)) << level;
        EXPECT_TRUE(mutex.unlock()) << level;
    }
    EXPECT_FALSE(mutex.isLocked());
    EXPECT_TRUE(lockedElsewhere(name));

    // A failed create() leaves no handle; create() again replaces the open one.
    EXPECT_FALSE(mutex.create(""));
    EXPECT_FALSE(mutex.lock(0));
    ASSERT_TRUE(mutex.create(name.c_str()) && mutex.create(second.c_str()) && mutex.lock(0));
    EXPECT_TRUE(lockedElsewhere(name));
    EXPECT_FALSE(lockedElsewhere(second));
    EXPECT_TRUE(mutex.unlock() && mutex.close());

    // What it guarded may be half written: the next lock fails, once, and gives the mutex back.
    ASSERT_TRUE(mutex.create(name.c_str()) && byThread.create(name.c_str()));
    std::thread([&] { byThread.lock(0); }).join();
    EXPECT_FALSE(mutex.lock(15000));
    EXPECT_TRUE(lockedElsewhere(name));
    EXPECT_TRUE(mutex.lock(0) && mutex.unlock());
    for (const std::string& used : {name, second})
        kyro::platform::namedMutexDiscard(used.c_str());  // POSIX objects outlive their handles
}
