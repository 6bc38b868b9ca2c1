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

TEST(VexEscape, EscapesAllButLettersDigitsDashAndUnderscore)
{
    EXPECT_EQ(escape("Az09-_"), "Az09-_");
    EXPECT_EQ(escape("a.b !"), "a!2eb!20!21");
    EXPECT_EQ(escape("\xC3\xA9;=,\n\t"), "!c3!a9!3b!3d!2c!0a!09");
    EXPECT_EQ(escape(TStr()), "");
    ReportCapture reports;
    EXPECT_EQ(unescape("a!2Eb!2e!c3!a9"), "a.b.\xC3\xA9");
    EXPECT_TRUE(reports.lines().empty());
    const struct {
        const char* text;
        const char* result;
        const char* bad;
    } rows[] = {{"x!zzy", "x", "zz"}, {"x!zz", "x", "zz"}, {"ab!", "ab", ""}, {"ab!4", "ab", "4"}};
    for (const auto& row : rows) {
        EXPECT_EQ(unescape(row.text), row.result);   // nothing read past the end
        EXPECT_EQ(reports.lines().back(), std::string("Error  Could not decode escape in string: ") + row.text +
                                              " (" + row.bad + ")");
    }
}

TEST(VexValue, KindsConversionsAndWireForms)
{
    const struct {
        VexValue value;
        std::uint32_t type;
        const char* asString;
        int asInt;
        bool asBool;
        const char* marshal;
    } rows[] = {
        {VexValue(), VexValue::kEmpty, "", 0, false, "a"},
        {VexValue(-12), VexValue::kInteger, "-12", -12, true, "d-12"},
        {VexValue(TStr("a b")), VexValue::kString, "a b", 0, true, "ha!20b"},
        {VexValue(TStr("")), VexValue::kString, "", 0, true, "h"},
        {VexValue(TStr(" 42 ")), VexValue::kString, " 42 ", 42, true, "h!2042!20"},
        {VexValue(TStr("42x")), VexValue::kString, "42x", 0, true, "h42x"},
        {VexValue::unmarshal("e-2!2e7"), VexValue::kDouble, "-2.7", -2, true, "e-2!2e7"},
        {VexValue::unmarshal("e1234567"), VexValue::kDouble, "1.23457e+06", 1234567, true, "e1!2e23457e!2b06"},
        {VexValue::unmarshal("e100000"), VexValue::kDouble, "100000", 100000, true, "e100000"},
        {VexValue::unmarshal("e1e300"), VexValue::kDouble, "1e+300", 2147483647, true, "e1e!2b300"},   // clamped
        {VexValue(TList<TStr>()), VexValue::kList, "#0:", 0, true, "j!230!3a"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.marshal);
        EXPECT_EQ(row.value.type(), row.type);
        EXPECT_EQ(row.value.asString(), row.asString);
        EXPECT_EQ(row.value.asInt(), row.asInt);
        EXPECT_EQ(row.value.asBool(), row.asBool);
        EXPECT_EQ(row.value.marshal(), row.marshal);
    }
    EXPECT_FALSE(VexValue(TStr()).asBool());
    EXPECT_EQ(VexValue(-12).asDouble(), -12.0);
    EXPECT_EQ(VexValue(TStr("2.5")).asDouble(), 2.5);
    EXPECT_EQ(VexValue(TStr("2.5x")).asDouble(), 0.0);
    TList<TStr> list;
    list.append("en_US");
    list.append("a b");
    EXPECT_EQ(VexValue(list).asString(), "#2:en_US,a!20b");
    EXPECT_EQ(VexValue(list).marshal(), "j!232!3aen_US!2ca!2120b");
}

TEST(VexValue, Unmarshalling)
{
    ReportCapture reports;
    const struct {
        const char* text;
        std::uint32_t type;
        const char* asString;
    } rows[] = {
        {"", VexValue::kEmpty, ""},
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
        EXPECT_EQ(VexValue::unmarshal(row.text).type(), row.type) << row.text;
        EXPECT_EQ(VexValue::unmarshal(row.text).asString(), row.asString) << row.text;
    }
    EXPECT_TRUE(reports.lines().empty());
    for (const char* bad : {"a", "b", "f", "g", "k", "zzz", "Hx"}) {
        EXPECT_EQ(VexValue::unmarshal(bad).type(), VexValue::kEmpty) << bad;
        EXPECT_EQ(reports.lines().back(), "Error  could not unmarshal data value " + std::string(bad));
    }
}

TEST(VexValue, CopiesShareDictionariesAndDuplicateTheRest)
{
    VexDictionary* shared = new VexDictionary();
    shared->setString("k", "v");
    VexValue first(shared);
    shared->release();   // the value holds it now
    {
        VexValue second(first);
        second.dictionary()->setString("k", "changed");
        EXPECT_EQ(first.dictionary(), second.dictionary());
    }
    EXPECT_EQ(first.asString(), "k=hchanged");   // still alive through the first value
    VexValue text(TStr("x")), copy;
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
