// TList: order, positions, removal, copies, and that every element and block it takes is
// given back.
#include "kyro/util/TList.h"
#include "kyro/util/TStr.h"
#include "kyro/util/c_str.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Counted {  // counts its copies and destructions
    static inline int made = 0;
    static inline int ended = 0;
    int value;
    explicit Counted(int v) : value(v) { ++made; }
    Counted(const Counted& other) : value(other.value) { ++made; }
    ~Counted() { ++ended; }
};

struct OnlyHere {  // no other list of this type exists
    int value;
};

// Every test leaves the string allocator as it found it.
class TListTest : public testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(kyro::cstr::allocatedBytes(), m_bytes);
        EXPECT_EQ(kyro::cstr::allocatedBlocks(), m_blocks);
    }
    std::int64_t m_bytes = kyro::cstr::allocatedBytes();
    std::int64_t m_blocks = kyro::cstr::allocatedBlocks();
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

TEST_F(TListTest, AppendsInOrderAndFindsByIndex)
{
    TList<TStr> list;
    EXPECT_TRUE(list.first() == list.end());
    EXPECT_TRUE(list.at(0).atEnd());

    list = listOf({"a", "b", "", nullptr});
    list.append(list.first().current());  // an element of the list itself
    EXPECT_EQ(list.count(), 5);
    EXPECT_EQ(joined(list), "a;b;;(null);a;");
    const struct {
        int index;
        const char* element;  // nullptr: the end
    } rows[] = {{0, "a"}, {1, "b"}, {2, ""}, {4, "a"}, {-1, nullptr}, {5, nullptr},
                {INT_MAX, nullptr}, {INT_MIN, nullptr}};
    for (const auto& row : rows) {
        if (row.element == nullptr)
            EXPECT_TRUE(list.at(row.index) == list.end()) << row.index;
        else
            EXPECT_EQ(list.at(row.index).current(), row.element) << row.index;
    }
    EXPECT_TRUE(list.at(3).current().isNull());
}

TEST_F(TListTest, RemoveReturnsTheFollowingElement)
{
    TList<TStr> list = listOf({"a", "b", "c"});
    EXPECT_EQ(list.remove(list.at(1)).current(), "c");
    EXPECT_EQ(list.remove(list.first()).current(), "c");
    EXPECT_TRUE(list.remove(list.first()).atEnd());
    EXPECT_EQ(list.count(), 0);

    // The end, and an iterator of another list, remove nothing.
    TList<TStr> other = listOf({"c"});
    EXPECT_TRUE(other.remove(other.end()).atEnd());
    EXPECT_TRUE(list.remove(other.first()) == list.end());
    EXPECT_EQ(other.count(), 1);

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
    TList<TStr> copy(original);
    TList<TStr> assigned = listOf({"old"});
    assigned = original;
    const TList<TStr>& same = assigned;
    assigned = same;
    original.first().current() += "!";
    original.remove(original.at(1));
    EXPECT_EQ(joined(original), "a!;(null);");
    EXPECT_EQ(joined(copy), "a;;(null);");
    EXPECT_EQ(joined(assigned), "a;;(null);");

    const int made = Counted::made;
    const int ended = Counted::ended;
    {
        const Counted item(7);
        TList<Counted> list;
        for (int i = 0; i < 3; ++i)
            list.append(item);
        list.remove(list.first());
        EXPECT_EQ(Counted::ended - ended, 1);
        TList<Counted> counted(list);
        EXPECT_EQ(Counted::made - made, 6);
        EXPECT_EQ(counted.first().current().value, 7);
    }
    EXPECT_EQ(Counted::ended - ended, 6);
}

TEST_F(TListTest, TheLastListOfAnInstantiationFreesItsDescriptor)
{
    std::optional<TList<OnlyHere>> first(std::in_place);
    EXPECT_EQ(kyro::cstr::allocatedBlocks() - m_blocks, 1);  // the descriptor
    std::optional<TList<OnlyHere>> second(first);
    second->append(OnlyHere{1});
    EXPECT_EQ(kyro::cstr::allocatedBlocks() - m_blocks, 2);  // shared, plus one node
    first.reset();
    EXPECT_EQ(kyro::cstr::allocatedBlocks() - m_blocks, 2);
    second.reset();
    EXPECT_EQ(kyro::cstr::allocatedBlocks(), m_blocks);

    // Lists of one instantiation coming and going on several threads at once share the
    // descriptor without freeing it under a live list or leaking it.
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
