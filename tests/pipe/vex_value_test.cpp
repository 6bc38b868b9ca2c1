// Values and escaping: kinds, conversions and the exact wire forms.
#include "kyro/pipe/VexDictionary.h"
#include "kyro/pipe/VexEscape.h"
#include "kyro/pipe/VexValue.h"

#include "ReportCapture.h"
#include "ScopedCLocale.h"
#include "TestPrinters.h"

#include <gtest/gtest.h>

using kyro::pipe::escape;
using kyro::pipe::unescape;

TEST(VexEscape, EscapesEverythingButLettersDigitsDashAndUnderscore)
{
    EXPECT_EQ(escape("Az09-_"), "Az09-_");
    EXPECT_EQ(escape("a.b"), "a!2eb");
    EXPECT_EQ(escape("a b"), "a!20b");
    EXPECT_EQ(escape("!"), "!21");
    EXPECT_EQ(escape("\xC3\xA9"), "!c3!a9");
    EXPECT_EQ(escape(";=,\n\t"), "!3b!3d!2c!0a!09");
    EXPECT_EQ(escape(""), "");
    EXPECT_EQ(escape(TStr()), "");
}

TEST(VexEscape, UnescapeAndItsReports)
{
    ReportCapture reports;
    EXPECT_EQ(unescape("a!2Eb"), "a.b");
    EXPECT_EQ(unescape("a!2eb"), "a.b");
    EXPECT_EQ(unescape("!c3!a9"), "\xC3\xA9");
    EXPECT_EQ(unescape("plain"), "plain");
    EXPECT_TRUE(reports.lines().empty());

    EXPECT_EQ(unescape("x!zzy"), "x");
    EXPECT_EQ(unescape("x!zz"), "x");
    EXPECT_EQ(unescape("ab!"), "ab");       // cut short: nothing read past the end
    EXPECT_EQ(unescape("ab!4"), "ab");
    ASSERT_EQ(reports.lines().size(), 4u);
    EXPECT_EQ(reports.lines()[0], "Error  Could not decode escape in string: x!zzy (zz)");
    EXPECT_EQ(reports.lines()[1], "Error  Could not decode escape in string: x!zz (zz)");
    EXPECT_EQ(reports.lines()[2], "Error  Could not decode escape in string: ab! ()");
    EXPECT_EQ(reports.lines()[3], "Error  Could not decode escape in string: ab!4 (4)");
}

TEST(VexValue, KindsAndConversions)
{
    const VexValue empty;
    EXPECT_EQ(empty.type(), VexValue::kEmpty);
    EXPECT_EQ(empty.asString(), "");
    EXPECT_FALSE(empty.asBool());
    EXPECT_EQ(empty.marshal(), "a");

    const VexValue number(-12);
    EXPECT_EQ(number.asString(), "-12");
    EXPECT_EQ(number.asDouble(), -12.0);
    EXPECT_TRUE(number.asBool());
    EXPECT_EQ(number.marshal(), "d-12");

    const VexValue text(TStr("a b"));
    EXPECT_EQ(text.marshal(), "ha!20b");
    EXPECT_EQ(VexValue(TStr("0")).asBool(), true);
    EXPECT_EQ(VexValue(TStr("")).asBool(), true);
    EXPECT_EQ(VexValue(TStr()).asBool(), false);
    EXPECT_EQ(VexValue(TStr(" 42 ")).asInt(), 42);
    EXPECT_EQ(VexValue(TStr("42x")).asInt(), 0);
    EXPECT_EQ(VexValue(TStr("2.5")).asDouble(), 2.5);
    EXPECT_EQ(VexValue(TStr("2.5x")).asDouble(), 0.0);

    const VexValue real = VexValue::unmarshal("e-2!2e7");
    EXPECT_EQ(real.type(), VexValue::kDouble);
    EXPECT_EQ(real.asInt(), -2);
    EXPECT_EQ(real.asString(), "-2.7");
    EXPECT_EQ(VexValue::unmarshal("e1234567").asString(), "1.23457e+06");
    EXPECT_EQ(VexValue::unmarshal("e100000").asString(), "100000");
    EXPECT_EQ(VexValue::unmarshal("e1e300").asInt(), 2147483647);  // clamped, not undefined

    TList<TStr> list;
    list.append("en_US");
    list.append("a b");
    const VexValue listed(list);
    EXPECT_EQ(listed.type(), VexValue::kList);
    EXPECT_EQ(listed.asString(), "#2:en_US,a!20b");
    EXPECT_EQ(listed.marshal(), "j!232!3aen_US!2ca!2120b");
    EXPECT_EQ(listed.asInt(), 0);
    EXPECT_EQ(VexValue(TList<TStr>()).asString(), "#0:");
}

TEST(VexValue, Unmarshalling)
{
    ReportCapture reports;
    EXPECT_EQ(VexValue::unmarshal("").type(), VexValue::kEmpty);
    EXPECT_TRUE(reports.lines().empty());

    const struct {
        const char* text;
        std::uint32_t type;
        const char* asString;
    } rows[] = {
        {"ctrue", VexValue::kBoolean, "true"},
        {"cTRUE", VexValue::kBoolean, "false"},
        {"c1", VexValue::kBoolean, "false"},
        {"d12", VexValue::kInteger, "12"},
        {"d12x", VexValue::kInteger, "0"},
        {"d99999999999", VexValue::kInteger, "0"},
        {"d-2147483648", VexValue::kInteger, "-2147483648"},
        {"e2!2e5", VexValue::kDouble, "2.5"},
        {"e2!2e5x", VexValue::kDouble, "2.5"},
        {"ex", VexValue::kDouble, "0"},
        {"ha!20b", VexValue::kString, "a b"},
        {"h", VexValue::kString, ""},
        {"j!230!3a", VexValue::kList, "#0:"},
        {"ik!3dhv", VexValue::kDictionary, "k=hv"},
    };
    for (const auto& row : rows) {
        const VexValue value = VexValue::unmarshal(row.text);
        EXPECT_EQ(value.type(), row.type) << row.text;
        EXPECT_EQ(value.asString(), row.asString) << row.text;
    }
    EXPECT_TRUE(reports.lines().empty());

    for (const char* bad : {"a", "b", "f", "g", "k", "zzz", "Hx"}) {
        EXPECT_EQ(VexValue::unmarshal(bad).type(), VexValue::kEmpty) << bad;
        EXPECT_EQ(reports.lines().back(), std::string(TStr("Error  could not unmarshal data value %1").arg(bad).utf8())) << bad;
    }
}

TEST(VexValue, CopiesShareDictionariesAndDuplicateTheRest)
{
    VexDictionary* shared = new VexDictionary();
    shared->setString("k", "v");
    VexValue first(shared);
    shared->release();  // the value holds it now
    {
        VexValue second(first);
        second.dictionary()->setString("k", "changed");
        EXPECT_EQ(first.dictionary(), second.dictionary());
        EXPECT_EQ(first.asString(), "k=hchanged");
    }
    EXPECT_EQ(first.asString(), "k=hchanged");  // still alive through the first value

    VexValue text(TStr("x"));
    VexValue copy;
    copy = text;
    text.reset();
    EXPECT_EQ(copy.asString(), "x");
    copy = VexValue();
    EXPECT_EQ(copy.type(), VexValue::kEmpty);

    // Assigning from a value that lives inside the dictionary this value holds.
    VexDictionary* outer = new VexDictionary();
    outer->setString("inner", "kept");
    VexValue holder(outer);
    outer->release();
    holder = holder.dictionary()->getValue("inner");
    EXPECT_EQ(holder.asString(), "kept");
}

TEST(VexValue, DoublesOnTheWireDoNotFollowTheHostsLocale)
{
    ScopedGermanCLocale german;
    if (!german.isSet())
        GTEST_SKIP() << "no German C locale here (scripts/setup generates de_DE.UTF-8)";
    const VexValue real = VexValue::unmarshal("e2!2e5");
    EXPECT_EQ(real.asDouble(), 2.5);
    EXPECT_EQ(real.asString(), "2.5");
    EXPECT_EQ(real.marshal(), "e2!2e5");
}
