// "%1".."%9" place markers: which marker is filled, and how values are padded.
#include "kyro/util/TStr.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

TEST(Arg, MarkerRules)
{
    const struct {
        const char* format;
        const char* value;
        const char* result;
    } rows[] = {
        {"%1 of %2", "3", "3 of %2"},
        {"3 of %2", "7", "3 of 7"},
        {"%1-%1", "ab", "ab-ab"},      // every occurrence of the lowest marker
        {"%2 %1", "x", "%2 x"},        // the lowest marker, wherever it stands
        {"%3 %2 %3", "y", "%3 y %3"},
        {"100%", "x", "100%"},         // "%" at the end is ordinary
        {"%%1", "x", "%%1"},           // "%%" pairs up, so no marker follows
        {"%%%1", "x", "%%x"},
        {"%0 %1", "x", "%0 x"},        // "%0" is not a marker
        {"%a%1", "x", "%ax"},
        {"no markers", "x", "no markers"},
        {"", "x", ""},
        {"%9", "nine", "nine"},
        {"%1", "", ""},
        {"%1%2", "%2", "%2%2"},        // an inserted value may hold markers itself
        {"\xC3\xA9%1\xE2\x82\xAC", "-", "\xC3\xA9-\xE2\x82\xAC"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(TStr(row.format).arg(row.value), row.result) << row.format;

    const TStr format("%1 of %2");
    EXPECT_EQ(format.arg("3").arg("7"), "3 of 7");
    EXPECT_EQ(format, "%1 of %2");  // the format itself is unchanged
    EXPECT_TRUE(TStr().arg("x").isNull());
    EXPECT_EQ(TStr("%1").arg(TStr()), "");
}

TEST(Arg, NumbersAndPadding)
{
    EXPECT_EQ(TStr("%1").arg(-42L), "-42");
    EXPECT_EQ(TStr("%1").arg(255, 0, 16), "ff");
    EXPECT_EQ(TStr("%1").arg(255, 0, 99), "255");  // bad base means 10
    EXPECT_EQ(TStr("[%1]").arg(7, 3), "[  7]");
    EXPECT_EQ(TStr("[%1]").arg(7, -3), "[7  ]");
    EXPECT_EQ(TStr("[%1]").arg(7, 3, 10, '0'), "[007]");
    EXPECT_EQ(TStr("[%1]").arg(-7, 4, 10, '0'), "[00-7]");
    EXPECT_EQ(TStr("[%1]").arg(1234, 2), "[1234]");    // never cut
    EXPECT_EQ(TStr("[%1]").arg("ab", 4, '*'), "[**ab]");
    EXPECT_EQ(TStr("[%1]").arg("ab", -4, '*'), "[ab**]");
    EXPECT_EQ(TStr("[%1]").arg("ab", 4, '\0'), "[  ab]");  // fill 0 means a blank
    EXPECT_EQ(TStr("[%1]").arg("ab", 3, '\xE9'), "[?ab]");  // fill taken as ASCII
    // The width counts bytes of the value.
    EXPECT_EQ(TStr("[%1]").arg("\xC3\xA9", 3), "[ \xC3\xA9]");
    EXPECT_EQ(TStr("%1/%1").arg(5, 2), " 5/ 5");
}
