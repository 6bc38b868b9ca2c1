// Presence locks, seen from this process and from another one, and whether processes are
// alive: a holder that ends, however it ends, is no longer present.
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

// Polls `condition` for up to ten seconds: the system lets go of an ended process's
// objects soon after its end is visible, not necessarily at once.
template <class Condition>
bool eventually(Condition condition)
{
    for (int i = 0; i < 1000; ++i) {
        if (condition())
            return true;
        sleepAlertable(10);
    }
    return condition();
}

// This test program in a child role beside the test; it reads its standard input until
// that ends, so closing our end tells it to finish.
class RoleProcess {
public:
    explicit RoleProcess(const std::string& role)
    {
        const TPath program = thisTestProgram();
        setEnvironmentVariable(kChildRoleVariable, role.c_str());
        m_started = launchProcess(program.utf8(), (TStr("\"") + program + "\"").utf8(),
                                  &m_child) == LaunchResult::Started;
        setEnvironmentVariable(kChildRoleVariable, nullptr);
    }
    ~RoleProcess() { finish(); }
    bool started() const { return m_started; }
    std::uint32_t processId() const { return m_child.processId; }

    // Reads the child's output up to its first line; false when the output ended first.
    bool firstLine()
    {
        char byte = 0;
        while (byte != '\n') {
            if (readPipe(m_child.output, &byte, 1) <= 0)
                return false;
        }
        return true;
    }

    // Lets the child end and waits until its output is closed.
    void finish()
    {
        closePipeEnd(m_child.input);
        m_child.input = kNoPipeEnd;
        char buffer[256];
        while (m_child.output != kNoPipeEnd &&
               readPipe(m_child.output, buffer, sizeof(buffer)) > 0) {
        }
        closePipeEnd(m_child.output);
        m_child.output = kNoPipeEnd;
    }

private:
    LaunchedProcess m_child;
    bool m_started = false;
};

void waitForInputEnd()
{
    char buffer[64];
    while (std::fgets(buffer, sizeof(buffer), stdin) != nullptr) {
    }
}

}  // namespace

// "<name>:clean" lets go of the lock and returns; "<name>:abrupt" ends without any
// clean-up, as a killed process would.
KYRO_CHILD_ROLE(holdPresence)
{
    const std::string::size_type colon = argument.rfind(':');
    const std::string name = argument.substr(0, colon);
    PresenceLock lock = kNoPresenceLock;
    if (acquirePresenceLock(name.c_str(), &lock) != PresenceResult::Acquired)
        return 2;
    std::printf("held\n");
    std::fflush(stdout);
    waitForInputEnd();
    if (argument.substr(colon + 1) == "abrupt")
        std::_Exit(0);
    releasePresenceLock(lock);
    return 0;
}

TEST(PlatformPresenceLock, HeldAndReleasedInThisProcess)
{
    const std::string name = lockName("a");
    EXPECT_FALSE(presenceLockHeld(name.c_str()));
    EXPECT_FALSE(presenceLockHeld(name.c_str()));  // probing creates nothing that stays

    PresenceLock lock = kNoPresenceLock;
    ASSERT_EQ(acquirePresenceLock(name.c_str(), &lock), PresenceResult::Acquired);
    EXPECT_NE(lock, kNoPresenceLock);
    EXPECT_TRUE(presenceLockHeld(name.c_str()));
    EXPECT_TRUE(presenceLockHeld(name.c_str()));  // the probe leaves the holder in place
    EXPECT_FALSE(presenceLockHeld(lockName("A").c_str()));  // names are case-sensitive

    PresenceLock second = kNoPresenceLock;
    EXPECT_EQ(acquirePresenceLock(name.c_str(), &second), PresenceResult::HeldElsewhere);
    EXPECT_EQ(second, kNoPresenceLock);

    releasePresenceLock(lock);
    EXPECT_FALSE(presenceLockHeld(name.c_str()));
    ASSERT_EQ(acquirePresenceLock(name.c_str(), &second), PresenceResult::Acquired);
    releasePresenceLock(second);
    EXPECT_FALSE(presenceLockHeld(name.c_str()));

    releasePresenceLock(kNoPresenceLock);
    EXPECT_EQ(acquirePresenceLock("", &lock), PresenceResult::Failed);
    EXPECT_FALSE(presenceLockHeld(""));
}

// Whether processes are alive: a holder that ends, however it ends, is no longer present,
// whether or not its end has been collected yet.
TEST(PlatformPresenceLock, HeldByAnotherProcessUntilItEnds)
{
    EXPECT_TRUE(processIsAlive(currentProcessId()));
    for (const std::uint32_t nobody : {0u, 0x7FFFFFF0u, 0xFFFFFFFFu})
        EXPECT_FALSE(processIsAlive(nobody)) << nobody;
    std::uint32_t ended = 0;
    for (const char* ending : {"clean", "abrupt"}) {
        SCOPED_TRACE(ending);
        const std::string name = lockName(ending);
        RoleProcess holder("holdPresence:" + name + ":" + ending);
        ASSERT_TRUE(holder.started());
        ASSERT_TRUE(holder.firstLine());
        EXPECT_TRUE(presenceLockHeld(name.c_str()));
        EXPECT_TRUE(processIsAlive(holder.processId()));
        PresenceLock lock = kNoPresenceLock;
        EXPECT_EQ(acquirePresenceLock(name.c_str(), &lock), PresenceResult::HeldElsewhere);

        holder.finish();
        EXPECT_TRUE(eventually([&] { return !processIsAlive(holder.processId()); }));
        EXPECT_TRUE(eventually([&] { return !presenceLockHeld(name.c_str()); }));
        ASSERT_EQ(acquirePresenceLock(name.c_str(), &lock), PresenceResult::Acquired);
        releasePresenceLock(lock);
        ended = holder.processId();
    }
    releaseEndedChildren();
    EXPECT_FALSE(processIsAlive(ended));
}
