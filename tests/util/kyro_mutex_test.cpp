// KyroMutex and the named mutex under it: time-outs, names, nesting, ownership by thread,
// exclusion between processes, and owners that end without releasing.
#include "kyro/util/KyroMutex.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"
#include "kyro/platform/filesystem.h"
#include "kyro/platform/named_mutex.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform = kyro::platform;

namespace {

// The names this run made, let go of when all tests are done, so that runs leave nothing
// behind in the system (the POSIX backend's objects outlive their handles).
std::mutex g_namesLock;
std::vector<std::string> g_names;

std::string remember(const std::string& name)
{
    std::lock_guard<std::mutex> guard(g_namesLock);
    g_names.push_back(name);
    return name;
}

class DiscardNames : public testing::Environment {
public:
    void TearDown() override
    {
        for (const std::string& name : g_names)
            platform::namedMutexDiscard(name.c_str());
    }
};
testing::Environment* const g_discardNames = testing::AddGlobalTestEnvironment(new DiscardNames);

// A name no other test and no other run of this program uses.
std::string uniqueName(const char* tag)
{
    static std::atomic<int> serial{0};
    return remember("kyro_mutex_test_" + std::to_string(platform::currentProcessId()) + "_" +
                    tag + "_" + std::to_string(serial++));
}

// Runs `work` on a thread of its own and waits for it: a Windows mutex is recursive for
// its owning thread, so contention has to come from another one.
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
        if (!other.create(name.c_str()))
            return false;
        const bool got = other.lock(timeoutMs);
        other.unlock();
        return got;
    });
}

// "a|b|c" into its parts.
std::vector<std::string> split(const std::string& text)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type bar = text.find('|', start);
        parts.push_back(text.substr(start, bar - start));
        if (bar == std::string::npos)
            return parts;
        start = bar + 1;
    }
}

void say(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

long readCount(const TStr& path)
{
    const std::string bytes = readFileBytes(path);
    return bytes.empty() ? -1 : std::strtol(bytes.c_str(), nullptr, 10);
}

}  // namespace

// Locks the mutex named in the argument and ends without unlocking it.
KYRO_CHILD_ROLE(lockAndEnd)
{
    KyroMutex mutex;
    if (!mutex.create(argument.c_str()) || !mutex.lock(0)) {
        say("not obtained");
        return 1;
    }
    say("locked");
    // Straight out: no destructor gets the chance to release the lock.
    std::_Exit(0);
}

// Tries the mutex named in the argument once and says what happened.
KYRO_CHILD_ROLE(tryLock)
{
    KyroMutex mutex;
    if (!mutex.create(argument.c_str())) {
        say("no handle");
        return 1;
    }
    if (!mutex.lock(0)) {
        say("busy");
        return 0;
    }
    say(mutex.unlock() ? "obtained" : "unlock failed");
    return 0;
}

// "<mutex>|<counter file>|<start file>|<rounds>": waits for the start file, then adds one to
// the number in the counter file `rounds` times, reading and rewriting the whole file under
// the mutex. The mutex is created and closed for every round, as the log writer does.
KYRO_CHILD_ROLE(countUnderMutex)
{
    const std::vector<std::string> parts = split(argument);
    if (parts.size() != 4) {
        say("bad argument");
        return 1;
    }
    const TStr counter(parts[1].c_str());
    const TStr start(parts[2].c_str());
    const int rounds = std::atoi(parts[3].c_str());
    for (int waited = 0; !fileExists(start); ++waited) {
        if (waited == 3000) {
            say("never started");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (int round = 0; round < rounds; ++round) {
        KyroMutex mutex;
        if (!mutex.create(parts[0].c_str()) || !mutex.lock(-1)) {
            say("lock failed");
            return 1;
        }
        std::FILE* file = platform::openFile(counter.utf8(), "r+b");
        if (file == nullptr) {
            say("no counter file");
            return 1;
        }
        char text[32] = {};
        const std::size_t got = std::fread(text, 1, sizeof(text) - 1, file);
        text[got] = '\0';
        const long value = std::strtol(text, nullptr, 10) + 1;
        // A pause between read and write gives a missing exclusion every chance to show.
        std::this_thread::yield();
        std::rewind(file);
        std::fprintf(file, "%010ld", value);
        std::fclose(file);
        if (!mutex.unlock() || !mutex.close()) {
            say("unlock failed");
            return 1;
        }
    }
    say("done");
    return 0;
}

TEST(KyroMutex, TimeOuts)
{
    const std::string name = uniqueName("timeouts");
    KyroMutex mutex;
    // No handle yet: nothing to wait for.
    EXPECT_FALSE(mutex.lock(0));
    EXPECT_FALSE(mutex.lock(-1));
    EXPECT_FALSE(mutex.isLocked());

    ASSERT_TRUE(mutex.create(name.c_str()));
    for (const int timeout : {0, 50, -1}) {
        EXPECT_TRUE(mutex.lock(timeout)) << timeout;
        EXPECT_TRUE(mutex.isLocked()) << timeout;
        EXPECT_TRUE(mutex.unlock()) << timeout;
        EXPECT_FALSE(mutex.isLocked()) << timeout;
    }
    EXPECT_FALSE(mutex.lock(-2));
    EXPECT_FALSE(mutex.lock(-1000));
    EXPECT_FALSE(mutex.isLocked());
    EXPECT_TRUE(lockedElsewhere(name));   // a refused lock took nothing

    // Held elsewhere: 0 and 50 give up, -1 waits until it is free.
    ASSERT_TRUE(mutex.lock(0));
    EXPECT_FALSE(lockedElsewhere(name, 0));
    EXPECT_FALSE(lockedElsewhere(name, 50));
    std::atomic<bool> released{false};
    std::thread waiter([&] {
        KyroMutex other;
        other.create(name.c_str());
        const bool got = other.lock(-1);
        EXPECT_TRUE(released.load());
        EXPECT_TRUE(got);
        EXPECT_TRUE(other.unlock());
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    released = true;
    EXPECT_TRUE(mutex.unlock());
    waiter.join();
}

TEST(KyroMutex, UnlockCloseAndCreateEdges)
{
    const std::string name = uniqueName("edges");
    KyroMutex mutex;
    EXPECT_TRUE(mutex.unlock());   // no handle
    EXPECT_TRUE(mutex.close());
    ASSERT_TRUE(mutex.create(name.c_str()));
    EXPECT_TRUE(mutex.unlock());   // nothing held
    EXPECT_FALSE(mutex.isLocked());

    // An empty name fails and leaves no handle behind, also when one was open.
    EXPECT_FALSE(mutex.create(""));
    EXPECT_FALSE(mutex.lock(0));
    ASSERT_TRUE(mutex.create(name.c_str()));
    EXPECT_FALSE(mutex.create(TStr()));
    EXPECT_FALSE(mutex.lock(0));

    // create() again replaces the handle; close() leaves none.
    ASSERT_TRUE(mutex.create(name.c_str()));
    ASSERT_TRUE(mutex.create(remember(name + "_second").c_str()));
    ASSERT_TRUE(mutex.lock(0));
    EXPECT_TRUE(lockedElsewhere(name));
    EXPECT_FALSE(lockedElsewhere(name + "_second"));
    EXPECT_TRUE(mutex.unlock());
    EXPECT_TRUE(mutex.close());
    EXPECT_FALSE(mutex.lock(0));
    EXPECT_TRUE(mutex.close());
}

TEST(KyroMutex, SameNameSameMutex)
{
    const std::string name = uniqueName("same");
    KyroMutex first;
    KyroMutex second;
    ASSERT_TRUE(first.create(name.c_str()));
    ASSERT_TRUE(second.create(name.c_str()));
    ASSERT_TRUE(first.lock(0));

    // The second object, from another thread: busy. Another name is not.
    EXPECT_FALSE(onOtherThread([&] { return second.lock(0); }));
    EXPECT_FALSE(second.isLocked());
    EXPECT_TRUE(lockedElsewhere(remember(name + "x")));
    // Names are case-sensitive, as kernel object names are.
    std::string upper = name;
    upper.replace(upper.find("same"), 4, "SAME");
    EXPECT_TRUE(lockedElsewhere(remember(upper)));

    // ... and the same in another process.
    std::string output;
    ASSERT_TRUE(runRole(("tryLock:" + name).c_str(), &output));
    EXPECT_EQ(output, "busy");

    ASSERT_TRUE(first.unlock());
    EXPECT_TRUE(onOtherThread([&] { return second.lock(0) && second.unlock(); }));
    ASSERT_TRUE(runRole(("tryLock:" + name).c_str(), &output));
    EXPECT_EQ(output, "obtained");
}

TEST(KyroMutex, NestingAndOwningThread)
{
    const std::string name = uniqueName("nesting");
    KyroMutex mutex;
    ASSERT_TRUE(mutex.create(name.c_str()));
    ASSERT_TRUE(mutex.lock(0));
    ASSERT_TRUE(mutex.lock(50));
    ASSERT_TRUE(mutex.lock(-1));
    for (int level = 3; level > 0; --level) {
        EXPECT_TRUE(mutex.isLocked()) << level;
        EXPECT_FALSE(lockedElsewhere(name)) << level;
        EXPECT_TRUE(mutex.unlock()) << level;
    }
    EXPECT_FALSE(mutex.isLocked());
    EXPECT_TRUE(lockedElsewhere(name));
    EXPECT_TRUE(mutex.unlock());   // one more: nothing held, nothing done

    // Only the thread that locked may unlock.
    ASSERT_TRUE(mutex.lock(0));
    EXPECT_FALSE(onOtherThread([&] { return mutex.unlock(); }));
    EXPECT_TRUE(mutex.isLocked());
    EXPECT_FALSE(lockedElsewhere(name));
    EXPECT_TRUE(mutex.unlock());
    EXPECT_TRUE(lockedElsewhere(name));

    // Destruction gives back every level still held.
    {
        KyroMutex nested;
        ASSERT_TRUE(nested.create(name.c_str()));
        ASSERT_TRUE(nested.lock(0));
        ASSERT_TRUE(nested.lock(0));
        EXPECT_FALSE(lockedElsewhere(name));
    }
    EXPECT_TRUE(lockedElsewhere(name));
}

TEST(KyroMutex, ExclusionAcrossProcesses)
{
    const std::string name = uniqueName("count");
    TempFolder folder;
    const TPath counter = folder / "counter.txt";
    const TPath start = folder / "start";
    writeFileBytes(counter, "0000000000");
    constexpr int kProcesses = 3;
    constexpr int kRounds = 400;

    // All children are started before any of them counts, so their rounds overlap.
    const std::string role = "countUnderMutex:" + name + "|" + counter.utf8() + "|" +
                             start.utf8() + "|" + std::to_string(kRounds);
    const TPath program = thisTestProgram();
    const TStr commandLine = TStr("\"") + program + "\"";
    std::vector<platform::LaunchedProcess> children;
    ASSERT_TRUE(platform::setEnvironmentVariable(kChildRoleVariable, role.c_str()));
    for (int i = 0; i < kProcesses; ++i) {
        platform::LaunchedProcess child;
        if (platform::launchProcess(program.utf8(), commandLine.utf8(), &child) ==
            platform::LaunchResult::Started) {
            platform::closePipeEnd(child.input);
            children.push_back(child);
        }
    }
    platform::setEnvironmentVariable(kChildRoleVariable, nullptr);
    writeFileBytes(start, "go");

    for (const platform::LaunchedProcess& child : children) {
        std::string output;
        char buffer[256];
        long got;
        while ((got = platform::readPipe(child.output, buffer, sizeof(buffer))) > 0)
            output.append(buffer, static_cast<std::size_t>(got));
        platform::closePipeEnd(child.output);
        EXPECT_EQ(output, "done");
    }
    ASSERT_EQ(children.size(), static_cast<std::size_t>(kProcesses));
    EXPECT_EQ(readCount(counter), kProcesses * kRounds);
}

TEST(KyroMutex, OwnerEndedWithoutUnlocking)
{
    // A process that ends holding the mutex: the next lock reports it as not obtained, at
    // once, and gives it back, so everyone after gets it without waiting.
    const std::string name = uniqueName("abandoned");
    KyroMutex mutex;   // keeps the mutex in existence while the child comes and goes
    ASSERT_TRUE(mutex.create(name.c_str()));
    std::string output;
    ASSERT_TRUE(runRole(("lockAndEnd:" + name).c_str(), &output));
    ASSERT_EQ(output, "locked");

    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(mutex.lock(15000));
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_LT(waited, std::chrono::milliseconds(7500));   // not the whole time-out
    EXPECT_FALSE(mutex.isLocked());
    EXPECT_TRUE(mutex.unlock());

    // Nobody owns it now: another process gets it, then we do, then the other again.
    ASSERT_TRUE(runRole(("tryLock:" + name).c_str(), &output));
    EXPECT_EQ(output, "obtained");
    ASSERT_TRUE(mutex.lock(0));
    ASSERT_TRUE(runRole(("tryLock:" + name).c_str(), &output));
    EXPECT_EQ(output, "busy");
    EXPECT_TRUE(mutex.unlock());
    ASSERT_TRUE(runRole(("tryLock:" + name).c_str(), &output));
    EXPECT_EQ(output, "obtained");

    // A thread of ours that ends holding it: the same.
    KyroMutex byThread;
    ASSERT_TRUE(byThread.create(name.c_str()));
    ASSERT_TRUE(onOtherThread([&] { return byThread.lock(0); }));
    EXPECT_FALSE(mutex.lock(15000));
    EXPECT_FALSE(mutex.isLocked());
    EXPECT_TRUE(mutex.lock(0));
    EXPECT_TRUE(mutex.unlock());
    EXPECT_TRUE(lockedElsewhere(name));
    EXPECT_TRUE(byThread.close());
}

TEST(NamedMutex, PlatformContract)
{
    using platform::NamedMutexWait;
    const std::string name = uniqueName("platform");
    EXPECT_EQ(platform::namedMutexOpen(nullptr), platform::kNoNamedMutex);
    EXPECT_EQ(platform::namedMutexOpen(""), platform::kNoNamedMutex);
    EXPECT_EQ(platform::namedMutexWait(platform::kNoNamedMutex, 0), NamedMutexWait::Failed);
    EXPECT_FALSE(platform::namedMutexRelease(platform::kNoNamedMutex));
    EXPECT_FALSE(platform::namedMutexClose(platform::kNoNamedMutex));

    const platform::NamedMutex mutex = platform::namedMutexOpen(name.c_str());
    ASSERT_NE(mutex, platform::kNoNamedMutex);
    EXPECT_EQ(platform::namedMutexWait(mutex, -2), NamedMutexWait::Failed);
    EXPECT_FALSE(platform::namedMutexRelease(mutex));   // not owned

    // Three waits, three releases; a fourth release fails.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(platform::namedMutexWait(mutex, i == 2 ? -1 : 0), NamedMutexWait::Obtained);
    EXPECT_FALSE(onOtherThread([&] { return platform::namedMutexRelease(mutex); }));
    EXPECT_EQ(onOtherThread([&] { return platform::namedMutexWait(mutex, 0); }),
              NamedMutexWait::TimedOut);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(platform::namedMutexRelease(mutex)) << i;
    EXPECT_FALSE(platform::namedMutexRelease(mutex));

    // A handle closed while owning keeps the ownership: another handle gives it back, even
    // after many other mutexes have come and gone.
    const platform::NamedMutex closing = platform::namedMutexOpen(name.c_str());
    ASSERT_NE(closing, platform::kNoNamedMutex);
    ASSERT_EQ(platform::namedMutexWait(closing, 0), NamedMutexWait::Obtained);
    EXPECT_TRUE(platform::namedMutexClose(closing));
    for (int i = 0; i < 40; ++i) {
        const platform::NamedMutex other = platform::namedMutexOpen(uniqueName("many").c_str());
        ASSERT_NE(other, platform::kNoNamedMutex);
        EXPECT_EQ(platform::namedMutexWait(other, 0), NamedMutexWait::Obtained);
        EXPECT_TRUE(platform::namedMutexRelease(other));
        EXPECT_TRUE(platform::namedMutexClose(other));
    }
    EXPECT_EQ(onOtherThread([&] { return platform::namedMutexWait(mutex, 0); }),
              NamedMutexWait::TimedOut);
    EXPECT_TRUE(platform::namedMutexRelease(mutex));
    EXPECT_EQ(onOtherThread([&] {
                  const NamedMutexWait got = platform::namedMutexWait(mutex, 0);
                  platform::namedMutexRelease(mutex);
                  return got;
              }),
              NamedMutexWait::Obtained);

    // A thread that ends owning it leaves it abandoned; the next waiter owns it.
    ASSERT_EQ(onOtherThread([&] { return platform::namedMutexWait(mutex, 0); }),
              NamedMutexWait::Obtained);
    EXPECT_EQ(platform::namedMutexWait(mutex, 1000), NamedMutexWait::Abandoned);
    EXPECT_EQ(onOtherThread([&] { return platform::namedMutexWait(mutex, 0); }),
              NamedMutexWait::TimedOut);
    EXPECT_TRUE(platform::namedMutexRelease(mutex));
    EXPECT_EQ(platform::namedMutexWait(mutex, 0), NamedMutexWait::Obtained);
    EXPECT_TRUE(platform::namedMutexRelease(mutex));
    EXPECT_TRUE(platform::namedMutexClose(mutex));
}

TEST(NamedMutex, Names)
{
    using platform::NamedMutexWait;
    struct Opened {
        platform::NamedMutex handle;
        explicit Opened(const std::string& name) : handle(platform::namedMutexOpen(name.c_str())) {}
        ~Opened()
        {
            if (handle != platform::kNoNamedMutex)
                platform::namedMutexClose(handle);
        }
    };
    // Whether `b` is busy while `a` is held (from another thread).
    const auto sameMutex = [](const std::string& a, const std::string& b) {
        Opened held(a);
        Opened probe(b);
        if (held.handle == platform::kNoNamedMutex || probe.handle == platform::kNoNamedMutex)
            return false;
        platform::namedMutexWait(held.handle, 0);
        const NamedMutexWait got = onOtherThread([&] {
            const NamedMutexWait result = platform::namedMutexWait(probe.handle, 0);
            if (result == NamedMutexWait::Obtained)
                platform::namedMutexRelease(probe.handle);
            return result;
        });
        platform::namedMutexRelease(held.handle);
        return got == NamedMutexWait::TimedOut;
    };

    const std::string base = uniqueName("names");
    EXPECT_TRUE(sameMutex(base, "Local\\" + base));
    EXPECT_FALSE(sameMutex(base, remember("Global\\" + base)));
    EXPECT_TRUE(sameMutex("Global\\" + base, "Global\\" + base));

    // Characters a file name could not hold, and long names that differ only at the end.
    const std::string odd = remember(base + " /:*?\"<>|%25%.\xC3\xA9\xE2\x82\xAC");
    EXPECT_TRUE(sameMutex(odd, odd));
    EXPECT_FALSE(sameMutex(odd, remember(base + " /:*?\"<>|%25%.\xC3\xA9")));
    const std::string longName = base + std::string(200, 'n');
    EXPECT_TRUE(sameMutex(remember(longName + "a"), longName + "a"));
    EXPECT_FALSE(sameMutex(longName + "a", remember(longName + "b")));
    EXPECT_FALSE(sameMutex(remember(std::string(150, '%') + base),
                           remember(std::string(150, '/') + base)));

    // A discarded name is free for a new mutex; a name that cannot be one is refused.
    EXPECT_TRUE(platform::namedMutexDiscard(base.c_str()));
    EXPECT_TRUE(sameMutex(base, base));
    EXPECT_FALSE(platform::namedMutexDiscard(""));
    EXPECT_FALSE(platform::namedMutexDiscard(nullptr));

    // A "\" anywhere but after the namespace is refused, as Windows refuses it.
    for (const std::string& bad : {base + "\\x", "Local\\" + base + "\\x", "\\" + base,
                                   std::string("Local\\"), std::string("Global\\")}) {
        Opened opened(bad);
        EXPECT_EQ(opened.handle, platform::kNoNamedMutex) << bad;
    }
}
