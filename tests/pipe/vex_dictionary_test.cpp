// Dictionaries: dotted paths, parents, the setter and getter rules, and the wire form.
#include "kyro/pipe/VexDictionary.h"
#include "kyro/pipe/VexEscape.h"

#include "ReportCapture.h"
#include "TestPrinters.h"
#include "kyro/util/c_str.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

struct Release {
    void operator()(VexDictionary* dictionary) const { dictionary->release(); }
};
using Owned = std::unique_ptr<VexDictionary, Release>;

}  // namespace

TEST(VexDictionary, MarshalsNestedDictionariesAndLists)
{
    // Three deep: each level escapes the one below once more.
    VexDictionary deepest, middle, top;
    deepest.setInt("n", -5);
    middle.setDictionaryCopy("c", deepest);
    top.setDictionaryCopy("b", middle);
    EXPECT_EQ(top.marshal(), "b=ic!3din!213dd-5");
    EXPECT_EQ(Owned(VexDictionary::unmarshal(top.marshal()))->getInt("b.c.n"), -5);

    // Buckets: "abcde" 3, "l" 6, "a" 12, "b" 13; setting again moves a key to its bucket's end.
    VexDictionary ordered;
    ordered.setString("abcdX", "1");
    ordered.setString("b", "2");
    ordered.setString("a", "1");
    ordered.setInt("abcde", 2147483647);
    ordered.setList("l", TList<TStr>());
    ordered.setString("abcdX", "3");
    ordered.setString("", "x");   // names nothing: written as an empty item
    EXPECT_EQ(ordered.marshal(), ",abcde=d2147483647,abcdX=h3,l=j!230!3a,a=h1,b=h2");

    // Malformed items are skipped; "=hempty" stores the empty key, "d=k" an empty value.
    ReportCapture reports;
    EXPECT_EQ(Owned(VexDictionary::unmarshal("a=hx,b=hy=z,c,,=hempty,d=k,e="))->marshal(), ",a=hx,d=a");
    EXPECT_EQ(reports.lines(), std::vector<std::string>{"Error  could not unmarshal data value k"});
}

TEST(VexDictionary, DottedPathsAndParents)
{
    VexDictionary root;
    VexDictionary* nested = new VexDictionary();
    root.setDictionary("a", nested);
    nested->release();
    root.setString("a.b", "inside");   // "a" holds a dictionary: stored there
    EXPECT_EQ(nested->marshal(), "b=hinside");
    EXPECT_TRUE(root.contains("a.b"));
    EXPECT_FALSE(root.contains("a.b.c"));
    root.setString("m.n", "whole");   // "m" missing: one key "m.n", which resolution never finds
    EXPECT_FALSE(root.contains("m.n"));
    EXPECT_EQ(root.keys().count(), 2);

    // Own entries shadow the parent's; misses fall through to it.
    VexDictionary child(&root);
    EXPECT_EQ(child.getString("a.b"), "inside");
    child.setString("a.c", "via parent");   // lands in the dictionary the parent holds
    EXPECT_EQ(nested->marshal(), "b=hinside,c=hvia!20parent");
    EXPECT_EQ(child.keys().count(), 0);
    child.setString("a", "own");
    EXPECT_EQ(child.getString("a"), "own");
    EXPECT_EQ(child.getString("a.c"), "via parent");
    EXPECT_EQ(child.getInt("missing"), 0);
}

TEST(VexDictionary, CopiesShareNestedDictionaries)
{
    const std::int64_t blocksBefore = kyro::cstr::allocatedBlocks();
    {
        VexDictionary original, inner;
        inner.setString("k", "1");
        original.setDictionaryCopy("in", inner);
        VexDictionary copy(original);
        copy.setString("in.k", "2");
        EXPECT_EQ(original.getString("in.k"), "2");
        VexDictionary assigned;
        assigned.setString("old", "x");
        assigned.assign(original);
        assigned.assign(assigned);
        EXPECT_EQ(assigned.marshal(), "in=ik!3dh2");
        // Assigning from a dictionary that only a value of this one keeps alive.
        VexDictionary* held = new VexDictionary();
        held->setString("z", "9");
        assigned.setDictionary("held", held);
        held->release();
        assigned.assign(*assigned.getValue("held").dictionary());
        EXPECT_EQ(assigned.marshal(), "z=h9");
    }
    EXPECT_EQ(kyro::cstr::allocatedBlocks(), blocksBefore);   // each nested one freed with its last holder
}

TEST(VexDictionary, NestingIsBounded)
{
    ReportCapture reports;
    VexDictionary self;   // holding itself: marshalled without endless recursion
    self.setDictionary("me", &self);
    EXPECT_GT(self.marshal().length(), 0);
    EXPECT_EQ(reports.lines().back(), "Error  could not marshal a dictionary nested deeper than 64");
    self.clear();   // breaks the cycle

    // 64 nested dictionaries are read; the value that would hold the 65th stays empty.
    TStr text("k=hv"), path("k");
    for (int level = 0; level < 70; ++level)
        text = TStr("k=i") + kyro::pipe::escape(text);
    for (int level = 1; level <= VexValue::kMaxNesting; ++level)
        path += ".k";
    Owned d(VexDictionary::unmarshal(text));
    EXPECT_NE(reports.lines().back().find("dictionaries nested deeper than 64"), std::string::npos);
    EXPECT_TRUE(d->contains(path));
    EXPECT_EQ(d->getValue(path).type(), VexValue::kEmpty);
}
