#include "kyro/platform/clock.h"
#include "kyro/platform/process_info.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace kyro::platform;

TEST(PlatformClock, LocalTimeFieldsAreInRange)
{
    const LocalTime now = localTime();
    const struct {
        int value, low, high;
    } fields[] = {{now.month, 1, 12},  {now.day, 1, 31},    {now.hour, 0, 23},
                  {now.minute, 0, 59}, {now.second, 0, 60}, {now.milliseconds, 0, 999}};
    for (const auto& field : fields) {
        EXPECT_GE(field.value, field.low);
        EXPECT_LE(field.value, field.high);
    }
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
