// The custom environment file: which variable wins, statuses, lookup rules, "$" references.
#include "kyro/util/CKyroUtilCustomEnv.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "ScopedVariable.h"
#include "TempFolder.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const kThin = "NORVELDT_KYRO_THINCLIENT_ENV";
const char* const kCustom = "NORVELDT_KYRO_CUSTOM_ENV";

const char* const kFile =
    "<?xml version=\"1.0\"?>\n"
    "<!-- installation overrides -->\n"
    "<KYROCUSTOMENV>\n"
    "  <!-- a comment between platforms -->\n"
    "  <PLATFORM OS=\"Windows\">\r\n"
    "    <KEY ID=\"KYRO_LOG_FILE_LOCATION\"><STRING>C:\\first</STRING></KEY>\n"
    "    <KEY ID=\"NO_STRING\"/>\n"
    "    <KEY ID=\"NO_STRING\"><STRING>found later</STRING></KEY>\n"
    "    <KEY><STRING>no id</STRING></KEY>\n"
    "    <KEY ID=\"EMPTY\"><STRING></STRING></KEY>\n"
    "    <KEY ID=\"ROOTED\"><STRING>$KYRO_TEST_ROOT\\bin</STRING></KEY>\n"
    "    <KEY ID=\"ROOT_ONLY\"><STRING>$KYRO_TEST_ROOT</STRING></KEY>\n"
    "    <KEY ID=\"COST\"><STRING>cost$</STRING></KEY>\n"
    "    <KEY ID=\"TWICE\"><STRING>$KYRO_TEST_ROOT\\a\\$KYRO_TEST_ROOT\\b</STRING></KEY>\n"
    "  </PLATFORM>\n"
    "  <PLATFORM OS=\"Linux\"><KEY ID=\"ONLY_LINUX\"><STRING>x</STRING></KEY></PLATFORM>\n"
    "  <PLATFORM><KEY ID=\"KYRO_LOG_FILE_LOCATION\"><STRING>no os</STRING></KEY></PLATFORM>\n"
    "  <PLATFORM OS=\"Windows\">\n"
    "    <KEY ID=\"KYRO_LOG_FILE_LOCATION\"><STRING>D:/second</STRING></KEY>\n"
    "  </PLATFORM>\n"
    "</KYROCUSTOMENV>\n";

}  // namespace

TEST(CustomEnvironment, VariablesStatusesAndLookupRules)
{
    TempFolder folder;
    const TPath good = folder / "good.xml", broken = folder / "broken.xml";
    const std::string missing = (folder / "missing.xml").utf8();
    writeFileBytes(good, kFile);
    writeFileBytes(broken, "<KYROCUSTOMENV><PLATFORM OS=\"Windows\"></KYROCUSTOMENV>");
    // The thin-client file alone counts, even when it cannot be read.
    const struct {
        const char* thin;
        const char* custom;
        int status;
        const char* log;  // the value of KYRO_LOG_FILE_LOCATION
    } rows[] = {
        {nullptr, nullptr, 1, ""},
        {nullptr, good.utf8(), 0, "D:/second"},
        {missing.c_str(), good.utf8(), 2, ""},
        {broken.utf8(), nullptr, 2, ""},
        {nullptr, missing.c_str(), 3, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.status);
        ScopedVariable thin(kThin, row.thin), custom(kCustom, row.custom);
        CKyroUtilCustomEnv environment;
        EXPECT_EQ(environment.loadStatus(), row.status);
        EXPECT_EQ(environment.isLoaded(), row.status == 0);
        EXPECT_EQ(environment.getValue("KYRO_LOG_FILE_LOCATION").utf8(), std::string(row.log));
    }
    {
        ScopedVariable thin(kThin, nullptr), custom(kCustom, broken.utf8());
        CKyroUtilCustomEnv environment;
        EXPECT_EQ(environment.loadStatus(), 3);
        // The file is read once: a file that appears later is not seen unless asked for.
        writeFileBytes(broken, kFile);
        EXPECT_EQ(environment.loadStatus(), 3);
        EXPECT_EQ(environment.load(), 0);
        EXPECT_EQ(environment.getValue("COST"), "cost$");
    }

    ScopedVariable thin(kThin, nullptr), custom(kCustom, good.utf8());
    ScopedVariable root("KYRO_TEST_ROOT", "D:\\x");
    CKyroUtilCustomEnv environment;
    const struct {
        const char* key;
        const char* value;
    } lookups[] = {
        {"", ""}, {"NO_STRING", "found later"}, {"EMPTY", ""}, {"ONLY_LINUX", ""},
        {"UNKNOWN", ""}, {"ROOTED", "D:\\x\\bin"}, {"ROOT_ONLY", "D:\\x"}, {"COST", "cost$"},
        {"TWICE", "D:\\x\\a\\D:\\x\\b"},
    };
    for (const auto& lookup : lookups)
        EXPECT_EQ(environment.getValue(lookup.key).utf8(), std::string(lookup.value)) << lookup.key;
}

// Expands a value in a process of its own, so that its messages can be read.
KYRO_CHILD_ROLE(expand)
{
    kyro::platform::setEnvironmentVariable("KYRO_TEST_SELF", "x$KYRO_TEST_SELF");
    std::printf("[%s]\n", expandEnvironmentReferences(argument.c_str()).utf8());
    return 0;
}

TEST(CustomEnvironment, UnsetReferencesAreNamedOnStandardOutput)
{
    std::string output;
    ASSERT_TRUE(runRole("expand:$KYRO_TEST_NOPE\\bin", &output));
    EXPECT_EQ(output, "Environment variable KYRO_TEST_NOPE cannot be found\n"
                      "[$KYRO_TEST_NOPE\\bin]\n");
    // A value that keeps bringing its own reference back ends after 256 substitutions.
    ASSERT_TRUE(runRole("expand:$KYRO_TEST_SELF\\", &output));
    EXPECT_EQ(output, "[" + std::string(256, 'x') + "$KYRO_TEST_SELF\\]\n");
}
