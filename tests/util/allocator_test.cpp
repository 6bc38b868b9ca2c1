// The counting string allocator: what a block costs, and that the text library gives back
// everything it takes, on one thread or several.
#include "kyro/util/TPath.h"
#include "kyro/util/c_str.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
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

TEST(StringAllocator, StringsCostTwoBlocksPlusOnePerCachedConversion)
{
    const std::int64_t before = allocatedBlocks();
    {
        TStr text("hello"), empty;
        text.wide();
        text.wide();  // served from the cache
        EXPECT_EQ(allocatedBlocks() - before, 3);
        text.ascii();  // replaces the cache
        EXPECT_EQ(allocatedBlocks() - before, 3);
        text += "!";  // a change drops it
        EXPECT_EQ(allocatedBlocks() - before, 2);
        text.wide();
        text = TStr("moved");  // a move takes the cached conversion with the old text
        EXPECT_EQ(allocatedBlocks() - before, 2);
    }
    EXPECT_EQ(allocatedBlocks(), before);
}

// Strings made on one thread and dropped on another, threads that end with blocks in their
// caches, and every changing operation: the counters come back to where they were.
TEST(StringAllocator, CountersReturnToZeroAfterAWorkload)
{
    const std::int64_t bytes = allocatedBytes(), blocks = allocatedBlocks();
    std::vector<TStr> handedOver;
    std::vector<std::thread> threads;
    std::mutex lock;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                TStr s = TStr("item %1 of %2").arg(i).arg(t);
                s += TStr(static_cast<long>(i), 16);
                s.wide();
                TStr copy(s), tokens("a;b;;c");
                copy.replaceAll("item", "entry");
                copy.cutLast(TStr(" "));
                while (!tokens.isEmpty())
                    tokens.nextToken(";");
                TPath path = TPath("C:\\root") / copy.utf8();
                path.fileName();
                path.directory();
                TStr::releaseBuffer(s.newUtf8());
                std::lock_guard<std::mutex> guard(lock);
                handedOver.push_back(copy.trimmed().toUpper() + TStr(1.25, 'g', 3));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_GT(allocatedBlocks(), blocks);
    std::thread dropper([&] { handedOver.clear(); });
    dropper.join();
    EXPECT_EQ(allocatedBytes(), bytes);
    EXPECT_EQ(allocatedBlocks(), blocks);
}
