#include "ChildProcess.h"

#include "kyro/platform/process_launch.h"

TPath testChildPath()
{
    return thisTestProgram().directory() / KYRO_TEST_CHILD_NAME;
}
