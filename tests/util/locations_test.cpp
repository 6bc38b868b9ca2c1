// Well-known locations: the standard folders, a custom environment file in force, the PATH rule.
#include "kyro/util/locations.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"
#include "kyro/platform/known_folders.h"
#include "kyro/platform/process_launch.h"
#include "kyro/util/CKyroUtilLocaleMgr.h"

#include <gtest/gtest.h>

#include <string>

TEST(Locations, StandardFoldersWithoutACustomEnvironmentFile)
{
    // This test program runs without either variable set.
    const std::string common = kyro::platform::commonFilesFolder();
    const std::string data = kyro::platform::commonAppDataFolder();
    const std::string user = kyro::platform::localAppDataFolder();
    ASSERT_FALSE(common.empty());
    ASSERT_FALSE(data.empty());
    ASSERT_FALSE(user.empty());

    const std::string bin = common + "\\Norveldt Shared\\Kyro\\R15\\";
    const std::string shared = data + "\\Norveldt\\Kyro\\R15\\";
    const struct { int kind; const char* locale; std::string folder; } rows[] = {
        {0, "", bin}, {1, "", bin}, {2, "", bin}, {2, "de_DE", bin + "de-DE\\"},
        {2, "zh-tw", bin + "zh-TW\\"}, {3, "", shared}, {4, "", shared}, {5, "", shared},
        {10, "", user + "\\Norveldt\\Kyro\\"}, {-1, "", ""}, {6, "", ""}, {9, "", ""}, {11, "", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(getLocation(row.kind, row.locale).utf8(), row.folder) << row.kind << row.locale;

#if KYRO_TEST_WINDOWS
    EXPECT_EQ(getLocation(0, ""), "C:\\Program Files\\Common Files\\Norveldt Shared\\Kyro\\R15\\");
    EXPECT_EQ(getLocation(3, ""), "C:\\ProgramData\\Norveldt\\Kyro\\R15\\");
#else
    // Folders of the system come back with "\" separators.
    EXPECT_EQ(common.find('/'), std::string::npos);
    EXPECT_EQ(getLocation(3, ""), "\\var\\lib\\Norveldt\\Kyro\\R15\\");
#endif
}

TEST(Locations, KeyNamesAndApplicationOverridesWithoutAFile)
{
    EXPECT_EQ(getLocationKeyName(0), "KYRO_COMMON_BIN_LOCATION");
    EXPECT_EQ(getLocationKeyName(2), "KYRO_COMMON_LOCALIZED_DATA_LOCATION");
    EXPECT_EQ(getLocationKeyName(5), "KYRO_ERROR_TABLE_LOCATION");
    EXPECT_EQ(getLocationKeyName(10), "KYRO_USER_SETTINGS_FILE_LOCATION");
    EXPECT_TRUE(getLocationKeyName(7).isEmpty());
    for (int which : {0, 1, 2})
        EXPECT_TRUE(getApplicationOverride(which).isEmpty()) << which;
}

namespace {

const char* const kFile =
    "<KYROCUSTOMENV><PLATFORM OS=\"Windows\">\n"
    "  <KEY ID=\"KYRO_LOG_FILE_LOCATION\"><STRING>D:/logs</STRING></KEY>\n"
    "  <KEY ID=\"KYRO_COMMON_LOCALIZED_DATA_LOCATION\"><STRING>D:\\loc\\</STRING></KEY>\n"
    "  <KEY ID=\"KYRO_COMMON_BIN_LOCATION\"><STRING>D:\\bin\\</STRING></KEY>\n"
    "  <KEY ID=\"KYRO_COMMON_LIB_LOCATION\"><STRING>d:\\lib</STRING></KEY>\n"
    "  <KEY ID=\"KYRO_USER_SETTINGS_FILE_LOCATION\"><STRING>$KYRO_TEST_HOME\\user</STRING></KEY>\n"
    "  <KEY ID=\"KYRO_APPLICATION_ERROR_LOG_FILE\"><STRING>D:\\err.log</STRING></KEY>\n"
    "</PLATFORM></KYROCUSTOMENV>\n";

}  // namespace

// Prints the locations with the custom environment file the variables name, then the PATH
// in the argument once the library folder was added to it.
KYRO_CHILD_ROLE(locations)
{
    for (int kind : {0, 1, 2, 3, 4, 5, 10})
        std::printf("%d=%s\n", kind, getLocation(kind, "").utf8());
    std::printf("2fr=%s\n2de=%s\n", getLocation(2, "fr").utf8(), getLocation(2, "de-de").utf8());
    std::printf("app0=%s\napp1=%s\n", getApplicationOverride(0).utf8(),
                getApplicationOverride(1).utf8());
    kyro::platform::setEnvironmentVariable("PATH", argument.c_str());
    addLibraryFolderToPath();
    std::string path;
    kyro::platform::environmentVariable("PATH", &path);
    std::printf("PATH=%s\n", path.c_str());
    return 0;
}

TEST(Locations, ACustomEnvironmentFileIsTheOnlySourceAndPutsItsLibraryOnPathOnce)
{
    TempFolder folder;
    const TPath file = folder / "custom.xml";
    writeFileBytes(file, kFile);
    const std::string sep(1, kyro::platform::kPathListSeparator);
    const std::string lib = kyro::platform::systemPathText("d:\\lib");
    kyro::platform::setEnvironmentVariable("NORVELDT_KYRO_CUSTOM_ENV", file.utf8());
    kyro::platform::setEnvironmentVariable("KYRO_TEST_HOME", "E:\\home");
    std::string added, kept;
    const bool ran = runRole(("locations:C:A" + sep + "C:B").c_str(), &added) &&
                     runRole(("locations:C:A" + sep + lib).c_str(), &kept);
    kyro::platform::setEnvironmentVariable("NORVELDT_KYRO_CUSTOM_ENV", nullptr);
    kyro::platform::setEnvironmentVariable("KYRO_TEST_HOME", nullptr);
    ASSERT_TRUE(ran);
    const std::string locations =
        "0=D:\\bin\\\n1=d:\\lib\\\n2=D:\\loc\\\n3=\n4=D:/logs/\n5=\n"
        "10=E:\\home\\user\\\n2fr=D:\\loc\\" +
        std::string(CKyroUtilLocaleMgr().getLocaleFolderName("").utf8()) +
        "\\\n2de=D:\\loc\\de-DE\\\napp0=\napp1=D:\\err.log\n";
    EXPECT_EQ(added, locations + "PATH=C:A" + sep + "C:B" + sep + lib + "\n");
    EXPECT_EQ(kept, locations + "PATH=C:A" + sep + lib + "\n");
}

TEST(Locations, PathListRule)
{
    const struct { const char *path, *expected; } rows[] = {
        {"C:\\A;D:\\LIB\\;E:\\B", "C:\\A;D:\\LIB\\;E:\\B"}, {"C:\\A;D:\\LIB;E:\\B", "C:\\A;D:\\LIB;E:\\B"},
        {"C:\\A;d:\\lib", "C:\\A;d:\\lib"}, {"C:\\A", "C:\\A;d:\\lib"}, {"C:\\A;", "C:\\A;d:\\lib"},
        {"", "d:\\lib"}, {"D:\\LIBRARY;D:\\LIB\\X", "D:\\LIBRARY;D:\\LIB\\X;d:\\lib"},
    };
    for (const auto& row : rows) {
        TStr path = row.path;
        const bool changed = kyro::util::addFolderToPathList(&path, "d:\\lib", ';', '\\');
        EXPECT_EQ(path, row.expected) << row.path;
        EXPECT_EQ(changed, std::string(row.path) != row.expected) << row.path;
    }
}
