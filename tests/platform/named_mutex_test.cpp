// Named mutexes: what KyroMutex's tests (util) do not reach: names, and other users.
#include "kyro/platform/named_mutex.h"
#include "kyro/platform/process_info.h"

#include "Accounts.h"
#include "FileBytes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

using namespace kyro::platform;

namespace {

std::string uniqueName(const std::string& tag)
{
    return "kyro-mx-test-" + std::to_string(currentProcessId()) + "-" + tag;
}

}  // namespace

TEST(NamedMutex, Names)
{
    // POSIX objects outlive their handles: each is discarded after its row.
    const std::string base = uniqueName("names"), upper = uniqueName("NAMES");
    const std::string odd = uniqueName("names /:*?\"<>|%25%.\xC3\xA9\xE2\x82\xAC");
    const std::string longName = base + std::string(200, 'n');
    // Characters a file name could not hold, and long names that differ only at the end.
    const struct { std::string a, b; bool same; } rows[] = {
        {base, "Local\\" + base, true}, {base, "Global\\" + base, false},
        {base, upper, false}, {odd, odd, true}, {odd, uniqueName("names /:*?\"<>|%25%.\xC3\xA9"), false},
        {longName + "a", longName + "b", false},
        {uniqueName(std::string(150, '%')), uniqueName(std::string(150, '/')), false},
    };
    for (const auto& row : rows) {
        const NamedMutex held = namedMutexOpen(row.a.c_str()), probe = namedMutexOpen(row.b.c_str());
        ASSERT_EQ(namedMutexWait(held, 0), NamedMutexWait::Obtained) << row.a;
        // Waited on from another thread: a Windows mutex is recursive for its owner.
        NamedMutexWait got = NamedMutexWait::Failed;
        std::thread([&] {
            if ((got = namedMutexWait(probe, 0)) == NamedMutexWait::Obtained)
                namedMutexRelease(probe);
        }).join();
        EXPECT_EQ(got == NamedMutexWait::TimedOut, row.same) << row.a << " / " << row.b;
        namedMutexRelease(held);
        namedMutexClose(held);
        namedMutexClose(probe);
        for (const std::string& name : {row.a, row.b})
            namedMutexDiscard(name.c_str());
    }
    // A "\" anywhere but after the namespace is refused, as Windows refuses it.
    for (const std::string& bad : {base + "\\x", "Local\\" + base + "\\x", "\\" + base, std::string("Global\\")})
        EXPECT_EQ(namedMutexOpen(bad.c_str()), kNoNamedMutex) << bad;
}

// POSIX objects are files of ours in a folder of ours; a file of another owner, its lock held,
// is refused before any wait.
TEST(NamedMutexUsers, PrivateFilesAndNoWaitOnAnotherUsersObject)
{
    const std::string name = uniqueName("held");
    const std::string where = namedMutexLocation(name.c_str());
    if (KYRO_TEST_WINDOWS)
        GTEST_SKIP() << "no files";
    namespace fs = std::filesystem;
    EXPECT_TRUE(namedMutexClose(namedMutexOpen(name.c_str())));
    EXPECT_EQ(fs::status(where).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(fs::path(where).parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_TRUE(namedMutexDiscard(name.c_str()));
    EXPECT_FALSE(fs::exists(where));

    OtherUser other;
    if (!other.unavailable().empty())
        GTEST_SKIP() << other.unavailable();
    // The folder is closed to them: they cannot even make the file.
    EXPECT_NE(other.run("umask 000; : > '" + where + "'"), 0);
    EXPECT_FALSE(fs::exists(where));
    // Made there by root for them with mode 0666 and its lock held: refused at once.
    writeFileBytes(where.c_str(), "");
    ASSERT_TRUE(setModeAndOwner(where, 0666, other.id()));
    HeldFileLock held(where);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(namedMutexOpen(name.c_str()), kNoNamedMutex);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    fs::remove(where);
}
