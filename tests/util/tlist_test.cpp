// TList: order, positions, removal, copies, and that every element and block it takes goes back.
#include "kyro/util/TList.h"
#include "kyro/util/c_str.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Counted {  // counts its copies and destructions
    static inline int made = 0, ended = 0;
    int value;
    explicit Counted(int v) : value(v) { ++made; }
    Counted(const Counted& other) : value(other.value) { ++made; }
    ~Counted() { ++ended; }
};

// Every test leaves the string allocator as it found it.
class TListTest : public testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(kyro::cstr::allocatedBytes(), m_bytes);
        EXPECT_EQ(kyro::cstr::allocatedBlocks(), m_blocks);
    }
    std::int64_t m_bytes = kyro::cstr::allocatedBytes(), m_blocks = kyro::cstr::allocatedBlocks();
};

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

TEST_F(TListTest, AppendsFindsAndRemoves)
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

TEST_F(TListTest, CopiesAreIndependentAndElementsLiveOnce)
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

    const int made = Counted::made, ended = Counted::ended;
    {
        TList<Counted> list;
        for (int i = 0; i < 3; ++i)
            list.append(Counted(7));
        list.remove(list.first());
        TList<Counted> counted(list);
        EXPECT_EQ(Counted::made - made, 3 + 3 + 2);  // the temporaries, the elements, the copies
        EXPECT_EQ(counted.first().current().value, 7);
    }
    EXPECT_EQ(Counted::ended - ended, 8);
}

// Lists of one instantiation share a descriptor that the last one frees (the fixture sees it
// go); on several threads at once it is neither freed early nor leaked.
TEST_F(TListTest, ListsComeAndGoOnSeveralThreads)
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
