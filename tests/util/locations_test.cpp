// Well-known locations: the standard folders, a custom environment file in force, the PATH rule.
#include "kyro/util/locations.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"
#include "kyro/platform/known_folders.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <string>

TEST(Locations, StandardFoldersAndKeyNamesWithoutACustomEnvironmentFile)
{
    // This test program runs without either variable set.
    const std::string bin = kyro::platform::commonFilesFolder() + "\\Norveldt Shared\\Kyro\\R15\\";
    const std::string shared = kyro::platform::commonAppDataFolder() + "\\Norveldt\\Kyro\\R15\\";
    const std::string user = kyro::platform::localAppDataFolder() + "\\Norveldt\\Kyro\\";
    const struct { int kind; const char* locale; std::string folder; const char* key; } rows[] = {
        {0, "", bin, "KYRO_COMMON_BIN_LOCATION"}, {1, "", bin, "KYRO_COMMON_LIB_LOCATION"},
        {2, "", bin, "KYRO_COMMON_LOCALIZED_DATA_LOCATION"}, {2, "zh-tw", bin + "zh-TW\\", ""},
        {3, "", shared, "KYRO_COMMON_DATA_LOCATION"}, {5, "", shared, "KYRO_ERROR_TABLE_LOCATION"},
        {10, "", user, "KYRO_USER_SETTINGS_FILE_LOCATION"}, {-1, "", "", ""}, {6, "", "", ""},
        {11, "", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.kind) + row.locale);
        EXPECT_EQ(getLocation(row.kind, row.locale).utf8(), row.folder);
        EXPECT_TRUE(*row.locale != '\0' || getLocationKeyName(row.kind).utf8() == std::string(row.key));
    }
    EXPECT_TRUE(getApplicationOverride(1).isEmpty());
#if KYRO_TEST_WINDOWS
    EXPECT_EQ(getLocation(0, ""), "C:\\Program Files\\Common Files\\Norveldt Shared\\Kyro\\R15\\");
#else
    EXPECT_EQ(getLocation(3, ""), "\\var\\lib\\Norveldt\\Kyro\\R15\\");  // system folders in "\\" form
#endif
}

namespace {

const char* const kFile =
    "<KYROCUSTOMENV><PLATFORM OS=\"Windows\">\n"
    "  <KEY ID=\"KYRO_LOG_FILE_LOCATION\"><STRING>D:/logs</STRING></KEY>\n"
    "  <KEY ID=\"KYRO_COMMON_LOCALIZED_DATA_LOCATION\"><STRING>D:\\loc</STRING></KEY>\n"
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
    for (int kind : {0, 1, 3, 4, 10})
        std::printf("%d=%s\n", kind, getLocation(kind, "").utf8());
    std::printf("2de=%s\napp1=%s\n", getLocation(2, "de-de").utf8(), getApplicationOverride(1).utf8());
    kyro::platform::setEnvironmentVariable("PATH", argument.c_str());
    addLibraryFolderToPath();
    std::string path;
    kyro::platform::environmentVariable("PATH", &path);
    std::printf("PATH=%s\n", path.c_str());
    return 0;
}

TEST(Locations, ACustomEnvironmentFileIsTheOnlySourceAndPutsItsLibraryOnPath)
{
    TempFolder folder;
    const TPath file = folder / "custom.xml";
    writeFileBytes(file, kFile);
    const std::string sep(1, kyro::platform::kPathListSeparator);
    const std::string lib = kyro::platform::systemPathText("d:\\lib");
    kyro::platform::setEnvironmentVariable("NORVELDT_KYRO_CUSTOM_ENV", file.utf8());
    kyro::platform::setEnvironmentVariable("KYRO_TEST_HOME", "E:\\home");
    std::string added;
    const bool ran = runRole(("locations:C:A" + sep + "C:B").c_str(), &added);
    kyro::platform::setEnvironmentVariable("NORVELDT_KYRO_CUSTOM_ENV", nullptr);
    kyro::platform::setEnvironmentVariable("KYRO_TEST_HOME", nullptr);
    ASSERT_TRUE(ran);
    EXPECT_EQ(added, "0=D:\\bin\\\n1=d:\\lib\\\n3=\n4=D:/logs/\n10=E:\\home\\user\\\n"
                     "2de=D:\\loc\\de-DE\\\napp1=D:\\err.log\nPATH=C:A" +
                         sep + "C:B" + sep + lib + "\n");
}

TEST(Locations, PathListRule)
{
    const struct { const char *path, *expected; } rows[] = {
        {"C:\\A;D:\\LIB\\;E:\\B", "C:\\A;D:\\LIB\\;E:\\B"}, {"C:\\A;D:\\LIB;E:\\B", "C:\\A;D:\\LIB;E:\\B"},
        {"C:\\A", "C:\\A;d:\\lib"}, {"C:\\A;", "C:\\A;d:\\lib"},
        {"", "d:\\lib"}, {"D:\\LIBRARY;D:\\LIB\\X", "D:\\LIBRARY;D:\\LIB\\X;d:\\lib"},
    };
    for (const auto& row : rows) {
        TStr path = row.path;
        const bool changed = kyro::util::addFolderToPathList(&path, "d:\\lib", ';', '\\');
        EXPECT_EQ(path, row.expected) << row.path;
        EXPECT_EQ(changed, std::string(row.path) != row.expected) << row.path;
    }
}
