// Named mutexes: ownership, nesting, abandonment, names, exclusion between processes, and
// against other users where they live and that no open waits without a bound.
#include "kyro/platform/filesystem.h"
#include "kyro/platform/named_mutex.h"
#include "kyro/platform/process_info.h"

#include "Accounts.h"
#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace kyro::platform;

namespace {

// The names this run made, discarded when all tests are done: POSIX objects outlive handles.
std::vector<std::string> g_names;

struct DiscardNames : testing::Environment {
    void TearDown() override
    {
        for (const std::string& name : g_names)
            namedMutexDiscard(name.c_str());
    }
};
testing::Environment* const g_discardNames = testing::AddGlobalTestEnvironment(new DiscardNames);

std::string remember(const std::string& name)
{
    g_names.push_back(name);
    return name;
}

std::string uniqueName(const std::string& tag)
{
    return remember("kyro-mx-test-" + std::to_string(currentProcessId()) + "-" + tag);
}

// A Windows mutex is recursive for its owning thread: contention comes from another one.
template <class Work>
auto onOtherThread(Work work) -> decltype(work())
{
    decltype(work()) result{};
    std::thread thread([&] { result = work(); });
    thread.join();
    return result;
}

// A wait of 0 on another thread, giving back what it obtains.
NamedMutexWait waitElsewhere(NamedMutex mutex)
{
    return onOtherThread([&] {
        const NamedMutexWait got = namedMutexWait(mutex, 0);
        if (got == NamedMutexWait::Obtained)
            namedMutexRelease(mutex);
        return got;
    });
}

}  // namespace

// Obtains the mutex named in the argument and ends without releasing it.
KYRO_CHILD_ROLE(lockAndEnd)
{
    if (namedMutexWait(namedMutexOpen(argument.c_str()), 0) != NamedMutexWait::Obtained)
        return 1;
    std::_Exit(0);
}

// Adds one to the number in <path> <count> times under the mutex <tag>, opened and closed for
// every round as the log writer does. Silent when all went well.
KYRO_CHILD_ROLE(countUnderMutex)
{
    const ChildJob job = parseChildJob(argument);
    for (int round = 0; round < job.count; ++round) {
        const NamedMutex mutex = namedMutexOpen(job.tag.c_str());
        std::FILE* file = namedMutexWait(mutex, -1) == NamedMutexWait::Obtained
                              ? openFile(job.path.c_str(), "r+b") : nullptr;
        if (file == nullptr)
            return std::puts("no lock or no counter file"), 1;
        char text[32] = {};
        std::fread(text, 1, sizeof(text) - 1, file);
        std::this_thread::yield();  // between read and write, for a missing exclusion to show
        std::rewind(file);
        std::fprintf(file, "%010ld", std::strtol(text, nullptr, 10) + 1);
        std::fclose(file);
        if (!namedMutexRelease(mutex) || !namedMutexClose(mutex))
            return std::puts("unlock failed"), 1;
    }
    return 0;
}

TEST(NamedMutex, PlatformContract)
{
    EXPECT_EQ(namedMutexOpen(nullptr), kNoNamedMutex);
    EXPECT_EQ(namedMutexWait(kNoNamedMutex, 0), NamedMutexWait::Failed);
    const std::string name = uniqueName("platform");
    const NamedMutex mutex = namedMutexOpen(name.c_str());
    ASSERT_NE(mutex, kNoNamedMutex);
    EXPECT_EQ(namedMutexWait(mutex, -2), NamedMutexWait::Failed);
    EXPECT_FALSE(namedMutexRelease(mutex));  // not owned
    for (const int timeout : {0, 50, -1})
        EXPECT_EQ(namedMutexWait(mutex, timeout), NamedMutexWait::Obtained);
    EXPECT_FALSE(onOtherThread([&] { return namedMutexRelease(mutex); }));
    EXPECT_EQ(onOtherThread([&] { return namedMutexWait(mutex, 50); }), NamedMutexWait::TimedOut);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(namedMutexRelease(mutex)) << i;
    EXPECT_FALSE(namedMutexRelease(mutex));

    // A handle closed while owning keeps the ownership; another handle gives it back.
    const NamedMutex closing = namedMutexOpen(name.c_str());
    ASSERT_EQ(namedMutexWait(closing, 0), NamedMutexWait::Obtained);
    EXPECT_TRUE(namedMutexClose(closing));
    EXPECT_EQ(waitElsewhere(mutex), NamedMutexWait::TimedOut);
    EXPECT_TRUE(namedMutexRelease(mutex));

    // A thread or process that ends owning it leaves it abandoned; the next waiter owns it.
    ASSERT_EQ(onOtherThread([&] { return namedMutexWait(mutex, 0); }), NamedMutexWait::Obtained);
    EXPECT_EQ(namedMutexWait(mutex, 1000), NamedMutexWait::Abandoned);
    EXPECT_TRUE(namedMutexRelease(mutex));
    std::string output;
    ASSERT_TRUE(runRole(("lockAndEnd:" + name).c_str(), &output));
    EXPECT_EQ(namedMutexWait(mutex, 15000), NamedMutexWait::Abandoned);
    EXPECT_EQ(waitElsewhere(mutex), NamedMutexWait::TimedOut);
    EXPECT_TRUE(namedMutexRelease(mutex));
    EXPECT_EQ(waitElsewhere(mutex), NamedMutexWait::Obtained);
    EXPECT_TRUE(namedMutexClose(mutex));
}

TEST(NamedMutex, Names)
{
    const std::string base = uniqueName("names"), upper = uniqueName("NAMES");
    const std::string odd = uniqueName("names /:*?\"<>|%25%.\xC3\xA9\xE2\x82\xAC");
    const std::string longName = "kyro-mx-test-" + std::to_string(currentProcessId()) + std::string(200, 'n');
    // Characters a file name could not hold, and long names that differ only at the end.
    const struct { std::string a, b; bool same; } rows[] = {
        {base, "Local\\" + base, true}, {base, remember("Global\\" + base), false},
        {base, upper, false}, {odd, odd, true}, {odd, uniqueName("names /:*?\"<>|%25%.\xC3\xA9"), false},
        {remember(longName + "a"), remember(longName + "b"), false},
        {uniqueName(std::string(150, '%')), uniqueName(std::string(150, '/')), false},
    };
    for (const auto& row : rows) {
        const NamedMutex held = namedMutexOpen(row.a.c_str()), probe = namedMutexOpen(row.b.c_str());
        ASSERT_EQ(namedMutexWait(held, 0), NamedMutexWait::Obtained) << row.a;
        EXPECT_EQ(waitElsewhere(probe) == NamedMutexWait::TimedOut, row.same) << row.a << " / " << row.b;
        namedMutexRelease(held);
        namedMutexClose(held);
        namedMutexClose(probe);
    }
    // A "\" anywhere but after the namespace is refused, as Windows refuses it.
    for (const std::string& bad : {base + "\\x", "Local\\" + base + "\\x", "\\" + base, std::string("Global\\")})
        EXPECT_EQ(namedMutexOpen(bad.c_str()), kNoNamedMutex) << bad;
    EXPECT_FALSE(namedMutexDiscard(""));
}

TEST(NamedMutex, ExclusionAcrossProcesses)
{
    TempFolder folder;
    const TPath counter = folder / "counter.txt";
    writeFileBytes(counter, "0000000000");
    const std::string role = childJobRole("countUnderMutex", uniqueName("count"), 400, counter);
    ASSERT_TRUE(runRolesTogether(std::vector<std::string>(3, role)));
    EXPECT_EQ(readFileBytes(counter), "0000001200");
}

// POSIX objects are files of ours in a folder of ours. The file's set-up lock held by someone
// else for longer than any set-up takes: the open gives up within its bound; a file of
// another owner is refused before any wait.
TEST(NamedMutexUsers, PrivateFilesAndNoOpenWaitsWithoutBoundNorOnAnotherUsersObject)
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

    writeFileBytes(where.c_str(), "");
    ASSERT_TRUE(setModeAndOwner(where, 0600, effectiveUserId()));
    {
        HeldFileLock lock(where);
        ASSERT_TRUE(lock.held());
        EXPECT_EQ(namedMutexOpen(name.c_str()), kNoNamedMutex);
    }
    EXPECT_TRUE(namedMutexClose(namedMutexOpen(name.c_str())));  // let go: it opens at once
    namedMutexDiscard(name.c_str());

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
