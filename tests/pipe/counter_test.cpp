// VexBaseStaticCounter: the counts, and the message at shutdown when they differ.
#include "kyro/pipe/VexBaseStaticCounter.h"

#include "ChildProcess.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(VexBaseStaticCounter, CountsAndDiscrepancy)
{
    VexBaseStaticCounter counter("Test Counter");
    EXPECT_STREQ(counter.name(), "Test Counter");
    EXPECT_EQ(counter.first(), 0u);
    EXPECT_EQ(counter.second(), 0u);
    EXPECT_EQ(counter.discrepancy(), 0);
    counter.addToSecond(5);
    EXPECT_EQ(counter.discrepancy(), 5);
    counter.addToFirst(8);
    EXPECT_EQ(counter.discrepancy(), -3);
    EXPECT_EQ(counter.first(), 8u);
    EXPECT_EQ(counter.second(), 5u);
    counter.addToSecond(3);   // balanced again: its destruction here prints nothing

    VexBaseStaticCounter wrapped("Wrapped");
    wrapped.addToSecond(0xFFFFFFFFu);
    EXPECT_EQ(wrapped.discrepancy(), -1);   // 32-bit difference, signed
    wrapped.addToFirst(0xFFFFFFFFu);

    // The process-wide pair, untouched by the library.
    EXPECT_STREQ(VexBaseStaticCounter::allocatedBytes().name(), "VexBase Allocated Bytes");
    EXPECT_STREQ(VexBaseStaticCounter::allocatedInstances().name(),
                 "VexBase Allocated Instances");
    EXPECT_EQ(VexBaseStaticCounter::allocatedBytes().discrepancy(), 0);
    EXPECT_EQ(VexBaseStaticCounter::allocatedInstances().discrepancy(), 0);
}

TEST(VexBaseStaticCounter, UnbalancedCounterComplainsAtShutdown)
{
    // This program, run as a child, leaves a balanced and an unbalanced counter behind and
    // exits; only the unbalanced one may say anything, and only this.
    std::string output;
    ASSERT_TRUE(runForOutput(TStr(kyro::platform::executablePath().c_str()), "pipe_tests",
                             "counter", &output));
    EXPECT_EQ(output,
              "!!!!! -----------\n"
              "!!!!! Counter Discrepancy detected at shutdown in Unbalanced Test Counter: 3\n"
              "!!!!! ---------\n"
              "\n");
}
