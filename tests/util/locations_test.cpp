// Well-known locations: the standard folders, a custom environment file in force, and the
// PATH rule.
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
    EXPECT_EQ(getLocation(0, ""), bin.c_str());
    EXPECT_EQ(getLocation(1, ""), bin.c_str());
    EXPECT_EQ(getLocation(2, ""), bin.c_str());
    EXPECT_EQ(getLocation(2, "de_DE"), (bin + "de-DE\\").c_str());
    EXPECT_EQ(getLocation(2, "zh-tw"), (bin + "zh-TW\\").c_str());
    for (int kind : {3, 4, 5})
        EXPECT_EQ(getLocation(kind, ""), (data + "\\Norveldt\\Kyro\\R15\\").c_str()) << kind;
    EXPECT_EQ(getLocation(10, ""), (user + "\\Norveldt\\Kyro\\").c_str());
    for (int kind : {-1, 6, 9, 11})
        EXPECT_TRUE(getLocation(kind, "").isEmpty()) << kind;

#if KYRO_TEST_WINDOWS
    // What a fresh Wine prefix reports, as a Windows installation does.
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
    EXPECT_TRUE(getApplicationOverride(0).isEmpty());
    EXPECT_TRUE(getApplicationOverride(1).isEmpty());
    EXPECT_TRUE(getApplicationOverride(2).isEmpty());
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

// Prints the locations with the custom environment file the variables name.
KYRO_CHILD_ROLE(locations)
{
    for (int kind : {0, 1, 2, 3, 4, 5, 10})
        std::printf("%d=%s\n", kind, getLocation(kind, "").utf8());
    std::printf("2fr=%s\n", getLocation(2, "fr").utf8());
    std::printf("2de=%s\n", getLocation(2, "de-de").utf8());
    std::printf("app0=%s\napp1=%s\n", getApplicationOverride(0).utf8(),
                getApplicationOverride(1).utf8());
    return 0;
}

TEST(Locations, ACustomEnvironmentFileIsTheOnlySource)
{
    TempFolder folder;
    const TPath file = folder / "custom.xml";
    writeFileBytes(file, kFile);
    kyro::platform::setEnvironmentVariable("NORVELDT_KYRO_CUSTOM_ENV", file.utf8());
    kyro::platform::setEnvironmentVariable("KYRO_TEST_HOME", "E:\\home");
    std::string output;
    const bool ran = runRole("locations", &output);
    kyro::platform::setEnvironmentVariable("NORVELDT_KYRO_CUSTOM_ENV", nullptr);
    kyro::platform::setEnvironmentVariable("KYRO_TEST_HOME", nullptr);
    ASSERT_TRUE(ran);

    const TStr userFolder = CKyroUtilLocaleMgr().getLocaleFolderName("");
    EXPECT_EQ(output, std::string("0=D:\\bin\\\n"
                                  "1=d:\\lib\\\n"
                                  "2=D:\\loc\\\n"
                                  "3=\n"
                                  "4=D:/logs/\n"
                                  "5=\n"
                                  "10=E:\\home\\user\\\n"
                                  "2fr=D:\\loc\\") +
                          userFolder.utf8() + "\\\n" +
                          "2de=D:\\loc\\de-DE\\\n"
                          "app0=\n"
                          "app1=D:\\err.log\n");
}

TEST(Locations, PathListRule)
{
    struct Row {
        const char* path;
        const char* expected;
    };
    const Row rows[] = {
        {"C:\\A;D:\\LIB\\;E:\\B", "C:\\A;D:\\LIB\\;E:\\B"},
        {"C:\\A;D:\\LIB;E:\\B", "C:\\A;D:\\LIB;E:\\B"},
        {"C:\\A;d:\\lib", "C:\\A;d:\\lib"},
        {"C:\\A", "C:\\A;d:\\lib"},
        {"C:\\A;", "C:\\A;d:\\lib"},
        {"", "d:\\lib"},
        {"D:\\LIBRARY;D:\\LIB\\X", "D:\\LIBRARY;D:\\LIB\\X;d:\\lib"},
    };
    for (const Row& row : rows) {
        TStr path = row.path;
        const bool changed = kyro::util::addFolderToPathList(&path, "d:\\lib", ';', '\\');
        EXPECT_EQ(path, row.expected) << row.path;
        EXPECT_EQ(changed, std::string(row.path) != row.expected) << row.path;
    }
}

// Puts the library folder of the custom environment file on a PATH of the role's choosing.
KYRO_CHILD_ROLE(libraryPath)
{
    kyro::platform::setEnvironmentVariable("PATH", argument.c_str());
    addLibraryFolderToPath();
    std::string path;
    kyro::platform::environmentVariable("PATH", &path);
    std::printf("%s\n", path.c_str());
    return 0;
}

TEST(Locations, LibraryFolderGoesOnPathOnce)
{
    TempFolder folder;
    const TPath file = folder / "custom.xml";
    writeFileBytes(file, kFile);
    const std::string sep(1, kyro::platform::kPathListSeparator);
    const std::string lib = kyro::platform::systemPathText("d:\\lib");
    kyro::platform::setEnvironmentVariable("NORVELDT_KYRO_CUSTOM_ENV", file.utf8());
    std::string added, kept;
    const bool ran = runRole(("libraryPath:C:A" + sep + "C:B").c_str(), &added) &&
                     runRole(("libraryPath:C:A" + sep + lib).c_str(), &kept);
    kyro::platform::setEnvironmentVariable("NORVELDT_KYRO_CUSTOM_ENV", nullptr);
    ASSERT_TRUE(ran);
    EXPECT_EQ(added, "C:A" + sep + "C:B" + sep + lib + "\n");
    EXPECT_EQ(kept, "C:A" + sep + lib + "\n");
}
