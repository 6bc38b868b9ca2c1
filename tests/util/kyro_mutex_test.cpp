// KyroMutex over the named mutex (whose contract platform/named_mutex_test.cpp covers): the
// missing handle, nesting depth, re-creation, and owners that end without unlocking.
#include "kyro/util/KyroMutex.h"

#include "kyro/platform/named_mutex.h"
#include "kyro/platform/process_info.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

template <class Work>
bool onOtherThread(Work work)
{
    bool result = false;
    std::thread thread([&] { result = work(); });
    thread.join();
    return result;
}

// Whether another thread gets the mutex of `name` at once.
bool lockedElsewhere(const std::string& name)
{
    return onOtherThread([&] {
        KyroMutex other;
        const bool got = other.create(name.c_str()) && other.lock(0);
        other.unlock();
        return got;
    });
}

struct Names {  // the POSIX backend's objects outlive their handles
    std::string base = "kyro_mutex_test_" + std::to_string(kyro::platform::currentProcessId());
    ~Names()
    {
        for (const char* tag : {"", "_second", "_abandoned"})
            kyro::platform::namedMutexDiscard((base + tag).c_str());
    }
};

}  // namespace

TEST(KyroMutex, HandleDepthAndRecreation)
{
    const Names names;
    const std::string name = names.base;
    KyroMutex mutex;
    EXPECT_FALSE(mutex.lock(0));  // no handle: nothing to wait for
    EXPECT_FALSE(mutex.lock(-1));
    EXPECT_TRUE(mutex.unlock());
    EXPECT_TRUE(mutex.close());
    EXPECT_FALSE(mutex.create(""));

    ASSERT_TRUE(mutex.create(name.c_str()));
    EXPECT_TRUE(mutex.unlock());  // nothing held
    EXPECT_FALSE(mutex.lock(-2));
    EXPECT_TRUE(lockedElsewhere(name));  // a refused lock took nothing
    for (const int timeout : {0, 50, -1})
        ASSERT_TRUE(mutex.lock(timeout)) << timeout;
    EXPECT_FALSE(onOtherThread([&] { return mutex.unlock(); }));  // not the owning thread
    for (int level = 3; level > 0; --level) {
        EXPECT_TRUE(mutex.isLocked()) << level;
        EXPECT_FALSE(lockedElsewhere(name)) << level;
        EXPECT_TRUE(mutex.unlock()) << level;
    }
    EXPECT_FALSE(mutex.isLocked());
    EXPECT_TRUE(lockedElsewhere(name));
    {  // destruction gives back every level still held
        KyroMutex nested;
        ASSERT_TRUE(nested.create(name.c_str()));
        ASSERT_TRUE(nested.lock(0) && nested.lock(0));
        EXPECT_FALSE(lockedElsewhere(name));
    }
    EXPECT_TRUE(lockedElsewhere(name));

    // A failed create() leaves no handle, also when one was open; create() again replaces it.
    EXPECT_FALSE(mutex.create(TStr()));
    EXPECT_FALSE(mutex.lock(0));
    ASSERT_TRUE(mutex.create(name.c_str()));
    ASSERT_TRUE(mutex.create((name + "_second").c_str()));
    ASSERT_TRUE(mutex.lock(0));
    EXPECT_TRUE(lockedElsewhere(name));
    EXPECT_FALSE(lockedElsewhere(name + "_second"));
    EXPECT_TRUE(mutex.unlock());
    EXPECT_TRUE(mutex.close());
    EXPECT_FALSE(mutex.lock(0));
}

// What it guarded may be half written: the next lock fails, once, and gives the mutex back.
TEST(KyroMutex, AnOwnerThatEndsWithoutUnlockingFailsTheNextLockOnce)
{
    const Names names;
    const std::string name = names.base + "_abandoned";
    KyroMutex mutex, byThread;
    ASSERT_TRUE(mutex.create(name.c_str()) && byThread.create(name.c_str()));
    ASSERT_TRUE(onOtherThread([&] { return byThread.lock(0); }));
    EXPECT_FALSE(mutex.lock(15000));
    EXPECT_FALSE(mutex.isLocked());
    EXPECT_TRUE(lockedElsewhere(name));
    EXPECT_TRUE(mutex.lock(0));
    EXPECT_TRUE(mutex.unlock());
}
