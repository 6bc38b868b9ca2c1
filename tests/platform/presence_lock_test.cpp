// Presence locks: a holder that ends without any clean-up is no longer present (holding and
// letting go are the pipe and host tests').
#include "kyro/platform/presence_lock.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/threads.h"

#include "ChildRole.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace kyro::platform;

// Takes the lock named in the argument and ends as a killed process would.
KYRO_CHILD_ROLE(holdPresenceAndEnd)
{
    PresenceLock lock = kNoPresenceLock;
    if (acquirePresenceLock(argument.c_str(), &lock) != PresenceResult::Acquired)
        return 2;
    std::puts("held");
    std::fflush(stdout);
    std::_Exit(0);
}

TEST(PlatformPresenceLock, AHolderThatEndedAbruptlyIsNoLongerPresent)
{
    const std::string name = "Global\\Norveldt_KYRO_kyrolocktest" + std::to_string(currentProcessId());
    std::string output;
    ASSERT_TRUE(runRole(("holdPresenceAndEnd:" + name).c_str(), &output));
    EXPECT_EQ(output, "held\n");
    // An ended process's objects go soon after its end, not at once.
    for (int i = 0; i < 1000 && presenceLockHeld(name.c_str()); ++i)
        sleepAlertable(10);
    PresenceLock lock = kNoPresenceLock;
    EXPECT_EQ(acquirePresenceLock(name.c_str(), &lock), PresenceResult::Acquired);
    releasePresenceLock(lock);
}
