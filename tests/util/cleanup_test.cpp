// The clean-up registry and singletons: newest first, once each, refusals while running, and
// one instance when first use comes from several threads at once.
#include "kyro/util/CKyroUtilCleanup.h"

#include "ChildRole.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// Records its clean-up in `log`; with a manager, asks it to register `other` and to run again.
struct Recorder : CKyroUtilCleanup {
    Recorder(const char* name, std::string* log) : name(name), log(log) {}
    void cleanup(void* argument) override
    {
        *log += name + (argument != nullptr ? "+arg;" : ";");
        if (manager != nullptr) {
            *log += std::to_string(manager->registerCleanup(other, nullptr));
            *log += std::to_string(manager->runCleanups());
        }
    }
    std::string name;
    std::string* log;
    CKyroUtilObjectManager* manager = nullptr;
    CKyroUtilCleanup* other = nullptr;
};

template <int N>
struct Loud {
    Loud() { std::this_thread::sleep_for(std::chrono::milliseconds(N == 1 ? 20 : 0)); }
    ~Loud() { std::printf("%d gone\n", N); }
};

}  // namespace

TEST(CleanupRegistry, RunsNewestFirstOnceAndRefusesRepeats)
{
    std::string log;
    Recorder a("a", &log), b("b", &log), c("c", &log), greedy("greedy", &log);
    int marker = 0;
    {
        CKyroUtilObjectManager manager;  // the process-wide one exists already
        EXPECT_NE(CKyroUtilObjectManager::global(), &manager);
        EXPECT_EQ(manager.initialize(), 1);
        EXPECT_EQ(manager.registerCleanup(&a, nullptr), 0);
        EXPECT_EQ(manager.registerCleanup(&b, &marker), 0);
        EXPECT_EQ(manager.registerCleanup(&a, nullptr), -1);
        EXPECT_EQ(manager.registerCleanup(&c, nullptr), 0);
        EXPECT_EQ(manager.runCleanups(), 0);
        EXPECT_EQ(manager.state(), 4);
        EXPECT_EQ(manager.runCleanups(), 1);
        EXPECT_EQ(manager.registerCleanup(&a, nullptr), -1);
        // A clean-up can neither register nor run the clean-ups again; the destructor runs them.
        CKyroUtilObjectManager running;
        greedy.manager = &running;
        greedy.other = &a;
        ASSERT_EQ(running.registerCleanup(&greedy, nullptr), 0);
    }
    EXPECT_EQ(log, "c;b+arg;a;greedy;-1-1");
}

// Singletons made in the order 1, 2, 3, the first from several threads at once; the process
// then ends normally.
KYRO_CHILD_ROLE(singletons)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([] { CKyroUtilSingleton<Loud<1>>::instance(); });
    for (std::thread& thread : threads)
        thread.join();
    CKyroUtilSingleton<Loud<2>>::instance();
    CKyroUtilSingleton<Loud<3>>::instance();
    CKyroUtilSingleton<Loud<2>>::instance();
    std::printf("exiting\n");
    return 0;
}

TEST(Singleton, OneInstanceCleanedUpNewestFirstWhenTheProcessEnds)
{
    std::string output;
    ASSERT_TRUE(runRole("singletons", &output));
    EXPECT_EQ(output, "exiting\n3 gone\n2 gone\n1 gone\n");
}
