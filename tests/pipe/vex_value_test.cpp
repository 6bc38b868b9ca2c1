// Values: kinds, conversions and the exact wire forms (round trips: fuzz_vex_values).
#include "kyro/pipe/VexValue.h"

#include "ReportCapture.h"
#include "ScopedCLocale.h"
#include "TestPrinters.h"

#include <gtest/gtest.h>

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
        {VexValue::unmarshal("ctrue"), VexValue::kBoolean, "true", 1, true, "ctrue"},
        {VexValue::unmarshal("cTRUE"), VexValue::kBoolean, "false", 0, false, "cfalse"},
        {VexValue(-12), VexValue::kInteger, "-12", -12, true, "d-12"},
        {VexValue::unmarshal("d99999999999"), VexValue::kInteger, "0", 0, false, "d0"},
        {VexValue(TStr("")), VexValue::kString, "", 0, true, "h"},
        {VexValue(TStr(" 42 ")), VexValue::kString, " 42 ", 42, true, "h!2042!20"},
        {VexValue::unmarshal("e-2!2e7x"), VexValue::kDouble, "-2.7", -2, true, "e-2!2e7"},
        {VexValue::unmarshal("e1234567"), VexValue::kDouble, "1.23457e+06", 1234567, true, "e1!2e23457e!2b06"},
        {VexValue::unmarshal("e1e300"), VexValue::kDouble, "1e+300", 2147483647, true, "e1e!2b300"},   // clamped
        {VexValue::unmarshal("j!232!3aen_US!2ca!2120b"), VexValue::kList, "#2:en_US,a!20b", 0, true,
         "j!232!3aen_US!2ca!2120b"},
        {VexValue::unmarshal("ik!3dhv"), VexValue::kDictionary, "k=hv", 0, true, "ik!3dhv"},
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
    ReportCapture reports;
    for (const char* bad : {"a", "f", "zzz", "Hx"}) {
        EXPECT_EQ(VexValue::unmarshal(bad).type(), VexValue::kEmpty) << bad;
        EXPECT_EQ(reports.lines().back(), "Error  could not unmarshal data value " + std::string(bad));
    }
}

TEST(VexValue, DoublesOnTheWireDoNotFollowTheHostsLocale)
{
    ScopedGermanCLocale german;
    if (!german.isSet())
        GTEST_SKIP() << "no German C locale here (scripts/setup generates de_DE.UTF-8)";
    const VexValue real = VexValue::unmarshal("e2!2e5");
    EXPECT_EQ(real.asString(), "2.5");
    EXPECT_EQ(real.marshal(), "e2!2e5");
}
