// The main() of every test program: a child role when one is asked for, else the tests.
#include "ChildRole.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    int status = 0;
    if (playChildRole(&status))
        return status;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
