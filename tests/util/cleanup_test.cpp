// The clean-up registry and singletons: newest first, once each, refusals while running, and
// one instance when first use comes from several threads at once.
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

// Records its clean-up in `log`; when it has a manager, asks it for more (`other`) while it runs.
struct Recorder : CKyroUtilCleanup {
    Recorder(const char* name, std::string* log) : name(name), log(log) {}
    void cleanup(void* argument) override
    {
        *log += name + (argument != nullptr ? "+arg;" : ";");
        if (manager != nullptr) {
            *log += std::to_string(manager->registerCleanup(other, nullptr)) + ";";
            *log += std::to_string(manager->runCleanups()) + ";";
        }
    }
    std::string name;
    std::string* log;
    CKyroUtilObjectManager* manager = nullptr;
    CKyroUtilCleanup* other = nullptr;
};

struct Slow {
    static inline std::atomic<int> built{0};
    Slow()
    {
        ++built;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
};

template <int N>
struct Loud {
    ~Loud() { std::printf("%d gone\n", N); }
};

}  // namespace

TEST(CleanupRegistry, RunsNewestFirstOnceAndRefusesRepeats)
{
    std::string log;
    Recorder a("a", &log), b("b", &log), c("c", &log), greedy("greedy", &log);
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
    EXPECT_EQ(log, "c;b+arg;a;");
    EXPECT_EQ(manager.state(), 4);
    EXPECT_EQ(manager.runCleanups(), 1);
    EXPECT_EQ(manager.registerCleanup(&a, nullptr), -1);

    // A clean-up can neither register nor run the clean-ups again; the destructor runs them.
    log.clear();
    {
        CKyroUtilObjectManager running;
        greedy.manager = &running;
        greedy.other = &a;
        ASSERT_EQ(running.registerCleanup(&greedy, nullptr), 0);
    }
    EXPECT_EQ(log, "greedy;-1;-1;");
}

TEST(Singleton, FirstUseFromManyThreadsMakesOneInstance)
{
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    std::vector<Slow*> seen(8, nullptr);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] {
            while (!go)
                std::this_thread::yield();
            seen[i] = &CKyroUtilSingleton<Slow>::instance();
        });
    }
    go = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(Slow::built.load(), 1);
    EXPECT_EQ(std::vector<Slow*>(8, seen[0]), seen);
}

// Singletons made in the order 1, 2, 3; the process then ends normally.
KYRO_CHILD_ROLE(singletons)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    CKyroUtilSingleton<Loud<1>>::instance();
    CKyroUtilSingleton<Loud<2>>::instance();
    CKyroUtilSingleton<Loud<3>>::instance();
    CKyroUtilSingleton<Loud<2>>::instance();
    std::printf("exiting\n");
    return 0;
}

TEST(Singleton, CleanedUpNewestFirstWhenTheProcessEnds)
{
    std::string output;
    ASSERT_TRUE(runRole("singletons", &output));
    EXPECT_EQ(output, "exiting\n3 gone\n2 gone\n1 gone\n");
}
