#include "ChildRole.h"

#include "kyro/platform/process_launch.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

const char* const kChildRoleVariable = "KYRO_TEST_CHILD_ROLE";

namespace {

std::map<std::string, ChildRoleFunction>& roles()
{
    static std::map<std::string, ChildRoleFunction> table;
    return table;
}

}  // namespace

ChildRoleRegistration::ChildRoleRegistration(const char* name, ChildRoleFunction play)
{
    roles()[name] = play;
}

bool playChildRole(int* status)
{
    std::string value;
    if (!kyro::platform::environmentVariable(kChildRoleVariable, &value) || value.empty())
        return false;
    // A role's own children must not play it again.
    kyro::platform::setEnvironmentVariable(kChildRoleVariable, nullptr);
    const std::string::size_type colon = value.find(':');
    const std::string name = value.substr(0, colon);
    const std::string argument = colon == std::string::npos ? "" : value.substr(colon + 1);
    const auto found = roles().find(name);
    *status = found == roles().end() ? 125 : found->second(argument);
    return true;
}

TPath thisTestProgram()
{
    return TPath(kyro::platform::executablePath().c_str());
}

bool runRole(const char* role, std::string* output)
{
    const TPath program = thisTestProgram();
    output->clear();
    kyro::platform::LaunchedProcess child;
    kyro::platform::LaunchResult result = kyro::platform::LaunchResult::ProcessFailed;
    // A loaded machine (Wine especially) now and then refuses a start; no test is about that.
    for (int attempt = 0; attempt < 3 && result != kyro::platform::LaunchResult::Started; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        // The role travels in the environment all threads share: a child started just after
        // another thread took the role away would run every test again, without end.
        static std::mutex launchLock;
        std::lock_guard<std::mutex> guard(launchLock);
        kyro::platform::setEnvironmentVariable(kChildRoleVariable, role);
        result = kyro::platform::launchProcess(program.utf8(), (TStr("\"") + program + "\"").utf8(), &child);
        kyro::platform::setEnvironmentVariable(kChildRoleVariable, nullptr);
    }
    if (result != kyro::platform::LaunchResult::Started) {
        std::fprintf(stderr, "%s (role %s) could not be started: %s\n", program.utf8(),
                     role != nullptr ? role : "none",
                     result == kyro::platform::LaunchResult::PipeFailed ? "no pipe" : "no process");
        return false;
    }

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
    if (got != 0)
        std::fprintf(stderr, "%s (role %s): its output could not be read to the end\n",
                     program.utf8(), role != nullptr ? role : "none");
    return got == 0;
}

bool runRolesTogether(const std::vector<std::string>& roles)
{
    std::vector<std::thread> threads;
    std::vector<int> ran(roles.size(), 0);
    for (std::size_t i = 0; i < roles.size(); ++i) {
        threads.emplace_back([&, i] {
            std::string output;
            ran[i] = runRole(roles[i].c_str(), &output) && output.empty();
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int ok : ran) {
        if (!ok)
            return false;
    }
    return true;
}
