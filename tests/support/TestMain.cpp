// The main() of every test program: a child role when one is asked for, else the tests, each
// bounded by KYRO_TEST_CASE_LIMIT (seconds, set by CTest): a hang is named and fails at once.
#include "ChildRole.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Plain statics, so the watching thread never reaches memory freed at exit.
std::atomic<Clock::rep> g_caseStarted{0};
char g_caseName[256];  // written before g_caseStarted, read after it

class CaseLimit : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo& test) override
    {
        std::snprintf(g_caseName, sizeof g_caseName, "%s.%s", test.test_suite_name(), test.name());
        g_caseStarted.store(Clock::now().time_since_epoch().count());
    }
    void OnTestEnd(const testing::TestInfo&) override { g_caseStarted.store(0); }
};

void watchCases(long seconds)
{
    for (;;) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const Clock::rep started = g_caseStarted.load();
        if (started != 0 &&
            Clock::now() - Clock::time_point(Clock::duration(started)) > std::chrono::seconds(seconds)) {
            std::fprintf(stderr, "\n%s did not end within %ld s\n", g_caseName, seconds);
            std::fflush(stderr);
            std::_Exit(124);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int status = 0;
    if (playChildRole(&status))
        return status;
    testing::InitGoogleTest(&argc, argv);
    const char* limit = std::getenv("KYRO_TEST_CASE_LIMIT");
    if (limit != nullptr && std::atol(limit) > 0) {
        testing::UnitTest::GetInstance()->listeners().Append(new CaseLimit);
        std::thread(watchCases, std::atol(limit)).detach();
    }
    return RUN_ALL_TESTS();
}
