#include "ChildProcess.h"

#include "kyro/pipe/VexBaseStaticCounter.h"
#include "kyro/platform/process_launch.h"

#include <cstdlib>

const char* const kChildRoleVariable = "KYRO_PIPE_TEST_CHILD_ROLE";

namespace {

// The child roles, played before any test runs. "counter": leave counters behind for the
// shutdown check: one balanced, one whose second count is 3 ahead.
void playRole(const std::string& role)
{
    if (role == "counter") {
        static VexBaseStaticCounter balanced("Balanced Test Counter");
        static VexBaseStaticCounter unbalanced("Unbalanced Test Counter");
        balanced.addToFirst(7);
        balanced.addToSecond(7);
        unbalanced.addToFirst(2);
        unbalanced.addToSecond(5);
        // The process-wide pair must stay silent.
        VexBaseStaticCounter::allocatedBytes();
        VexBaseStaticCounter::allocatedInstances();
    }
    std::exit(0);
}

struct ChildRole {
    ChildRole()
    {
        std::string role;
        if (kyro::platform::environmentVariable(kChildRoleVariable, &role))
            playRole(role);
    }
} g_childRole;

}  // namespace

TPath testChildPath()
{
    return TPath(kyro::platform::executablePath().c_str()).directory() / KYRO_TEST_CHILD_NAME;
}

bool runForOutput(const TStr& program, const TStr& commandLine, const char* role,
                  std::string* output)
{
    output->clear();
    if (role != nullptr)
        kyro::platform::setEnvironmentVariable(kChildRoleVariable, role);
    kyro::platform::LaunchedProcess child;
    const kyro::platform::LaunchResult result =
        kyro::platform::launchProcess(program.utf8(), commandLine.utf8(), &child);
    if (role != nullptr)
        kyro::platform::setEnvironmentVariable(kChildRoleVariable, nullptr);
    if (result != kyro::platform::LaunchResult::Started)
        return false;

    // Our end of the child's input goes at once: a child that reads sees its end.
    kyro::platform::closePipeEnd(child.input);
    char buffer[4096];
    long got;
    while ((got = kyro::platform::readPipe(child.output, buffer, sizeof(buffer))) > 0) {
        for (long i = 0; i < got; ++i) {
            if (buffer[i] != '\r')
                *output += buffer[i];
        }
    }
    kyro::platform::closePipeEnd(child.output);
    return got == 0;
}
