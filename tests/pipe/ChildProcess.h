// Running programs for the launch tests: this test program itself in a child role, or the
// small kyro_test_child, with their output collected.
#ifndef KYRO_TESTS_PIPE_CHILDPROCESS_H
#define KYRO_TESTS_PIPE_CHILDPROCESS_H

#include "kyro/util/TPath.h"

#include <string>

// The environment variable that puts this test program into a child role.
extern const char* const kChildRoleVariable;

// kyro_test_child, beside this test program.
TPath testChildPath();

// Starts `program` with `commandLine` (with `role` in kChildRoleVariable when not null),
// and returns everything it wrote to its standard output and error, once it has ended.
// Carriage returns are dropped, so the text reads the same from every platform.
// False when it could not be started.
bool runForOutput(const TStr& program, const TStr& commandLine, const char* role,
                  std::string* output);

#endif
