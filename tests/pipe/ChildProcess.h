// The small kyro_test_child program the launch tests start.
#ifndef KYRO_TESTS_PIPE_CHILDPROCESS_H
#define KYRO_TESTS_PIPE_CHILDPROCESS_H

#include "ChildRole.h"

// kyro_test_child, beside this test program.
TPath testChildPath();

#endif
