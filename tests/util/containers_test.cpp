// TList and TMap: order (for TMap the one the hashes fix), insert-or-replace, removal at an
// iterator, and that every block they take goes back.
#include "kyro/util/TList.h"
#include "kyro/util/TMap.h"
#include "kyro/util/c_str.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

TEST(Containers, MapOrderReplacementAndRemoval)
{
    // "a" is bucket 12, "b" 13; "abcdY" and "abcdX" share bucket 3, as longer texts hash their
    // first four bytes. long keys hash as unsigned 32-bit numbers (-1 bucket 0, -2 bucket 16).
    TMap<TStr, int> texts;
    int inserted = 0;
    for (const char* key : {"b", "abcdY", "a", "abcdX", "abcdY"})
        texts.insert(key, ++inserted);  // the last one replaces the value in place
    TMap<long, long> numbers, five(5);
    for (long key : {35L, -2L, 1L, 16L, 18L, 17L, -1L, 0L, 52L}) {
        numbers.insert(key, key);
        five.insert(key, key);
    }
    EXPECT_TRUE(numbers.remove(52) && !numbers.remove(52));
    numbers.remove(numbers.remove(numbers.find(1)));  // within a chain: 1 and 18 go
    TMap<long, long> copy(five);
    EXPECT_TRUE(five.remove(copy.find(1)) == five.end());  // another map's iterator removes nothing
    std::string order;
    for (const auto& entry : texts)
        order += std::string(entry.key().utf8()) + "=" + std::to_string(entry.value()) + ";";
    for (const TMap<long, long>* map : {&numbers, &five}) {
        for (const auto& entry : *map)
            order += std::to_string(entry.key()) + ";";
    }
    EXPECT_EQ(order, "abcdY=5;abcdX=4;a=3;b=1;17;-1;0;35;-2;16;35;-1;0;1;16;17;52;18;-2;");
}

TEST(Containers, ListRemovalAndThreadsThatShareTheDescriptor)
{
    TList<TStr> list;
    for (const char* item : {"x1", "a", "x2", "b", "x3"})
        list.append(item);
    list.append(list.first().current());  // an element of the list itself
    for (TList<TStr>::Iterator it = list.first(); !it.atEnd();)
        it = it.current().charAt(0) == 'x' ? list.remove(it) : ++it;
    list.append("c");
    std::string seen;
    for (const TStr& item : TList<TStr>(list))
        seen += item.utf8();
    EXPECT_EQ(seen, "abc");
    EXPECT_TRUE(list.at(3).atEnd() && list.at(-1).atEnd());

    // Lists of one instantiation share a descriptor that the last one frees: on several
    // threads at once it is neither freed early nor leaked.
    const std::int64_t blocks = kyro::cstr::allocatedBlocks();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) {
                TList<TStr> mine;
                mine.append(TStr(i));
                EXPECT_EQ(TList<TStr>(mine).first().current(), TStr(i));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(kyro::cstr::allocatedBlocks(), blocks);
}
