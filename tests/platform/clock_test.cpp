// The local time, against the runtime's.
#include "kyro/platform/clock.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace kyro::platform;

TEST(PlatformClock, LocalTimeAgreesWithTheRuntimesToWithinAMinute)
{
    const LocalTime now = localTime();
    const std::time_t t = std::time(nullptr);
    const std::tm* runtime = std::localtime(&t);
    EXPECT_EQ(now.year, runtime->tm_year + 1900);
    EXPECT_LE(std::abs(now.hour * 60 + now.minute - (runtime->tm_hour * 60 + runtime->tm_min)) % (24 * 60 - 1), 1);
    EXPECT_LE(std::abs((now.month * 31 + now.day) - (runtime->tm_mon * 31 + 31 + runtime->tm_mday)), 31);
    EXPECT_TRUE(now.second >= 0 && now.second <= 60 && now.milliseconds >= 0 && now.milliseconds <= 999);
}
