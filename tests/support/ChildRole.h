// Test programs that run themselves as child processes.
//
// A test that needs a second process starts its own program again with a role named in
// kChildRoleVariable. The program's main() then plays that role instead of running the
// tests, and its return value becomes the exit status. Roles are registered by static
// objects (KYRO_CHILD_ROLE), so every role of the program is known when main() runs.
#ifndef KYRO_TESTS_CHILDROLE_H
#define KYRO_TESTS_CHILDROLE_H

#include "kyro/util/TPath.h"

#include <string>
#include <vector>

// The environment variable that puts a test program into a child role: "<role>" or
// "<role>:<argument>".
extern const char* const kChildRoleVariable;

using ChildRoleFunction = int (*)(const std::string& argument);

struct ChildRoleRegistration {
    ChildRoleRegistration(const char* name, ChildRoleFunction play);
};

// Defines a role: KYRO_CHILD_ROLE(holdMutex) { ... return 0; }, with `argument` in scope.
#define KYRO_CHILD_ROLE(name)                                                          \
    static int kyroChildRole_##name(const std::string& argument);                      \
    static ChildRoleRegistration kyroChildRoleRegistration_##name(#name,                \
                                                                  kyroChildRole_##name); \
    static int kyroChildRole_##name([[maybe_unused]] const std::string& argument)

// Plays the role named in the environment, if any. True (with the exit status in *status)
// when a role was played; main() calls it before anything else.
bool playChildRole(int* status);

// This test program's own path.
TPath thisTestProgram();

// Runs this test program in `role` ("<role>" or "<role>:<argument>", in kChildRoleVariable)
// and returns everything it wrote to its standard output and error once it has ended,
// without carriage returns, so that the text reads the same on every platform. False when
// it could not be started.
bool runRole(const char* role, std::string* output);

// Runs the roles side by side and waits for them all. True when every one ran and wrote
// nothing (children report trouble by writing it).
bool runRolesTogether(const std::vector<std::string>& roles);

// A job for a child that several processes do at once, as one role argument:
// "<role>:<tag>,<count>,<path>".
struct ChildJob {
    std::string tag;
    int count = 0;
    std::string path;
};
ChildJob parseChildJob(const std::string& argument);
std::string childJobRole(const char* role, const std::string& tag, int count, const TStr& path);

#endif
