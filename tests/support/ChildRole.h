// A test that needs a second process starts its own program again with a role named in
// kChildRoleVariable; main() then plays the role (registered by KYRO_CHILD_ROLE) instead of
// running the tests, and the role's return value is the exit status.
#ifndef KYRO_TESTS_CHILDROLE_H
#define KYRO_TESTS_CHILDROLE_H

#include "kyro/util/TPath.h"

#include <string>
#include <vector>

// "<role>" or "<role>:<argument>".
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

// Plays the role named in the environment, if any: true, with the exit status in *status.
bool playChildRole(int* status);

// This test program's own path.
TPath thisTestProgram();

// Runs this test program in `role` and returns, once it has ended, all it wrote to its
// standard output and error, without carriage returns. False when it could not be started.
bool runRole(const char* role, std::string* output);

// Runs the roles side by side and waits for them all. True when every one ran and wrote
// nothing (children report trouble by writing it).
bool runRolesTogether(const std::vector<std::string>& roles);

#endif
