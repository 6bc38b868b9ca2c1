// The clean-up registry and singletons: newest first, once each, refusals while running,
// and one instance when first use comes from several threads at once.
#include "kyro/util/CKyroUtilCleanup.h"

#include "ChildRole.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> g_cleaned;

// Records its clean-up instead of deleting itself.
struct Recorder : CKyroUtilCleanup {
    explicit Recorder(const char* name) : name(name) {}
    void cleanup(void* argument) override
    {
        g_cleaned.push_back(name + (argument != nullptr ? std::string("+arg") : ""));
    }
    std::string name;
};

// Asks its registry for more while the registry runs.
struct Greedy : CKyroUtilCleanup {
    CKyroUtilObjectManager* manager = nullptr;
    int registerAnswer = 99;
    int runAnswer = 99;
    Recorder late{"late"};
    void cleanup(void*) override
    {
        registerAnswer = manager->registerCleanup(&late, nullptr);
        runAnswer = manager->runCleanups();
    }
};

}  // namespace

TEST(CleanupRegistry, RunsNewestFirstOnceAndRefusesRepeats)
{
    g_cleaned.clear();
    Recorder a("a"), b("b"), c("c");
    int marker = 0;
    CKyroUtilObjectManager manager;  // the process-wide one exists already
    EXPECT_NE(CKyroUtilObjectManager::global(), &manager);
    EXPECT_EQ(manager.state(), 2);
    EXPECT_EQ(manager.initialize(), 1);

    EXPECT_EQ(manager.registerCleanup(&a, nullptr), 0);
    EXPECT_EQ(manager.registerCleanup(&b, &marker), 0);
    EXPECT_EQ(manager.registerCleanup(&a, nullptr), -1);
    EXPECT_EQ(manager.registerCleanup(&c, nullptr), 0);

    EXPECT_EQ(manager.runCleanups(), 0);
    EXPECT_EQ(g_cleaned, (std::vector<std::string>{"c", "b+arg", "a"}));
    EXPECT_EQ(manager.state(), 4);
    EXPECT_EQ(manager.runCleanups(), 1);
    EXPECT_EQ(manager.registerCleanup(&a, nullptr), -1);
    EXPECT_EQ(g_cleaned.size(), 3u);
}

TEST(CleanupRegistry, ACleanupCannotRegisterOrRunAgain)
{
    g_cleaned.clear();
    Greedy greedy;
    {
        CKyroUtilObjectManager manager;
        greedy.manager = &manager;
        ASSERT_EQ(manager.registerCleanup(&greedy, nullptr), 0);
        // The destructor runs the clean-ups.
    }
    EXPECT_EQ(greedy.registerAnswer, -1);
    EXPECT_EQ(greedy.runAnswer, -1);
    EXPECT_TRUE(g_cleaned.empty());
}

namespace {

struct Slow {
    static inline std::atomic<int> built{0};
    Slow()
    {
        ++built;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
};

struct Loud {
    explicit Loud(const char* name) : name(name) {}
    ~Loud() { std::printf("%s gone\n", name); }
    const char* name;
};
struct First : Loud { First() : Loud("first") {} };
struct Second : Loud { Second() : Loud("second") {} };
struct Third : Loud { Third() : Loud("third") {} };

}  // namespace

TEST(Singleton, FirstUseFromManyThreadsMakesOneInstance)
{
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    std::vector<Slow*> seen(8, nullptr);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            while (!go)
                std::this_thread::yield();
            seen[static_cast<std::size_t>(i)] = &CKyroUtilSingleton<Slow>::instance();
        });
    }
    go = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(Slow::built.load(), 1);
    for (Slow* instance : seen)
        EXPECT_EQ(instance, seen[0]);
}

// Singletons made in the order first, second, third; the process then ends normally.
KYRO_CHILD_ROLE(singletons)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    CKyroUtilSingleton<First>::instance();
    CKyroUtilSingleton<Second>::instance();
    CKyroUtilSingleton<Third>::instance();
    CKyroUtilSingleton<Second>::instance();
    std::printf("exiting\n");
    return 0;
}

TEST(Singleton, CleanedUpNewestFirstWhenTheProcessEnds)
{
    std::string output;
    ASSERT_TRUE(runRole("singletons", &output));
    EXPECT_EQ(output, "exiting\nthird gone\nsecond gone\nfirst gone\n");
}
