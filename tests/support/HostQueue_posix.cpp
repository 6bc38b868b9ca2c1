#include "HostQueue.h"

bool hostHasMessageQueue()
{
    return false;
}

void postQuit(int) {}

int runMessageLoop(unsigned)
{
    return -1;
}
