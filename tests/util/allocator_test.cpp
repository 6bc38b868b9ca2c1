// The counting string allocator: what a block costs, and that the text library gives
// back everything it takes.
#include "kyro/util/TPath.h"
#include "kyro/util/TStr.h"
#include "kyro/util/c_str.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

using namespace kyro::cstr;

namespace {

struct Counters {
    std::int64_t bytes = allocatedBytes();
    std::int64_t blocks = allocatedBlocks();
};

}  // namespace

TEST(StringAllocator, BlocksAreZeroFilledAndCountedWithTheirHeader)
{
    const Counters before;
    auto* block = static_cast<unsigned char*>(allocate(10));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(block[i], 0);
    EXPECT_EQ(allocatedBytes() - before.bytes, 14);
    EXPECT_EQ(allocatedBlocks() - before.blocks, 1);
    // Blocks keep the heap's alignment, so container nodes may hold pointers.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(void*), 0u);
    EXPECT_EQ(release(block), 14u);
    EXPECT_EQ(allocatedBytes(), before.bytes);
    EXPECT_EQ(allocatedBlocks(), before.blocks);
    EXPECT_EQ(release(nullptr), 0u);
}

TEST(StringAllocator, StringsCostTwoBlocksPlusOnePerCachedConversion)
{
    const Counters before;
    {
        TStr text("hello");
        EXPECT_EQ(allocatedBlocks() - before.blocks, 2);
        text.wide();
        EXPECT_EQ(allocatedBlocks() - before.blocks, 3);
        text.wide();  // served from the cache
        EXPECT_EQ(allocatedBlocks() - before.blocks, 3);
        text.ascii();  // replaces the cache
        EXPECT_EQ(allocatedBlocks() - before.blocks, 3);
        text += "!";  // a change drops it
        EXPECT_EQ(allocatedBlocks() - before.blocks, 2);
        TStr empty;
        EXPECT_EQ(allocatedBlocks() - before.blocks, 2);
        text.wide();
        text = TStr("moved");   // a move takes the cached conversion with the old text
        EXPECT_EQ(allocatedBlocks() - before.blocks, 2);
    }
    EXPECT_EQ(allocatedBlocks(), before.blocks);
}

TEST(StringAllocator, CountersReturnToZeroAfterAWorkload)
{
    const Counters before;
    {
        std::vector<TStr> strings;
        for (int i = 0; i < 200; ++i) {
            TStr s = TStr("item %1 of %2").arg(i).arg(200);
            s += TStr(static_cast<long>(i), 16);
            s.wide();
            TStr copy(s);
            copy.replaceAll("item", "entry");
            copy.cutLast(TStr(" "));
            TStr tokens("a;b;;c");
            while (!tokens.isEmpty())
                tokens.nextToken(";");
            TPath path = TPath("C:\\root") / copy.utf8();
            path.fileName();
            path.directory();
            char* owned = s.newUtf8();
            TStr::releaseBuffer(owned);
            strings.push_back(copy.trimmed().toUpper());
            strings.push_back(TStr(1.25, 'g', 3));
        }
        EXPECT_GT(allocatedBlocks(), before.blocks);
    }
    EXPECT_EQ(allocatedBytes(), before.bytes);
    EXPECT_EQ(allocatedBlocks(), before.blocks);
}

TEST(StringAllocator, ThreadsShareBlocksAndGiveThemBack)
{
    // Strings made on one thread and dropped on another, and threads that end with blocks
    // in their caches: the counters still come back to where they were.
    const Counters before;
    std::vector<TStr> handedOver;
    std::vector<std::thread> threads;
    std::mutex lock;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                TStr s = TStr("thread %1 item %2").arg(t).arg(i);
                s += TStr(s);
                if (i % 100 == 0) {
                    std::lock_guard<std::mutex> guard(lock);
                    handedOver.push_back(s);
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(handedOver.size(), 80u);
    std::thread dropper([&] { handedOver.clear(); });
    dropper.join();
    EXPECT_EQ(allocatedBytes(), before.bytes);
    EXPECT_EQ(allocatedBlocks(), before.blocks);
}
