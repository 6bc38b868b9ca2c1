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

std::string joined(const TList<TStr>& list)
{
    std::string out;
    for (TList<TStr>::Iterator it = list.first(); !it.atEnd(); it.advance())
        out += (out.empty() ? "" : "|") + std::string(it.current().utf8());
    return out;
}

struct Release {
    void operator()(VexDictionary* dictionary) const { dictionary->release(); }
};
using Owned = std::unique_ptr<VexDictionary, Release>;

}  // namespace

TEST(VexDictionary, MarshalsNestedDictionariesAndLists)
{
    EXPECT_EQ(VexDictionary().marshal(), "");
    EXPECT_EQ(Owned(VexDictionary::unmarshal(""))->keys().count(), 0);
    VexDictionary inner, outer;
    inner.setString("k", "v w");
    outer.setDictionaryCopy("inner", inner);
    EXPECT_EQ(outer.marshal(), "inner=ik!3dhv!2120w");

    // Three deep: each level escapes the one below once more.
    VexDictionary deepest, middle, top;
    deepest.setInt("n", -5);
    middle.setDictionaryCopy("c", deepest);
    top.setDictionaryCopy("b", middle);
    EXPECT_EQ(top.marshal(), "b=ic!3din!213dd-5");
    EXPECT_EQ(top.getInt("b.c.n"), -5);
    Owned back(VexDictionary::unmarshal(top.marshal()));
    EXPECT_EQ(back->getInt("b.c.n"), -5);
    EXPECT_EQ(back->marshal(), top.marshal());

    // Buckets: "abcde" 3, "l" 6, "a" 12, "b" 13.
    VexDictionary ordered;
    ordered.setString("b", "2");
    ordered.setString("a", "1");
    ordered.setInt("abcde", 2147483647);
    ordered.setList("l", TList<TStr>());
    EXPECT_EQ(ordered.marshal(), "abcde=d2147483647,l=j!230!3a,a=h1,b=h2");

    // The empty key names nothing: its item is written empty.
    VexDictionary withEmptyKey;
    withEmptyKey.setString("", "x");
    withEmptyKey.setString("a", "1");
    EXPECT_FALSE(withEmptyKey.contains(""));
    EXPECT_EQ(withEmptyKey.marshal(), ",a=h1");
}

TEST(VexDictionary, DottedPathsAndParents)
{
    VexDictionary root;
    VexDictionary* nested = new VexDictionary();
    root.setDictionary("a", nested);
    nested->release();
    root.setString("a.b", "inside");   // "a" holds a dictionary: stored there
    EXPECT_EQ(joined(root.keys()), "a");
    EXPECT_EQ(root.getString("a.b"), "inside");
    EXPECT_TRUE(root.contains("a.b"));
    EXPECT_FALSE(root.contains("a.b.c"));
    EXPECT_FALSE(root.contains("a.x"));
    root.setString("m.n", "whole");   // "m" missing: one key "m.n", which resolution never finds
    EXPECT_TRUE(root.getString("m.n").isEmpty());
    EXPECT_FALSE(root.contains("m.n"));
    EXPECT_EQ(root.keys().count(), 2);

    // Own entries shadow the parent's; misses fall through to it.
    VexDictionary child(&root);
    EXPECT_EQ(child.getString("a.b"), "inside");
    child.setString("a.c", "via parent");   // lands in the dictionary the parent holds
    EXPECT_EQ(root.getString("a.c"), "via parent");
    EXPECT_EQ(child.keys().count(), 0);
    child.setString("x", "own");
    EXPECT_EQ(child.getString("x"), "own");
    EXPECT_FALSE(root.contains("x"));
    EXPECT_EQ(child.getInt("missing"), 0);
    EXPECT_EQ(child.getValue("missing").type(), VexValue::kEmpty);
    EXPECT_EQ(child.getString(""), "");
}

TEST(VexDictionary, SettingAgainMovesTheKeyInItsBucket)
{
    VexDictionary d;
    d.setString("abcdX", "1");
    d.setString("abcdY", "2");
    EXPECT_EQ(d.marshal(), "abcdX=h1,abcdY=h2");
    d.setString("abcdX", "3");
    EXPECT_EQ(joined(d.keys()), "abcdY|abcdX");
    EXPECT_EQ(d.marshal(), "abcdY=h2,abcdX=h3");
    // A dotted key stored whole marshals as an empty item.
    VexDictionary withLoose;
    withLoose.setString("x", "y");
    withLoose.setString("a.b", "lost");
    const TStr text = withLoose.marshal();
    EXPECT_TRUE(text == ",x=hy" || text == "x=hy,") << text.utf8();
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
        EXPECT_EQ(joined(assigned.keys()), "in");
        assigned.setString("in.k", "3");
        EXPECT_EQ(original.getString("in.k"), "3");

        // Assigning from a dictionary that only a value of this one keeps alive.
        VexDictionary outer;
        VexDictionary* held = new VexDictionary();
        held->setString("z", "9");
        outer.setDictionary("held", held);
        held->release();
        outer.assign(*outer.getValue("held").dictionary());
        EXPECT_EQ(outer.getString("z"), "9");
        EXPECT_EQ(outer.stringValues().count(), 1);
    }
    EXPECT_EQ(kyro::cstr::allocatedBlocks(), blocksBefore);   // each nested one freed with its last holder
}

TEST(VexDictionary, UnmarshalSkipsMalformedItems)
{
    ReportCapture reports;
    Owned d(VexDictionary::unmarshal("a=hx,b=hy=z,c,,=hempty,d=k,e="));
    EXPECT_EQ(d->getString("a"), "x");
    EXPECT_FALSE(d->contains("b"));
    EXPECT_FALSE(d->contains("c"));
    EXPECT_EQ(d->getString(""), "");
    EXPECT_TRUE(d->contains("d"));    // stored, as an empty value
    EXPECT_FALSE(d->contains("e"));   // "e=" splits into one part
    EXPECT_EQ(reports.lines().size(), 1u);   // the unknown tag "k"
}

TEST(VexDictionary, NestingIsBounded)
{
    ReportCapture reports;
    VexDictionary self;   // holding itself: marshalled without endless recursion
    self.setString("k", "v");
    self.setDictionary("me", &self);
    EXPECT_GT(self.marshal().length(), 0);
    ASSERT_FALSE(reports.lines().empty());
    EXPECT_EQ(reports.lines().back(), "Error  could not marshal a dictionary nested deeper than 64");
    self.clear();   // breaks the cycle

    // 70 levels stay small (two bytes of escapes more each), so a hostile line can reach any depth.
    TStr text("k=hv");
    for (int level = 0; level < 70; ++level)
        text = TStr("k=i") + kyro::pipe::escape(text);
    EXPECT_LT(text.length(), 40000);
    ReportCapture refused;
    Owned d(VexDictionary::unmarshal(text));
    ASSERT_EQ(refused.lines().size(), 1u);
    EXPECT_NE(refused.lines()[0].find("dictionaries nested deeper than 64"), std::string::npos);
    // 64 nested dictionaries are read; the value that would hold the 65th stays empty.
    TStr path("k");
    for (int level = 1; level < VexValue::kMaxNesting; ++level)
        path += ".k";
    EXPECT_EQ(d->getValue(path).type(), VexValue::kDictionary);
    path += ".k";
    EXPECT_TRUE(d->contains(path));
    EXPECT_EQ(d->getValue(path).type(), VexValue::kEmpty);
}
