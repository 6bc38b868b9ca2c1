// TList and TMap: order (for TMap the one the hashes fix), positions, insert-or-replace,
// removal, copies, and that every element and block they take goes back.
#include "kyro/util/TList.h"
#include "kyro/util/TMap.h"
#include "kyro/util/c_str.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Counted {  // counts the objects made and alive
    static inline int live = 0, made = 0;
    int value;
    explicit Counted(int v) : value(v) { ++live, ++made; }
    Counted(const Counted& other) : value(other.value) { ++live, ++made; }
    Counted& operator=(const Counted&) = default;
    ~Counted() { --live; }
};

// Every test leaves the string allocator as it found it.
class Containers : public testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(kyro::cstr::allocatedBytes(), m_bytes);
        EXPECT_EQ(kyro::cstr::allocatedBlocks(), m_blocks);
        EXPECT_EQ(Counted::live, 0);
    }
    std::int64_t m_bytes = kyro::cstr::allocatedBytes(), m_blocks = kyro::cstr::allocatedBlocks();
};

std::string text(const TStr& key) { return key.isNull() ? "(null)" : key.utf8(); }
std::string text(long key) { return std::to_string(key); }

// The keys in iteration order, each followed by ";".
template <class K, class V>
std::string order(const TMap<K, V>& map)
{
    std::string out;
    for (const auto& entry : map)
        out += text(entry.key()) + ";";
    return out;
}

std::string joined(const TList<TStr>& list)
{
    std::string out;
    for (TList<TStr>::Iterator it = list.first(); !it.atEnd(); it.advance())
        out += std::string(it.current().isNull() ? "(null)" : it.current().utf8()) + ";";
    return out;
}

TList<TStr> listOf(std::initializer_list<const char*> items)
{
    TList<TStr> list;
    for (const char* item : items)
        list.append(TStr(item));
    return list;
}

}  // namespace

TEST_F(Containers, MapIterationGoesByBucketThenByInsertion)
{
    // "a" is bucket 12, "b" 13; "abcdY", "abcde" (0x64636261) and "abcdX" share bucket 3 as
    // longer texts hash their first four bytes. A null key and "" both hash to 0.
    const struct { std::vector<const char*> keys; const char* order; } textRows[] = {
        {{"b", "a"}, "a;b;"}, {{"abcdX", "abcdY"}, "abcdX;abcdY;"},
        {{"b", "abcdY", "a", "abcde", "abcdX"}, "abcdY;abcde;abcdX;a;b;"},
        {{"", nullptr, "a"}, ";(null);a;"},
    };
    for (const auto& row : textRows) {
        TMap<TStr, int> map;
        for (const char* key : row.keys)
            map.insert(TStr(key), 1);
        EXPECT_EQ(order(map), row.order);
    }
    // long keys hash as unsigned 32-bit numbers (-1 bucket 0, -2 bucket 16); the hint sets
    // the bucket count, below 1 it gives 17.
    const struct { int buckets; std::vector<long> keys; const char* order; } longRows[] = {
        {17, {1, 18, 35, 17}, "17;1;18;35;"},
        {17, {35, -2, 1, 16, 18, 17, -1, 0}, "17;-1;0;35;1;18;-2;16;"},
        {5, {6, 1, 5}, "5;6;1;"}, {0, {6, 1, 5}, "1;5;6;"}, {-3, {6, 1, 5}, "1;5;6;"},
    };
    for (const auto& row : longRows) {
        TMap<long, int> map(row.buckets);
        for (long key : row.keys)
            map.insert(key, 1);
        EXPECT_EQ(order(map), row.order);
    }
    if (sizeof(long) > 4) {  // only the low 32 bits choose the bucket; keys compare whole
        const long above = static_cast<long>((1LL << 32) + 1), allOnes = static_cast<long>(0xFFFFFFFFLL);
        TMap<long, long> map;
        for (long key : {2L, above, 1L, -1L, allOnes})
            map.insert(key, key);
        EXPECT_EQ(order(map), "-1;" + text(allOnes) + ";" + text(above) + ";1;2;");
        EXPECT_EQ(map.find(above).value(), above);
        EXPECT_EQ(map.find(allOnes).value(), allOnes);
    }
}

TEST_F(Containers, MapInsertingAKeyAgainReplacesItsValueInPlace)
{
    TMap<TStr, TStr> map;
    for (const char* key : {"a", "abcdY", "abcdX", "b"})
        map.insert(key, key);
    const TStr* keyObject = &map.find("abcdY").key();
    TMapIterator<TStr, TStr> again = map.insert("abcdY", "second");
    EXPECT_EQ(&again.key(), keyObject);
    EXPECT_EQ(map.count(), 4);
    EXPECT_EQ(order(map), "abcdY;abcdX;a;b;");
    // The key and value given may be an entry's own.
    map.insert(again.key(), again.value());
    map.insert("b", map.find("abcdX").value());
    EXPECT_EQ(map.find("abcdY").value(), "second");
    EXPECT_EQ(map.find("b").value(), "abcdX");

    // Values are copied once on insert, assigned on replace, destroyed once.
    TMap<long, Counted> counted;
    const Counted one(1);
    counted.insert(1, one);
    counted.insert(2, one);
    counted.insert(1, Counted(20));
    EXPECT_EQ(Counted::live, 3);
    EXPECT_EQ(counted.find(1).value().value, 20);
    TMap<long, Counted> copy(counted);
    copy.remove(1);
    counted.clear();
    EXPECT_EQ(Counted::live, 2);
}

TEST_F(Containers, MapFindsAndRemoves)
{
    TMap<long, long> map;
    EXPECT_TRUE(map.begin() == map.end());
    EXPECT_FALSE(map.remove(1));
    for (long key : {1L, 18L, 35L, 17L, 2L, 16L, -2L})
        map.insert(key, key * 10);
    const TMap<long, long>& constant = map;
    EXPECT_EQ(constant.find(35).value(), 350);
    EXPECT_TRUE(constant.find(52) == constant.end());  // same bucket as 1, 18 and 35
    EXPECT_FALSE(map.remove(52));
    EXPECT_TRUE(map.remove(17));
    EXPECT_EQ(order(map), "1;18;35;2;16;-2;");
    // At an iterator: within a chain, across buckets, past the last entry.
    TMapIterator<long, long> next = map.remove(map.find(18));
    EXPECT_EQ(next.key(), 35);
    EXPECT_EQ(map.remove(next).key(), 2);
    EXPECT_TRUE(map.remove(map.find(-2)) == map.end());
    // The end and an iterator of another map remove nothing.
    TMap<long, long> other(map);
    EXPECT_TRUE(map.remove(map.end()) == map.end());
    EXPECT_TRUE(map.remove(other.find(2)) == map.end());
    EXPECT_EQ(map.count(), 3);
    // An iterator stays usable when an earlier entry of its chain goes.
    map.insert(18, 180);
    TMapIterator<long, long> kept = map.find(18);
    map.remove(1);
    EXPECT_EQ((++kept).key(), 2);
    for (TMapIterator<long, long> it = map.begin(); it != map.end();)
        it = it.key() % 2 == 0 ? map.remove(it) : ++it;
    EXPECT_EQ(map.count(), 0);
}

TEST_F(Containers, MapCopiesStandAlone)
{
    TMap<long, TStr> source(5);
    for (long key : {6L, 1L, 5L, 11L})
        source.insert(key, TStr(key));
    TMap<long, TStr> copy(source), assigned;  // 17 buckets until it takes the source's 5
    assigned.insert(99, "gone");
    assigned = source;
    const TMap<long, TStr>& same = assigned;
    assigned = same;
    source.find(6).value() = "changed";
    source.remove(1);
    copy.insert(16, "16");  // still 5 buckets: 16 goes behind 6, 1 and 11
    EXPECT_EQ(order(source), "5;6;11;");
    EXPECT_EQ(order(copy), "5;6;1;11;16;");
    EXPECT_EQ(order(assigned), "5;6;1;11;");
    EXPECT_EQ(copy.find(6).value(), "6");
    TMap<TStr, int> texts;
    for (const char* key : {"b", "abcdY", "a", "abcdX"})
        texts.insert(key, 1);
    std::string listed;
    for (const TStr& key : TMap<TStr, int>(texts).keys())
        listed += text(key) + ";";
    EXPECT_EQ(listed, "abcdY;abcdX;a;b;");
}

TEST_F(Containers, ListAppendsFindsAndRemoves)
{
    TList<TStr> list;
    EXPECT_TRUE(list.first() == list.end());
    EXPECT_TRUE(list.at(0).atEnd());
    list = listOf({"a", "b", "", nullptr});
    list.append(list.first().current());  // an element of the list itself
    EXPECT_EQ(list.count(), 5);
    EXPECT_EQ(joined(list), "a;b;;(null);a;");
    for (const int index : {-1, 5, INT_MAX, INT_MIN})
        EXPECT_TRUE(list.at(index) == list.end()) << index;
    EXPECT_EQ(list.at(4).current(), "a");

    // remove() returns the element after; the end and another list's iterator remove nothing.
    EXPECT_EQ(list.remove(list.at(1)).current(), "");
    EXPECT_EQ(list.remove(list.first()).current(), "");
    TList<TStr> other = listOf({"c"});
    EXPECT_TRUE(other.remove(other.end()).atEnd());
    EXPECT_TRUE(list.remove(other.first()) == list.end());
    EXPECT_EQ(other.count(), 1);
    EXPECT_TRUE(list.remove(list.at(2)).atEnd());
    EXPECT_EQ(joined(list), ";(null);");

    // Removing while iterating; head, middle and tail go, and the tail is right after.
    list = listOf({"x1", "a", "x2", "x3", "b", "x4"});
    for (TList<TStr>::Iterator it = list.first(); !it.atEnd();)
        it = it.current().charAt(0) == 'x' ? list.remove(it) : ++it;
    list.append("c");
    std::string seen;
    for (const TStr& item : list)
        seen += item.utf8();
    EXPECT_EQ(seen, "abc");
    EXPECT_EQ(list.at(2).current(), "c");
}

TEST_F(Containers, ListCopiesAreIndependentAndElementsLiveOnce)
{
    TList<TStr> original = listOf({"a", "", nullptr});
    TList<TStr> copy(original), assigned = listOf({"old"});
    assigned = original;
    const TList<TStr>& same = assigned;
    assigned = same;
    original.first().current() += "!";
    original.remove(original.at(1));
    EXPECT_EQ(joined(original), "a!;(null);");
    EXPECT_EQ(joined(copy), "a;;(null);");
    EXPECT_EQ(joined(assigned), "a;;(null);");

    const int made = Counted::made;
    {
        TList<Counted> list;
        for (int i = 0; i < 3; ++i)
            list.append(Counted(7));
        list.remove(list.first());
        TList<Counted> counted(list);
        EXPECT_EQ(Counted::made - made, 3 + 3 + 2);  // the temporaries, the elements, the copies
        EXPECT_EQ(Counted::live, 4);
        EXPECT_EQ(counted.first().current().value, 7);
    }
}

// Lists of one instantiation share a descriptor that the last one frees (the fixture sees it
// go); on several threads at once it is neither freed early nor leaked.
TEST_F(Containers, ListListsComeAndGoOnSeveralThreads)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) {
                TList<TStr> list;
                list.append(TStr(i));
                if (TList<TStr>(list).first().current() != TStr(i))
                    ADD_FAILURE() << i;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
}
