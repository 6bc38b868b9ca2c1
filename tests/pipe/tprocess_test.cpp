// Processes: TProcess's command lines (launches: every companion test).
#include "kyro/pipe/TProcess.h"

#include <gtest/gtest.h>

#include <string>

TEST(TProcess, RecordAndCommandLineRules)
{
    const struct {
        const char* program;
        const char* arguments;
        const char* squish;   // as if KYRO_USE_SQUISH held it; null: not set
        const char* application;
        const char* commandLine;
    } rows[] = {
        {"C:\\Dir\\Vex.exe", "Vex.exe5120", nullptr, "C:\\Dir\\Vex.exe", "Vex.exe Vex.exe5120"},
        {"C:\\Dir\\Vex.exe", "Vex.exe5120", "C:\\Tools\\wrap.exe", "C:\\Tools\\wrap.exe",
         "wrap.exe \"C:\\Dir\\Vex.exe\" Vex.exe5120"},
        // Set but empty still wraps, with an empty wrapper; no arguments still leave the space.
        {"C:\\Dir\\Vex.exe", "Vex.exe5120", "", "", " \"C:\\Dir\\Vex.exe\" Vex.exe5120"},
        {"C:\\Dir\\Vex.exe", "", "C:\\Tools\\wrap.exe", "C:\\Tools\\wrap.exe", "wrap.exe \"C:\\Dir\\Vex.exe\" "},
        {"C:\\Dir\\Vex.exe", " -x", nullptr, "C:\\Dir\\Vex.exe", "Vex.exe -x"},
        {"C:\\My Dir\\Vex 2.exe", "a b", nullptr, "C:\\My Dir\\Vex 2.exe", "\"Vex 2.exe\" a b"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.program) + " " + (row.squish != nullptr ? row.squish : "(unset)"));
        const TProcess process(row.program, row.arguments, row.squish);
        EXPECT_EQ(process.applicationName(), row.application);
        EXPECT_EQ(process.commandLine(), row.commandLine);
    }
}

