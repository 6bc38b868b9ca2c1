// VexBaseStaticCounter: the counts, and the message at shutdown when they differ.
#include "kyro/pipe/VexBaseStaticCounter.h"

#include "PipeTestSupport.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// Leaves counters behind for the shutdown check: one balanced, one whose second count is 3
// ahead. The process-wide pair must stay silent.
KYRO_CHILD_ROLE(counter)
{
    static VexBaseStaticCounter balanced("Balanced Test Counter");
    static VexBaseStaticCounter unbalanced("Unbalanced Test Counter");
    balanced.addToFirst(7);
    balanced.addToSecond(7);
    unbalanced.addToFirst(2);
    unbalanced.addToSecond(5);
    VexBaseStaticCounter::allocatedBytes();
    VexBaseStaticCounter::allocatedInstances();
    return 0;
}

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
    ASSERT_TRUE(runRole("counter", &output));
    EXPECT_EQ(output,
              "!!!!! -----------\n"
              "!!!!! Counter Discrepancy detected at shutdown in Unbalanced Test Counter: 3\n"
              "!!!!! ---------\n"
              "\n");
}
