// KyroMutex and the named mutex under it: time-outs, names, nesting, the owning thread,
// exclusion between processes, and owners that end without releasing.
#include "kyro/util/KyroMutex.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"
#include "kyro/platform/filesystem.h"
#include "kyro/platform/named_mutex.h"
#include "kyro/platform/process_info.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform = kyro::platform;
using platform::NamedMutexWait;

namespace {

// The names this run made, let go of when all tests are done: the POSIX backend's objects
// outlive their handles.
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
            platform::namedMutexDiscard(name.c_str());
    }
};
testing::Environment* const g_discardNames = testing::AddGlobalTestEnvironment(new DiscardNames);

std::string uniqueName(const char* tag)
{
    static std::atomic<int> serial{0};
    return remember("kyro_mutex_test_" + std::to_string(platform::currentProcessId()) + "_" +
                    tag + "_" + std::to_string(serial++));
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

bool lockedElsewhere(const std::string& name, int timeoutMs = 0)
{
    return onOtherThread([&] {
        KyroMutex other;
        const bool got = other.create(name.c_str()) && other.lock(timeoutMs);
        other.unlock();
        return got;
    });
}

std::string tryInAnotherProcess(const std::string& name)
{
    std::string output;
    return runRole(("tryLock:" + name).c_str(), &output) ? output : "<not run>";
}

}  // namespace

// Locks the mutex named in the argument and ends without unlocking it.
KYRO_CHILD_ROLE(lockAndEnd)
{
    KyroMutex mutex;
    if (!mutex.create(argument.c_str()) || !mutex.lock(0))
        return 1;
    std::fputs("locked", stdout);
    std::fflush(stdout);
    std::_Exit(0);   // no destructor gets the chance to release the lock
}

KYRO_CHILD_ROLE(tryLock)
{
    KyroMutex mutex;
    if (!mutex.create(argument.c_str()))
        return 1;
    std::fputs(!mutex.lock(0) ? "busy" : mutex.unlock() ? "obtained" : "unlock failed", stdout);
    return 0;
}

// Adds one to the number in <path> <count> times, reading and rewriting the file under the
// mutex <tag>, created and closed for every round as the log writer does. Silent when all
// went well.
KYRO_CHILD_ROLE(countUnderMutex)
{
    const ChildJob job = parseChildJob(argument);
    for (int round = 0; round < job.count; ++round) {
        KyroMutex mutex;
        if (!mutex.create(job.tag.c_str()) || !mutex.lock(-1))
            return std::puts("lock failed"), 1;
        std::FILE* file = platform::openFile(job.path.c_str(), "r+b");
        if (file == nullptr)
            return std::puts("no counter file"), 1;
        char text[32] = {};
        std::fread(text, 1, sizeof(text) - 1, file);
        std::this_thread::yield();   // between read and write, for a missing exclusion to show
        std::rewind(file);
        std::fprintf(file, "%010ld", std::strtol(text, nullptr, 10) + 1);
        std::fclose(file);
        if (!mutex.unlock() || !mutex.close())
            return std::puts("unlock failed"), 1;
    }
    return 0;
}

TEST(KyroMutex, TimeOutsAndEdges)
{
    const std::string name = uniqueName("timeouts");
    KyroMutex mutex;
    EXPECT_FALSE(mutex.lock(0));   // no handle: nothing to wait for
    EXPECT_FALSE(mutex.lock(-1));
    EXPECT_TRUE(mutex.unlock());
    EXPECT_TRUE(mutex.close());
    EXPECT_FALSE(mutex.create(""));

    ASSERT_TRUE(mutex.create(name.c_str()));
    EXPECT_TRUE(mutex.unlock());   // nothing held
    for (const int timeout : {0, 50, -1}) {
        EXPECT_TRUE(mutex.lock(timeout)) << timeout;
        EXPECT_TRUE(mutex.isLocked()) << timeout;
        EXPECT_TRUE(mutex.unlock()) << timeout;
        EXPECT_FALSE(mutex.isLocked()) << timeout;
    }
    EXPECT_FALSE(mutex.lock(-2));
    EXPECT_TRUE(lockedElsewhere(name));   // a refused lock took nothing

    // Held: 0 and 50 give up elsewhere, -1 waits until it is free.
    ASSERT_TRUE(mutex.lock(0));
    EXPECT_FALSE(lockedElsewhere(name, 0));
    EXPECT_FALSE(lockedElsewhere(name, 50));
    std::atomic<bool> released{false};
    std::thread waiter([&] {
        KyroMutex other;
        other.create(name.c_str());
        EXPECT_TRUE(other.lock(-1));
        EXPECT_TRUE(released.load());
        other.unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    released = true;
    EXPECT_TRUE(mutex.unlock());
    waiter.join();

    // A failed create() leaves no handle, also when one was open; create() again replaces it.
    ASSERT_TRUE(mutex.create(name.c_str()));
    EXPECT_FALSE(mutex.create(TStr()));
    EXPECT_FALSE(mutex.lock(0));
    ASSERT_TRUE(mutex.create(name.c_str()));
    ASSERT_TRUE(mutex.create(remember(name + "_second").c_str()));
    ASSERT_TRUE(mutex.lock(0));
    EXPECT_TRUE(lockedElsewhere(name));
    EXPECT_FALSE(lockedElsewhere(name + "_second"));
    EXPECT_TRUE(mutex.unlock());
    EXPECT_TRUE(mutex.close());
    EXPECT_FALSE(mutex.lock(0));
}

TEST(KyroMutex, NestingOwningThreadAndOtherProcesses)
{
    const std::string name = uniqueName("nesting");
    KyroMutex mutex;
    KyroMutex second;
    ASSERT_TRUE(mutex.create(name.c_str()));
    ASSERT_TRUE(second.create(name.c_str()));
    ASSERT_TRUE(mutex.lock(0));
    ASSERT_TRUE(mutex.lock(50));
    ASSERT_TRUE(mutex.lock(-1));
    EXPECT_EQ(tryInAnotherProcess(name), "busy");
    EXPECT_FALSE(onOtherThread([&] { return second.lock(0); }));   // same name, same mutex
    EXPECT_FALSE(second.isLocked());
    EXPECT_FALSE(onOtherThread([&] { return mutex.unlock(); }));   // not the owning thread
    for (int level = 3; level > 0; --level) {
        EXPECT_TRUE(mutex.isLocked()) << level;
        EXPECT_FALSE(lockedElsewhere(name)) << level;
        EXPECT_TRUE(mutex.unlock()) << level;
    }
    EXPECT_FALSE(mutex.isLocked());
    EXPECT_TRUE(lockedElsewhere(name));
    EXPECT_EQ(tryInAnotherProcess(name), "obtained");

    {   // destruction gives back every level still held
        KyroMutex nested;
        ASSERT_TRUE(nested.create(name.c_str()));
        ASSERT_TRUE(nested.lock(0) && nested.lock(0));
        EXPECT_FALSE(lockedElsewhere(name));
    }
    EXPECT_TRUE(lockedElsewhere(name));
}

TEST(KyroMutex, ExclusionAcrossProcesses)
{
    TempFolder folder;
    const TPath counter = folder / "counter.txt";
    writeFileBytes(counter, "0000000000");
    const std::string name = uniqueName("count");
    const std::vector<std::string> roles(3, childJobRole("countUnderMutex", name, 400, counter));
    ASSERT_TRUE(runRolesTogether(roles));
    EXPECT_EQ(readFileBytes(counter), "0000001200");
}

TEST(KyroMutex, AnOwnerThatEndsWithoutUnlockingFailsTheNextLockOnceAtOnce)
{
    const std::string name = uniqueName("abandoned");
    KyroMutex mutex;   // keeps the mutex in existence while the child comes and goes
    ASSERT_TRUE(mutex.create(name.c_str()));
    std::string output;
    ASSERT_TRUE(runRole(("lockAndEnd:" + name).c_str(), &output));
    ASSERT_EQ(output, "locked");

    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(mutex.lock(15000));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(7500));
    EXPECT_FALSE(mutex.isLocked());
    EXPECT_EQ(tryInAnotherProcess(name), "obtained");   // given back
    ASSERT_TRUE(mutex.lock(0));
    EXPECT_EQ(tryInAnotherProcess(name), "busy");
    EXPECT_TRUE(mutex.unlock());

    // A thread of ours that ends holding it: the same.
    KyroMutex byThread;
    ASSERT_TRUE(byThread.create(name.c_str()));
    ASSERT_TRUE(onOtherThread([&] { return byThread.lock(0); }));
    EXPECT_FALSE(mutex.lock(15000));
    EXPECT_TRUE(mutex.lock(0));
    EXPECT_TRUE(mutex.unlock());
    EXPECT_TRUE(lockedElsewhere(name));
}

TEST(NamedMutex, PlatformContract)
{
    const std::string name = uniqueName("platform");
    EXPECT_EQ(platform::namedMutexOpen(nullptr), platform::kNoNamedMutex);
    EXPECT_EQ(platform::namedMutexOpen(""), platform::kNoNamedMutex);
    EXPECT_EQ(platform::namedMutexWait(platform::kNoNamedMutex, 0), NamedMutexWait::Failed);
    EXPECT_FALSE(platform::namedMutexRelease(platform::kNoNamedMutex));
    EXPECT_FALSE(platform::namedMutexClose(platform::kNoNamedMutex));

    const platform::NamedMutex mutex = platform::namedMutexOpen(name.c_str());
    ASSERT_NE(mutex, platform::kNoNamedMutex);
    const auto waitElsewhere = [&] {
        return onOtherThread([&] {
            const NamedMutexWait got = platform::namedMutexWait(mutex, 0);
            if (got == NamedMutexWait::Obtained)
                platform::namedMutexRelease(mutex);
            return got;
        });
    };
    EXPECT_EQ(platform::namedMutexWait(mutex, -2), NamedMutexWait::Failed);
    EXPECT_FALSE(platform::namedMutexRelease(mutex));   // not owned
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(platform::namedMutexWait(mutex, i == 2 ? -1 : 0), NamedMutexWait::Obtained);
    EXPECT_FALSE(onOtherThread([&] { return platform::namedMutexRelease(mutex); }));
    EXPECT_EQ(waitElsewhere(), NamedMutexWait::TimedOut);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(platform::namedMutexRelease(mutex)) << i;
    EXPECT_FALSE(platform::namedMutexRelease(mutex));

    // A handle closed while owning keeps the ownership, even after many other mutexes came
    // and went; another handle gives it back.
    const platform::NamedMutex closing = platform::namedMutexOpen(name.c_str());
    ASSERT_EQ(platform::namedMutexWait(closing, 0), NamedMutexWait::Obtained);
    EXPECT_TRUE(platform::namedMutexClose(closing));
    for (int i = 0; i < 40; ++i) {
        const platform::NamedMutex other = platform::namedMutexOpen(uniqueName("many").c_str());
        EXPECT_EQ(platform::namedMutexWait(other, 0), NamedMutexWait::Obtained);
        EXPECT_TRUE(platform::namedMutexRelease(other) && platform::namedMutexClose(other));
    }
    EXPECT_EQ(waitElsewhere(), NamedMutexWait::TimedOut);
    EXPECT_TRUE(platform::namedMutexRelease(mutex));
    EXPECT_EQ(waitElsewhere(), NamedMutexWait::Obtained);

    // A thread that ends owning it leaves it abandoned; the next waiter owns it.
    ASSERT_EQ(onOtherThread([&] { return platform::namedMutexWait(mutex, 0); }),
              NamedMutexWait::Obtained);
    EXPECT_EQ(platform::namedMutexWait(mutex, 1000), NamedMutexWait::Abandoned);
    EXPECT_EQ(waitElsewhere(), NamedMutexWait::TimedOut);
    EXPECT_TRUE(platform::namedMutexRelease(mutex));
    EXPECT_TRUE(platform::namedMutexClose(mutex));
}

TEST(NamedMutex, Names)
{
    // Whether `b` is busy while `a` is held (from another thread).
    const auto sameMutex = [](const std::string& a, const std::string& b) {
        const platform::NamedMutex held = platform::namedMutexOpen(a.c_str());
        const platform::NamedMutex probe = platform::namedMutexOpen(b.c_str());
        bool same = false;
        if (held != platform::kNoNamedMutex && probe != platform::kNoNamedMutex) {
            platform::namedMutexWait(held, 0);
            same = onOtherThread([&] {
                const NamedMutexWait got = platform::namedMutexWait(probe, 0);
                if (got == NamedMutexWait::Obtained)
                    platform::namedMutexRelease(probe);
                return got == NamedMutexWait::TimedOut;
            });
            platform::namedMutexRelease(held);
        }
        platform::namedMutexClose(held);
        platform::namedMutexClose(probe);
        return same;
    };

    const std::string base = uniqueName("names");
    EXPECT_TRUE(sameMutex(base, "Local\\" + base));
    EXPECT_FALSE(sameMutex(base, remember("Global\\" + base)));
    EXPECT_TRUE(sameMutex("Global\\" + base, "Global\\" + base));
    std::string upper = base;   // case-sensitive, as kernel object names are
    upper.replace(upper.find("names"), 5, "NAMES");
    EXPECT_FALSE(sameMutex(base, remember(upper)));

    // Characters a file name could not hold, and long names that differ only at the end.
    const std::string odd = remember(base + " /:*?\"<>|%25%.\xC3\xA9\xE2\x82\xAC");
    EXPECT_TRUE(sameMutex(odd, odd));
    EXPECT_FALSE(sameMutex(odd, remember(base + " /:*?\"<>|%25%.\xC3\xA9")));
    const std::string longName = base + std::string(200, 'n');
    EXPECT_TRUE(sameMutex(remember(longName + "a"), longName + "a"));
    EXPECT_FALSE(sameMutex(longName + "a", remember(longName + "b")));
    EXPECT_FALSE(sameMutex(remember(std::string(150, '%') + base),
                           remember(std::string(150, '/') + base)));

    EXPECT_TRUE(platform::namedMutexDiscard(base.c_str()));
    EXPECT_TRUE(sameMutex(base, base));   // a discarded name is free for a new mutex
    EXPECT_FALSE(platform::namedMutexDiscard(""));
    EXPECT_FALSE(platform::namedMutexDiscard(nullptr));
    // A "\" anywhere but after the namespace is refused, as Windows refuses it.
    for (const std::string& bad : {base + "\\x", "Local\\" + base + "\\x", "\\" + base,
                                   std::string("Local\\"), std::string("Global\\")}) {
        const platform::NamedMutex opened = platform::namedMutexOpen(bad.c_str());
        EXPECT_EQ(opened, platform::kNoNamedMutex) << bad;
        if (opened != platform::kNoNamedMutex)
            platform::namedMutexClose(opened);
    }
}
