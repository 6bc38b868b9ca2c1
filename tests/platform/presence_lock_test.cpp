// Presence locks from this process and another, and whether processes are alive: a holder
// that ends, however it ends, is no longer present.
#include "kyro/platform/presence_lock.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"
#include "kyro/platform/threads.h"

#include "ChildRole.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace kyro::platform;

namespace {

std::string lockName(const char* leaf)
{
    return "Global\\Norveldt_KYRO_kyrolocktest" + std::to_string(currentProcessId()) + leaf;
}

// Polls for up to ten seconds: an ended process's objects go soon after its end, not at once.
template <class Condition>
bool eventually(Condition condition)
{
    for (int i = 0; i < 1000 && !condition(); ++i)
        sleepAlertable(10);
    return condition();
}

}  // namespace

// "<name>:clean" lets go of the lock once its standard input ends; "<name>:abrupt" ends
// without any clean-up, as a killed process would.
KYRO_CHILD_ROLE(holdPresence)
{
    const std::string::size_type colon = argument.rfind(':');
    PresenceLock lock = kNoPresenceLock;
    if (acquirePresenceLock(argument.substr(0, colon).c_str(), &lock) != PresenceResult::Acquired)
        return 2;
    std::printf("held\n");
    std::fflush(stdout);
    char buffer[64];
    while (std::fgets(buffer, sizeof(buffer), stdin) != nullptr) {
    }
    if (argument.substr(colon + 1) == "abrupt")
        std::_Exit(0);
    releasePresenceLock(lock);
    return 0;
}

// Whether or not the holder's end has been collected yet. (The companion's own use of the
// lock is the pipe and host tests'.)
TEST(PlatformPresenceLock, HeldByAnotherProcessUntilItEnds)
{
    PresenceLock lock = kNoPresenceLock;
    EXPECT_EQ(acquirePresenceLock("", &lock), PresenceResult::Failed);
    for (const std::uint32_t nobody : {0u, 0x7FFFFFF0u})
        EXPECT_FALSE(processIsAlive(nobody)) << nobody;
    const TPath program = thisTestProgram();
    for (const char* ending : {"clean", "abrupt"}) {
        SCOPED_TRACE(ending);
        const std::string name = lockName(ending);
        setEnvironmentVariable(kChildRoleVariable, ("holdPresence:" + name + ":" + ending).c_str());
        LaunchedProcess holder;
        const LaunchResult launched =
            launchProcess(program.utf8(), (TStr("\"") + program + "\"").utf8(), &holder);
        setEnvironmentVariable(kChildRoleVariable, nullptr);
        ASSERT_EQ(launched, LaunchResult::Started);
        char byte = 0;
        ASSERT_TRUE(readPipe(holder.output, &byte, 1) == 1 && byte == 'h');  // "held"
        EXPECT_TRUE(presenceLockHeld(name.c_str()));
        EXPECT_TRUE(processIsAlive(holder.processId));
        EXPECT_EQ(acquirePresenceLock(name.c_str(), &lock), PresenceResult::HeldElsewhere);

        closePipeEnd(holder.input);  // the child ends
        closePipeEnd(holder.output);
        EXPECT_TRUE(eventually(
            [&] { return !processIsAlive(holder.processId) && !presenceLockHeld(name.c_str()); }));
        releaseEndedChildren();
        EXPECT_FALSE(processIsAlive(holder.processId));
    }
}
