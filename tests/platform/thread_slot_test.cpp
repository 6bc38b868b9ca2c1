// Per-thread slots: values are per thread, and a thread's clean-up runs when it ends.
#include "kyro/platform/thread_slot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

using namespace kyro::platform;

namespace {

std::atomic<int> g_cleanups{0};
std::atomic<std::intptr_t> g_cleanedSum{0};

void countCleanup(void* value)
{
    ++g_cleanups;
    g_cleanedSum += reinterpret_cast<std::intptr_t>(value);
}

}  // namespace

TEST(PlatformThreadSlot, ValuesArePerThreadAndCleanedAtThreadEnd)
{
    ThreadSlotId slot = 0;
    ASSERT_TRUE(threadSlotCreate(&countCleanup, &slot));
    EXPECT_EQ(threadSlotGet(slot), nullptr);
    ASSERT_TRUE(threadSlotSet(slot, reinterpret_cast<void*>(1000)));
    std::vector<std::thread> threads;
    for (std::intptr_t i = 0; i <= 4; ++i) {  // thread 0 sets nothing
        threads.emplace_back([slot, i] {
            EXPECT_EQ(threadSlotGet(slot), nullptr);
            void* const value = reinterpret_cast<void*>(i);
            EXPECT_TRUE(i == 0 || (threadSlotSet(slot, value) && threadSlotGet(slot) == value));
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(g_cleanups.load(), 4);
    EXPECT_EQ(g_cleanedSum.load(), 1 + 2 + 3 + 4);
    EXPECT_EQ(threadSlotGet(slot), reinterpret_cast<void*>(1000));  // ours is untouched
    threadSlotSet(slot, nullptr);
    threadSlotDestroy(slot);
}
