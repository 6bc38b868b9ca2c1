// The per-user settings store: the file it writes byte for byte, what it reads from files
// other tools wrote, and what saves that died left behind.
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/user_identity.h"

#include "Accounts.h"
#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n";

struct Entry {
    const char* section;
    const char* key;
    const char* value;
};

// Sets the entries in `settings` (loaded from `path` first when `load`) and saves.
bool saveEntries(CKyroUtilSettingsFile& settings, const TPath& path, std::initializer_list<Entry> entries,
                 bool load = true)
{
    bool done = !load || settings.load(path);
    for (const Entry& entry : entries)
        done = done && settings.setValue(entry.section, entry.key, entry.value);
    return done && settings.save(path);
}

bool saveEntries(const TPath& path, std::initializer_list<Entry> entries)
{
    CKyroUtilSettingsFile settings(true);
    return saveEntries(settings, path, entries);
}

TEST(SettingsFile, WritesTheDeclarationSectionsAndDataInAFreshFile)
{
    TempFolder folder;
    const TPath path = folder / "a\\b\\KyroUserSettings.xml";   // the folders are made
    ASSERT_TRUE(saveEntries(path, {{"Options", "Report", "1"}, {"Options", "Name", "a < b & \"c\""},
                                   {"PrivacyPolicyConsent", "Kyro", "0"}}));
    EXPECT_EQ(readFileBytes(path), kDeclaration +
                                       "<KyroSettings>\n"
                                       "    <Section Name=\"Options\">\n"
                                       "        <Data Key=\"Name\">a &lt; b &amp; &quot;c&quot;</Data>\n"
                                       "        <Data Key=\"Report\">1</Data>\n"
                                       "    </Section>\n"
                                       "    <Section Name=\"PrivacyPolicyConsent\">\n"
                                       "        <Data Key=\"Kyro\">0</Data>\n"
                                       "    </Section>\n"
                                       "</KyroSettings>\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(nativePath(path).parent_path()), {}), 1);
    std::string detail;
    EXPECT_TRUE(fileIsUserOnly(path, &detail)) << detail;   // 0600, or on Windows the user, SYSTEM and Administrators
}

TEST(SettingsFile, ValuesNamesAndTheEmptyStore)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    CKyroUtilSettingsFile settings(false);
    TStr value;
    EXPECT_FALSE(settings.load(""));
    ASSERT_TRUE(settings.load(path));
    EXPECT_FALSE(settings.getValue("Options", "Report", value));
    EXPECT_FALSE(settings.setValue("Options", "Report", ""));
    EXPECT_FALSE(settings.setValue("", "Report", "1"));
    EXPECT_FALSE(settings.setValue("Options", "", "1"));
    EXPECT_FALSE(settings.save(path));   // nothing set: an empty store is never written
    EXPECT_FALSE(fileExists(path));

    ASSERT_TRUE(settings.setValue("Options", "Report", "1"));
    EXPECT_FALSE(settings.getValue("", "Report", value));
    ASSERT_TRUE(settings.save(path));

    // A pending value wins over the loaded one until the next plain load forgets it.
    ASSERT_TRUE(settings.setValue("Options", "Report", "2"));
    EXPECT_TRUE(settings.getValue("Options", "Report", value));
    EXPECT_EQ(value, "2");
    ASSERT_TRUE(settings.load(path));
    EXPECT_TRUE(settings.getValue("Options", "Report", value));
    EXPECT_EQ(value, "1");
}

TEST(SettingsFile, WhatMakesAFileValid)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    CKyroUtilSettingsFile settings(false);
    // An empty top element: valid, and a save fills it.
    writeFileBytes(path, "<KyroSettings/>");
    ASSERT_TRUE(saveEntries(settings, path, {{"S", "K", "v"}}));
    EXPECT_EQ(readFileBytes(path), kDeclaration + "<KyroSettings>\n    <Section Name=\"S\">\n"
                                                  "        <Data Key=\"K\">v</Data>\n    </Section>\n"
                                                  "</KyroSettings>\n");
    // Sections without a usable key: not valid, so nothing is read and nothing is saved.
    const std::string noKeys = "<KyroSettings><Section Name=\"S\"><Data Key=\"\">1</Data><Data>2</Data></Section>"
                               "<Section><Data Key=\"K\">3</Data></Section></KyroSettings>";
    writeFileBytes(path, noKeys);
    EXPECT_FALSE(settings.load(path));
    EXPECT_FALSE(saveEntries(settings, path, {{"S", "K", "v"}}, false));
    EXPECT_EQ(readFileBytes(path), noKeys);
}

TEST(SettingsFile, ReadsAndKeepsFilesOtherToolsWrote)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    // Latin-1, comments, a second entry of one key, an empty element, CR LF line ends.
    writeFileBytes(path, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<KyroSettings><!-- by hand -->\r\n"
                         "<Section Name=\"S\"><Data Key=\"K\">Gr\xF6\xDF" "e</Data><Data Key=\"K\">no</Data>"
                         "<Data Key=\"Empty\"/></Section></KyroSettings>\r\n");
    CKyroUtilSettingsFile settings(false);
    TStr value;
    ASSERT_TRUE(settings.load(path) && settings.getValue("S", "K", value));
    EXPECT_EQ(value, "Gr\xC3\xB6\xC3\x9F" "e");
    // The empty element takes the value itself, so it reads back.
    ASSERT_TRUE(saveEntries(path, {{"S", "Empty", "filled"}}));
    EXPECT_EQ(readFileBytes(path), kDeclaration + "<KyroSettings>\n    <!-- by hand -->\n    <Section Name=\"S\">\n"
                                                  "        <Data Key=\"K\">Gr\xC3\xB6\xC3\x9F" "e</Data>\n"
                                                  "        <Data Key=\"K\">no</Data>\n"
                                                  "        <Data Key=\"Empty\">filled</Data>\n"
                                                  "    </Section>\n</KyroSettings>\n");
}

TEST(SettingsFile, TheMutexIsPerUserAndFileName)
{
    std::string token;
    ASSERT_TRUE(kyro::platform::userUniqueToken(&token));
    EXPECT_EQ(CKyroUtilSettingsFile::mutexName("C:/a/b/Other.xml"), TStr((token + "Other.xml").c_str()));
}

KYRO_CHILD_ROLE(printProcessId)
{
    std::printf("%lu", static_cast<unsigned long>(kyro::platform::currentProcessId()));
    return 0;
}

// What killed saves left beside the file goes with the next save: only the temporaries of
// this file, of this user and of processes that are gone; nothing a link points to.
TEST(SettingsFile, TemporariesOfSavesThatDiedGoWithTheNextSave)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    std::string gone;
    ASSERT_TRUE(runRole("printProcessId", &gone));
    const auto goneId = static_cast<std::uint32_t>(std::stoul(gone));
    for (int i = 0; i < 500 && kyro::platform::processIsAlive(goneId); ++i)   // may take a moment
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(kyro::platform::processIsAlive(goneId));
    const std::string running = std::to_string(kyro::platform::currentProcessId());
    const std::string file = "KyroUserSettings.xml.";
    const TPath victim = folder / "victim.txt";
    writeFileBytes(victim, "precious");
    enum Kind { Plain, Link, OthersFile };
    const struct Row {
        std::string name;
        Kind kind;
        bool goes;
    } rows[] = {
        {file + gone + ".1.2.tmp", Plain, true},
        {file + gone + ".1234567890.2.tmp", Plain, true},   // ten digits at most
        {file + gone + ".12345678901.2.tmp", Plain, false},
        {file + running + ".1.2.tmp", Plain, false},   // a save that may still be running
        {"Other.xml." + gone + ".1.2.tmp", Plain, false},
        {file + gone + ".1.tmp", Plain, false},
        {file + gone + ".1.x2.tmp", Plain, false},
        {file + gone + ".5.6.tmp", Link, false},
        {file + gone + ".7.8.tmp", OthersFile, false},
    };
    std::vector<const Row*> planted;
    for (const Row& row : rows) {
        const TPath at = folder / row.name.c_str();
        bool made = true;
        if (row.kind == Link)
            made = makeSymbolicLink(at, victim);
        else
            writeFileBytes(at, "<KyroSettings>");
        if (row.kind == OthersFile)
            made = setModeAndOwner(nativePath(at).string(), 0600, effectiveUserId() + 4242);
        if (made)
            planted.push_back(&row);
        else if (row.kind != Plain)
            std::filesystem::remove(nativePath(at));
    }
    ASSERT_TRUE(saveEntries(path, {{"S", "K", "1"}}));
    for (const Row* row : planted)
        EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(nativePath(folder / row->name.c_str()))),
                  !row->goes)
            << row->name;
    EXPECT_EQ(readFileBytes(victim), "precious");
}

}  // namespace
