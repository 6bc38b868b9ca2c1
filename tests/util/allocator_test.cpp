// The counting string allocator: what a block costs, and that the text library gives back
// everything it takes, on one thread or several.
#include "kyro/util/TStr.h"
#include "kyro/util/c_str.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

using namespace kyro::cstr;

TEST(StringAllocator, BlocksAreZeroFilledAndCountedWithTheirHeader)
{
    const std::int64_t bytes = allocatedBytes(), blocks = allocatedBlocks();
    auto* block = static_cast<unsigned char*>(allocate(10));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::vector<unsigned char>(block, block + 10), std::vector<unsigned char>(10, 0));
    EXPECT_EQ(allocatedBytes() - bytes, 14);
    EXPECT_EQ(allocatedBlocks() - blocks, 1);
    // Blocks keep the heap's alignment, so container nodes may hold pointers.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(void*), 0u);
    EXPECT_EQ(release(block), 14u);
    EXPECT_EQ(release(nullptr), 0u);
    EXPECT_EQ(allocatedBytes(), bytes);
}

// Strings cost two blocks plus one per cached conversion; strings made on threads that end
// with blocks in their caches and dropped on another: the counters come back.
TEST(StringAllocator, StringsCostTwoBlocksAndGiveThemBackOnAnyThread)
{
    const std::int64_t bytes = allocatedBytes(), blocks = allocatedBlocks();
    {
        TStr text("hello");
        text.wide();
        text.ascii();  // replaces the cache
        EXPECT_EQ(allocatedBlocks() - blocks, 3);
        text += "!";  // a change drops it
        EXPECT_EQ(allocatedBlocks() - blocks, 2);
        text.wide();
        text = TStr("moved");  // a move takes the cached conversion with the old text
        EXPECT_EQ(allocatedBlocks() - blocks, 2);
    }
    std::vector<TStr> handedOver[4];
    std::vector<std::thread> threads;
    for (std::vector<TStr>& strings : handedOver) {
        threads.emplace_back([&strings] {
            for (int i = 0; i < 500; ++i) {
                strings.push_back(TStr("item %1").arg(i) + TStr(1.25, 'g', 3));
                strings.back().wide();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::thread([&] {
        for (std::vector<TStr>& strings : handedOver)
            strings.clear();
    }).join();
    EXPECT_EQ(allocatedBytes(), bytes);
    EXPECT_EQ(allocatedBlocks(), blocks);
}
