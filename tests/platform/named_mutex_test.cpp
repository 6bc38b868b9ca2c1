// Named mutexes against other users: where they live, whose they must be, and that no
// open waits without a bound on an object someone else could hold.
#include "kyro/platform/named_mutex.h"
#include "kyro/platform/process_info.h"

#include "Accounts.h"
#include "FileBytes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

using namespace kyro::platform;

namespace {

std::string uniqueName(const char* what)
{
    return std::string("kyro-mx-test-") + what + "-" + std::to_string(currentProcessId()) +
           "-" + std::to_string(std::rand());
}

using Clock = std::chrono::steady_clock;

}  // namespace

TEST(NamedMutexUsers, ObjectsLiveInTheUsersPrivateFolder)
{
    const std::string name = uniqueName("where");
    const std::string where = namedMutexLocation(name.c_str());
    if (KYRO_TEST_WINDOWS) {
        EXPECT_TRUE(where.empty());
        return;
    }
    ASSERT_FALSE(where.empty());
    const NamedMutex mutex = namedMutexOpen(name.c_str());
    ASSERT_NE(mutex, kNoNamedMutex);
    const std::filesystem::path file(where);
    EXPECT_TRUE(std::filesystem::is_regular_file(file)) << where;
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // The folder: ours and closed to everyone else.
    EXPECT_EQ(std::filesystem::status(file.parent_path()).permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all)
        << file.parent_path();
    EXPECT_EQ(namedMutexWait(mutex, 0), NamedMutexWait::Obtained);
    EXPECT_TRUE(namedMutexRelease(mutex));
    EXPECT_TRUE(namedMutexClose(mutex));
    EXPECT_TRUE(namedMutexDiscard(name.c_str()));
    EXPECT_FALSE(std::filesystem::exists(file));
}

// The file's set-up lock held by someone else for longer than any set-up takes: the open
// gives up within its bound instead of waiting for ever.
TEST(NamedMutexUsers, AnOpenNeverWaitsWithoutBound)
{
    if (KYRO_TEST_WINDOWS)
        GTEST_SKIP() << "the set-up lock is the POSIX backend's";
    const std::string name = uniqueName("held");
    const std::string where = namedMutexLocation(name.c_str());
    ASSERT_FALSE(where.empty());
    std::FILE* made = std::fopen(where.c_str(), "w");
    ASSERT_NE(made, nullptr);
    std::fclose(made);
    ASSERT_TRUE(setModeAndOwner(where, 0600, effectiveUserId()));
    auto lock = std::make_unique<HeldFileLock>(where);
    ASSERT_TRUE(lock->held());
    const auto start = Clock::now();
    const NamedMutex blocked = namedMutexOpen(name.c_str());
    const auto took = Clock::now() - start;
    EXPECT_EQ(blocked, kNoNamedMutex);
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_GE(took, std::chrono::milliseconds(500));
    lock.reset();
    // Let go: it opens at once.
    const NamedMutex mutex = namedMutexOpen(name.c_str());
    EXPECT_NE(mutex, kNoNamedMutex);
    namedMutexClose(mutex);
    namedMutexDiscard(name.c_str());
}

// A file of another owner where our mutex would be, with mode 0666 and its flock held for
// a minute: refused at once, before anything waits on it.
TEST(NamedMutexUsers, AnotherUsersObjectIsRefusedBeforeAnyWait)
{
    OtherUser other;
    if (!other.unavailable().empty())
        GTEST_SKIP() << other.unavailable();
    const std::string name = uniqueName("squat");
    const std::string where = namedMutexLocation(name.c_str());
    ASSERT_FALSE(where.empty());
    // The folder is closed to them: they cannot even make the file.
    EXPECT_NE(other.run("umask 000; : > '" + where + "'"), 0);
    EXPECT_FALSE(std::filesystem::exists(where));

    // Made there by root for them, as if they could: still refused, and at once.
    std::FILE* planted = std::fopen(where.c_str(), "w");
    ASSERT_NE(planted, nullptr);
    std::fclose(planted);
    ASSERT_TRUE(setModeAndOwner(where, 0666, other.id()));
    {
        HeldFileLock lock(where);
        ASSERT_TRUE(lock.held());
        const auto start = Clock::now();
        EXPECT_EQ(namedMutexOpen(name.c_str()), kNoNamedMutex);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
    }
    std::filesystem::remove(where);

    // The names that used to be in /dev/shm, made first by them with mode 0666 and held:
    // nothing of ours looks there any more.
    const std::string old = "/dev/shm/kyro.mx1." + std::to_string(effectiveUserId()) + "." + name;
    ASSERT_TRUE(other.start("umask 000; : > '" + old + "'; exec flock -x '" + old +
                            "' sleep 60"));
    for (int i = 0; i < 200 && !std::filesystem::exists(old); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto again = Clock::now();
    const NamedMutex mutex = namedMutexOpen(name.c_str());
    EXPECT_NE(mutex, kNoNamedMutex);
    EXPECT_LT(Clock::now() - again, std::chrono::milliseconds(200));
    EXPECT_EQ(namedMutexWait(mutex, 0), NamedMutexWait::Obtained);
    EXPECT_TRUE(namedMutexRelease(mutex));
    namedMutexClose(mutex);
    namedMutexDiscard(name.c_str());
    other.stopAll();
    std::filesystem::remove(old);
}
