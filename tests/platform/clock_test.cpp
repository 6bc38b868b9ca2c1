#include "kyro/platform/clock.h"
#include "kyro/platform/process_info.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace kyro::platform;

TEST(PlatformClock, LocalTimeFieldsAreInRange)
{
    const LocalTime now = localTime();
    EXPECT_GE(now.year, 2020);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_GE(now.hour, 0);
    EXPECT_LE(now.hour, 23);
    EXPECT_GE(now.minute, 0);
    EXPECT_LE(now.minute, 59);
    EXPECT_GE(now.second, 0);
    EXPECT_LE(now.second, 60);
    EXPECT_GE(now.milliseconds, 0);
    EXPECT_LE(now.milliseconds, 999);
    // It agrees with the runtime's own local time to within a minute.
    const std::time_t t = std::time(nullptr);
    const std::tm* runtime = std::localtime(&t);
    EXPECT_EQ(now.year, runtime->tm_year + 1900);
    EXPECT_LE(std::abs(now.hour * 60 + now.minute - (runtime->tm_hour * 60 + runtime->tm_min)) % (24 * 60 - 1), 1);
}

TEST(PlatformProcess, CurrentProcessIdIsStable)
{
    EXPECT_NE(currentProcessId(), 0u);
    EXPECT_EQ(currentProcessId(), currentProcessId());
}
