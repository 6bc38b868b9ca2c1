// The main() of every test program: a child role when one is asked for, else the tests.
// KYRO_TEST_CASE_LIMIT (seconds, set by CTest) bounds each test case: one that runs past it
// is named and the program ends, so a hang fails at once instead of at CTest's time-out.
#include "ChildRole.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

class CaseLimit : public testing::EmptyTestEventListener {
public:
    explicit CaseLimit(long seconds) : m_seconds(seconds)
    {
        std::thread([this] { watch(); }).detach();
    }

private:
    using Clock = std::chrono::steady_clock;

    void OnTestStart(const testing::TestInfo& test) override
    {
        m_name = std::string(test.test_suite_name()) + "." + test.name();
        m_started.store(Clock::now().time_since_epoch().count());
    }
    void OnTestEnd(const testing::TestInfo&) override { m_started.store(0); }

    void watch()
    {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            const Clock::rep started = m_started.load();
            if (started != 0 && Clock::now() - Clock::time_point(Clock::duration(started)) >
                                    std::chrono::seconds(m_seconds)) {
                std::fprintf(stderr, "\n%s did not end within %ld s\n", m_name.c_str(), m_seconds);
                std::fflush(stderr);
                std::_Exit(124);
            }
        }
    }

    const long m_seconds;
    std::string m_name;  // written before m_started, read after it
    std::atomic<Clock::rep> m_started{0};
};

}  // namespace

int main(int argc, char** argv)
{
    int status = 0;
    if (playChildRole(&status))
        return status;
    testing::InitGoogleTest(&argc, argv);
    const char* limit = std::getenv("KYRO_TEST_CASE_LIMIT");
    if (limit != nullptr && std::atol(limit) > 0)
        testing::UnitTest::GetInstance()->listeners().Append(new CaseLimit(std::atol(limit)));
    return RUN_ALL_TESTS();
}
