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

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace kyro::platform;

namespace {

// The names this run made, discarded when all tests are done: POSIX objects outlive handles.
std::mutex g_namesLock;
std::vector<std::string> g_names;

std::string remember(const std::string& name)
{
    std::lock_guard<std::mutex> guard(g_namesLock);
    g_names.push_back(name);
    return name;
}

struct DiscardNames : testing::Environment {
    void TearDown() override
    {
        for (const std::string& name : g_names)
            namedMutexDiscard(name.c_str());
    }
};
testing::Environment* const g_discardNames = testing::AddGlobalTestEnvironment(new DiscardNames);

std::string uniqueName(const char* tag)
{
    static std::atomic<int> serial{0};
    return remember("kyro-mx-test-" + std::to_string(currentProcessId()) + "-" + tag + "-" +
                    std::to_string(serial++));
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

// Whether `b` is busy while `a` is held.
bool sameMutex(const std::string& a, const std::string& b)
{
    const NamedMutex held = namedMutexOpen(a.c_str()), probe = namedMutexOpen(b.c_str());
    bool same = false;
    if (held != kNoNamedMutex && probe != kNoNamedMutex) {
        namedMutexWait(held, 0);
        same = waitElsewhere(probe) == NamedMutexWait::TimedOut;
        namedMutexRelease(held);
    }
    namedMutexClose(held);
    namedMutexClose(probe);
    return same;
}

using Clock = std::chrono::steady_clock;

}  // namespace

// Obtains the mutex named in the argument and ends without releasing it.
KYRO_CHILD_ROLE(lockAndEnd)
{
    const NamedMutex mutex = namedMutexOpen(argument.c_str());
    if (namedMutexWait(mutex, 0) != NamedMutexWait::Obtained)
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
        if (namedMutexWait(mutex, -1) != NamedMutexWait::Obtained)
            return std::puts("lock failed"), 1;
        std::FILE* file = openFile(job.path.c_str(), "r+b");
        if (file == nullptr)
            return std::puts("no counter file"), 1;
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
    EXPECT_EQ(namedMutexOpen(""), kNoNamedMutex);
    EXPECT_EQ(namedMutexWait(kNoNamedMutex, 0), NamedMutexWait::Failed);
    EXPECT_FALSE(namedMutexRelease(kNoNamedMutex));
    EXPECT_FALSE(namedMutexClose(kNoNamedMutex));

    const std::string name = uniqueName("platform");
    const NamedMutex mutex = namedMutexOpen(name.c_str());
    ASSERT_NE(mutex, kNoNamedMutex);
    EXPECT_EQ(namedMutexWait(mutex, -2), NamedMutexWait::Failed);
    EXPECT_FALSE(namedMutexRelease(mutex));  // not owned
    for (const int timeout : {0, 50, -1})
        EXPECT_EQ(namedMutexWait(mutex, timeout), NamedMutexWait::Obtained);
    EXPECT_FALSE(onOtherThread([&] { return namedMutexRelease(mutex); }));
    EXPECT_EQ(waitElsewhere(mutex), NamedMutexWait::TimedOut);
    EXPECT_EQ(onOtherThread([&] { return namedMutexWait(mutex, 50); }), NamedMutexWait::TimedOut);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(namedMutexRelease(mutex)) << i;
    EXPECT_FALSE(namedMutexRelease(mutex));

    // A wait with a time-out ends when the owner releases.
    ASSERT_EQ(namedMutexWait(mutex, 0), NamedMutexWait::Obtained);
    std::atomic<bool> released{false};
    std::thread waiter([&] {
        EXPECT_EQ(namedMutexWait(mutex, 30000), NamedMutexWait::Obtained);
        EXPECT_TRUE(released.load());
        namedMutexRelease(mutex);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    released = true;
    EXPECT_TRUE(namedMutexRelease(mutex));
    waiter.join();

    // A handle closed while owning keeps the ownership, even after many other mutexes came
    // and went; another handle gives it back.
    const NamedMutex closing = namedMutexOpen(name.c_str());
    ASSERT_EQ(namedMutexWait(closing, 0), NamedMutexWait::Obtained);
    EXPECT_TRUE(namedMutexClose(closing));
    for (int i = 0; i < 40; ++i) {
        const NamedMutex other = namedMutexOpen(uniqueName("many").c_str());
        EXPECT_EQ(namedMutexWait(other, 0), NamedMutexWait::Obtained);
        EXPECT_TRUE(namedMutexRelease(other) && namedMutexClose(other));
    }
    EXPECT_EQ(waitElsewhere(mutex), NamedMutexWait::TimedOut);
    EXPECT_TRUE(namedMutexRelease(mutex));
    EXPECT_EQ(waitElsewhere(mutex), NamedMutexWait::Obtained);

    // A thread or process that ends owning it leaves it abandoned; the next waiter owns it.
    ASSERT_EQ(onOtherThread([&] { return namedMutexWait(mutex, 0); }), NamedMutexWait::Obtained);
    EXPECT_EQ(namedMutexWait(mutex, 1000), NamedMutexWait::Abandoned);
    EXPECT_EQ(waitElsewhere(mutex), NamedMutexWait::TimedOut);
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
    const std::string base = uniqueName("names");
    std::string upper = base;  // case-sensitive, as kernel object names are
    upper.replace(upper.find("names"), 5, "NAMES");
    const std::string odd = remember(base + " /:*?\"<>|%25%.\xC3\xA9\xE2\x82\xAC");
    const std::string longName = base + std::string(200, 'n');
    // Characters a file name could not hold, and long names that differ only at the end.
    const struct { std::string a, b; bool same; } rows[] = {
        {base, "Local\\" + base, true}, {base, remember("Global\\" + base), false},
        {"Global\\" + base, "Global\\" + base, true}, {base, remember(upper), false},
        {odd, odd, true}, {odd, remember(base + " /:*?\"<>|%25%.\xC3\xA9"), false},
        {remember(longName + "a"), longName + "a", true}, {longName + "a", remember(longName + "b"), false},
        {remember(std::string(150, '%') + base), remember(std::string(150, '/') + base), false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(sameMutex(row.a, row.b), row.same) << row.a << " / " << row.b;

    EXPECT_TRUE(namedMutexDiscard(base.c_str()));
    EXPECT_TRUE(sameMutex(base, base));  // a discarded name is free for a new mutex
    EXPECT_FALSE(namedMutexDiscard(""));
    EXPECT_FALSE(namedMutexDiscard(nullptr));
    // A "\" anywhere but after the namespace is refused, as Windows refuses it.
    for (const std::string& bad : {base + "\\x", "Local\\" + base + "\\x", "\\" + base,
                                   std::string("Local\\"), std::string("Global\\")}) {
        const NamedMutex opened = namedMutexOpen(bad.c_str());
        EXPECT_EQ(opened, kNoNamedMutex) << bad;
        namedMutexClose(opened);
    }
}

TEST(NamedMutex, ExclusionAcrossProcesses)
{
    TempFolder folder;
    const TPath counter = folder / "counter.txt";
    writeFileBytes(counter, "0000000000");
    const std::string name = uniqueName("count");
    const std::string role = childJobRole("countUnderMutex", name, 400, counter);
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
    if (KYRO_TEST_WINDOWS) {
        EXPECT_TRUE(where.empty());
        return;
    }
    namespace fs = std::filesystem;
    NamedMutex mutex = namedMutexOpen(name.c_str());
    EXPECT_EQ(fs::status(where).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(fs::path(where).parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_TRUE(namedMutexClose(mutex) && namedMutexDiscard(name.c_str()));
    EXPECT_FALSE(fs::exists(where));

    writeFileBytes(where.c_str(), "");
    ASSERT_TRUE(setModeAndOwner(where, 0600, effectiveUserId()));
    auto lock = std::make_unique<HeldFileLock>(where);
    ASSERT_TRUE(lock->held());
    EXPECT_EQ(namedMutexOpen(name.c_str()), kNoNamedMutex);
    lock.reset();
    mutex = namedMutexOpen(name.c_str());  // let go: it opens at once
    EXPECT_NE(mutex, kNoNamedMutex);
    namedMutexClose(mutex);
    namedMutexDiscard(name.c_str());

    OtherUser other;
    if (!other.unavailable().empty())
        GTEST_SKIP() << other.unavailable();
    // The folder is closed to them: they cannot even make the file.
    EXPECT_NE(other.run("umask 000; : > '" + where + "'"), 0);
    EXPECT_FALSE(std::filesystem::exists(where));
    // Made there by root for them with mode 0666 and its lock held: refused at once.
    writeFileBytes(where.c_str(), "");
    ASSERT_TRUE(setModeAndOwner(where, 0666, other.id()));
    {
        HeldFileLock held(where);
        ASSERT_TRUE(held.held());
        const auto start = Clock::now();
        EXPECT_EQ(namedMutexOpen(name.c_str()), kNoNamedMutex);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
    }
    std::filesystem::remove(where);

    // Names that used to be in /dev/shm, made first by them and held: nothing looks there now.
    const std::string old = "/dev/shm/kyro.mx1." + std::to_string(effectiveUserId()) + "." + name;
    ASSERT_TRUE(other.start("umask 000; : > '" + old + "'; exec flock -x '" + old + "' sleep 60"));
    for (int i = 0; i < 200 && !std::filesystem::exists(old); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const NamedMutex fresh = namedMutexOpen(name.c_str());
    EXPECT_EQ(namedMutexWait(fresh, 0), NamedMutexWait::Obtained);
    EXPECT_TRUE(namedMutexRelease(fresh));
    namedMutexClose(fresh);
    other.stopAll();
    std::filesystem::remove(old);
}
