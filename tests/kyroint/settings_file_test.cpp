// The per-user settings store: the file it writes byte for byte, what it reads from files
// other tools wrote, and several processes saving into one file at once.
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/platform/fault_injection.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/user_identity.h"

#include "Accounts.h"
#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
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

TStr valueOf(const TPath& path, const char* section, const char* key)
{
    CKyroUtilSettingsFile settings(false);
    TStr value;
    return settings.load(path) && settings.getValue(section, key, value) ? value : TStr("<none>");
}

// Leftovers of saves: temporary files beside the settings file.
int temporaryFiles(const TempFolder& folder)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(nativePath(folder.path())))
        count += entry.path().extension() == ".tmp";
    return count;
}

bool userOnly(const TPath& path)
{
    std::string detail;
    return fileIsUserOnly(path, &detail);
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
    EXPECT_EQ(valueOf(path, "Options", "Name"), "a < b & \"c\"");
    EXPECT_EQ(temporaryFiles(folder), 0);
    EXPECT_TRUE(userOnly(path));   // 0600, or on Windows the user, SYSTEM and Administrators

    // A file open to everyone is made the user's only by the next save.
    const TPath open = folder / "Open.xml";
    writeFileBytes(open, "<KyroSettings><Section Name=\"S\"><Data Key=\"K\">1</Data></Section></KyroSettings>");
    std::filesystem::permissions(nativePath(open), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                                       std::filesystem::perms::group_read | std::filesystem::perms::group_write |
                                                       std::filesystem::perms::others_read | std::filesystem::perms::others_write);
    EXPECT_FALSE(userOnly(open));
    ASSERT_TRUE(saveEntries(open, {{"S", "Other", "2"}}));
    EXPECT_TRUE(userOnly(open));
    EXPECT_EQ(valueOf(open, "S", "K"), "1");
    EXPECT_EQ(valueOf(open, "S", "Other"), "2");
}

TEST(SettingsFile, LinksPlantedBesideTheFileAreNeitherFollowedNorTruncated)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    const TPath victim = folder / "victim.xml";
    const std::string precious = "<KyroSettings><Section Name=\"V\"><Data Key=\"K\">v</Data></Section></KyroSettings>";
    writeFileBytes(victim, precious);
    // The temporary name the store once used, and the settings file itself, as links.
    const TStr oldTemporary = TStr(path) + "." + TStr(static_cast<long>(kyro::platform::currentProcessId())) + ".tmp";
    if (!makeSymbolicLink(oldTemporary, victim) || !makeSymbolicLink(path, victim))
        GTEST_SKIP() << "no symbolic links can be made here (Wine 8 has none for Windows programs)";
    std::string before, after;
    fileIsUserOnly(victim, &before);
    ASSERT_TRUE(saveEntries(path, {{"S", "K", "1"}}));
    // The link in the file's place was replaced; what it pointed to is as it was.
    EXPECT_EQ(readFileBytes(victim), precious);
    fileIsUserOnly(victim, &after);
    EXPECT_EQ(after, before);
    EXPECT_FALSE(std::filesystem::is_symlink(nativePath(path)));
    EXPECT_EQ(valueOf(path, "S", "K"), "1");
    EXPECT_TRUE(userOnly(path));
    std::filesystem::remove(nativePath(oldTemporary));
    EXPECT_EQ(temporaryFiles(folder), 0);
}

TEST(SettingsFile, ValuesNamesAndTheEmptyStore)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    CKyroUtilSettingsFile settings(false);
    TStr value("old");
    EXPECT_FALSE(settings.load(""));
    ASSERT_TRUE(settings.load(path));
    EXPECT_FALSE(settings.getValue("Options", "Report", value));
    EXPECT_TRUE(value.isEmpty());
    EXPECT_FALSE(settings.setValue("Options", "Report", ""));
    EXPECT_FALSE(settings.setValue("", "Report", "1"));
    EXPECT_FALSE(settings.setValue("Options", "", "1"));
    EXPECT_FALSE(settings.save(path));   // nothing set: an empty store is never written
    EXPECT_FALSE(fileExists(path));

    ASSERT_TRUE(settings.setValue("Options", "Report", "1"));
    EXPECT_TRUE(settings.getValue("Options", "Report", value));
    EXPECT_EQ(value, "1");
    EXPECT_FALSE(settings.getValue("", "Report", value));
    EXPECT_FALSE(settings.getValue("options", "Report", value));
    ASSERT_TRUE(settings.save(path));
    EXPECT_EQ(valueOf(path, "Options", "Report"), "1");

    // A pending value wins over the loaded one until the next plain load forgets it.
    CKyroUtilSettingsFile other(false);
    ASSERT_TRUE(other.load(path));
    ASSERT_TRUE(other.setValue("Options", "Report", "2"));
    EXPECT_TRUE(other.getValue("Options", "Report", value));
    EXPECT_EQ(value, "2");
    ASSERT_TRUE(other.load(path));
    EXPECT_TRUE(other.getValue("Options", "Report", value));
    EXPECT_EQ(value, "1");
}

TEST(SettingsFile, WhatMakesAFileValid)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    CKyroUtilSettingsFile settings(false);
    TStr value;
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
    EXPECT_FALSE(settings.getValue("S", "K", value));
    EXPECT_FALSE(saveEntries(settings, path, {{"S", "K", "v"}}, false));
    EXPECT_EQ(readFileBytes(path), noKeys);
    // Another top element (damaged files: xml_files_test), a folder in the file's place.
    writeFileBytes(path, "<Other><Section Name=\"S\"><Data Key=\"K\">1</Data></Section></Other>");
    EXPECT_FALSE(settings.load(path));
    std::filesystem::create_directory(nativePath(folder / "Folder.xml"));
    EXPECT_FALSE(settings.load(folder / "Folder.xml"));
}

TEST(SettingsFile, ReadsAndKeepsFilesOtherToolsWrote)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    // A byte-order mark, CR LF line ends, tabs, comments and a second entry of one key.
    writeFileBytes(path, "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- written by hand -->\r\n"
                         "<KyroSettings>\r\n\t<Section Name=\"Options\"><!-- the report switch -->\r\n"
                         "\t\t<Data Key=\"Report\">yes</Data>\r\n\t\t<Data Key=\"Report\">no</Data>\r\n"
                         "\t\t<Data Key=\"Empty\"/>\r\n\t\t<Data Key=\"Caf\xC3\xA9\">cr\xC3\xA8me</Data>\r\n"
                         "\t</Section>\r\n</KyroSettings>\r\n");
    EXPECT_EQ(valueOf(path, "Options", "Report"), "yes");
    EXPECT_EQ(valueOf(path, "Options", "Empty"), "");
    EXPECT_EQ(valueOf(path, "Options", "Caf\xC3\xA9"), "cr\xC3\xA8me");

    // The empty element takes the value itself, so it reads back; comments stay.
    ASSERT_TRUE(saveEntries(path, {{"Options", "Empty", "filled"}, {"Options", "Report", "again"}}));
    EXPECT_EQ(valueOf(path, "Options", "Empty"), "filled");
    EXPECT_EQ(valueOf(path, "Options", "Report"), "again");
    const std::string saved = readFileBytes(path);
    EXPECT_EQ(saved.rfind(kDeclaration, 0), 0u);   // the store's own declaration, in UTF-8
    for (const char* kept : {"<!-- written by hand -->", "<!-- the report switch -->", "<Data Key=\"Report\">no</Data>"})
        EXPECT_NE(saved.find(kept), std::string::npos) << kept;
    EXPECT_EQ(saved.find('\r'), std::string::npos);

    // Read in Latin-1, saved in UTF-8.
    writeFileBytes(path, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<KyroSettings>"
                         "<Section Name=\"S\"><Data Key=\"K\">Gr\xF6\xDF" "e</Data></Section></KyroSettings>");
    ASSERT_TRUE(saveEntries(path, {{"S", "L", "x"}}));
    EXPECT_EQ(readFileBytes(path).rfind(kDeclaration, 0), 0u);
    EXPECT_NE(readFileBytes(path).find(">Gr\xC3\xB6\xC3\x9F" "e<"), std::string::npos);
}

TEST(SettingsFile, ASaveKeepsWhatOthersWroteAndWinsForItsOwnKeys)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    CKyroUtilSettingsFile first(false), second(false);
    ASSERT_TRUE(first.load(path));
    ASSERT_TRUE(saveEntries(second, path, {{"S", "Theirs", "2"}, {"S", "Both", "theirs"}}));
    ASSERT_TRUE(saveEntries(first, path, {{"S", "Mine", "1"}, {"S", "Both", "mine"}}, false));
    EXPECT_EQ(valueOf(path, "S", "Mine"), "1");
    EXPECT_EQ(valueOf(path, "S", "Theirs"), "2");
    EXPECT_EQ(valueOf(path, "S", "Both"), "mine");
}

TEST(SettingsFile, AFailedSaveLeavesTheOldFile)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    CKyroUtilSettingsFile settings(false);
    ASSERT_TRUE(saveEntries(settings, path, {{"S", "K", "1"}}));
    // The folder cannot be made (a file stands there), the target is a folder.
    writeFileBytes(folder / "blocked", "x");
    EXPECT_FALSE(settings.save(folder / "blocked\\KyroUserSettings.xml"));
    std::filesystem::create_directory(nativePath(folder / "taken.xml"));
    EXPECT_FALSE(settings.save(folder / "taken.xml"));
    EXPECT_EQ(temporaryFiles(folder), 0);
    // The file became unreadable meanwhile: the re-read fails, nothing is written.
    writeFileBytes(path, "<broken");
    EXPECT_FALSE(settings.save(path));
    EXPECT_EQ(readFileBytes(path), "<broken");
    // A file the reader takes but could not read back once written again (not UTF-8 in an
    // unquoted attribute of a file that says it is): read, never written.
    const std::string damaged = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><KyroSettings><Section Name=\xE8\x90\x91\xDD>"
                                "<Data Key=\"K\">1</Data></Section></KyroSettings>";
    writeFileBytes(path, damaged);
    CKyroUtilSettingsFile reader(false);
    ASSERT_TRUE(reader.load(path));
    EXPECT_FALSE(saveEntries(reader, path, {{"S", "K", "2"}}, false));
    EXPECT_EQ(readFileBytes(path), damaged);
    EXPECT_EQ(temporaryFiles(folder), 0);
}

TEST(SettingsFile, TheMutexIsPerUserAndFileName)
{
    std::string token;
    ASSERT_TRUE(kyro::platform::userUniqueToken(&token));
    ASSERT_FALSE(token.empty());
    if (!KYRO_TEST_WINDOWS)
        EXPECT_EQ(token.find_first_not_of("0123456789"), std::string::npos) << token;   // the uid
    else
        EXPECT_EQ(token.rfind("S-1-", 0), 0u) << token;   // no domain: the SID
    EXPECT_EQ(CKyroUtilSettingsFile::mutexName("C:\\Users\\x\\KyroUserSettings.xml"),
              TStr((token + "KyroUserSettings.xml").c_str()));
    EXPECT_EQ(CKyroUtilSettingsFile::mutexName("C:/a/b/Other.xml"), TStr((token + "Other.xml").c_str()));
    // A hold that cannot be had is refused.
    CKyroUtilSettingsFile settings(false);
    kyro::platform::armFault(kyro::platform::FaultPoint::NamedMutexOpen, 1, kyro::platform::FaultRepeat::FromThenOn);
    EXPECT_FALSE(settings.lockFile("KyroUserSettings.xml"));
    kyro::platform::disarmFaults();
    EXPECT_TRUE(settings.lockFile("KyroUserSettings.xml"));
    settings.unlockFile();
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
    ASSERT_FALSE(gone.empty());
    const auto goneId = static_cast<std::uint32_t>(std::stoul(gone));
    for (int i = 0; i < 500 && kyro::platform::processIsAlive(goneId); ++i)   // may take a moment
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(kyro::platform::processIsAlive(goneId));
    const std::string running = std::to_string(kyro::platform::currentProcessId());
    const std::string file = "KyroUserSettings.xml.";
    const TPath victim = folder / "victim.txt";
    writeFileBytes(victim, "precious");
    enum Kind { Plain, Folder, Link, OthersFile };
    const struct Row {
        std::string name;
        Kind kind;
        bool goes;
    } rows[] = {
        {file + gone + ".1.2.tmp", Plain, true},
        {file + gone + ".407.999999.tmp", Plain, true},
        {file + gone + ".1234567890.2.tmp", Plain, true},   // ten digits at most
        {file + gone + ".12345678901.2.tmp", Plain, false},
        {file + running + ".1.2.tmp", Plain, false},   // a save that may still be running
        {"Other.xml." + gone + ".1.2.tmp", Plain, false},
        {file + gone + ".1.tmp", Plain, false},
        {file + gone + ".1.2.tmp.old", Plain, false},
        {file + gone + ".1.x2.tmp", Plain, false},
        {file + "+" + gone + ".1.2.tmp", Plain, false},
        {file + gone + ".3.4.tmp", Folder, false},
        {file + gone + ".5.6.tmp", Link, false},
        {file + gone + ".7.8.tmp", OthersFile, false},
    };
    std::vector<const Row*> planted;
    for (const Row& row : rows) {
        const TPath at = folder / row.name.c_str();
        bool made = true;
        if (row.kind == Folder)
            made = std::filesystem::create_directory(nativePath(at));
        else if (row.kind == Link)
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
    EXPECT_EQ(valueOf(path, "S", "K"), "1");
}

// ---- Several processes -------------------------------------------------------------------

// Saves `count` keys of its own, one save each.
KYRO_CHILD_ROLE(saveDistinctKeys)
{
    const ChildJob job = parseChildJob(argument);
    for (int i = 0; i < job.count; ++i) {
        const std::string key = job.tag + "_" + std::to_string(i);
        if (!saveEntries(TPath(job.path.c_str()), {{"Keys", key.c_str(), "1"}})) {
            std::printf("save %d failed\n", i);
            return 1;
        }
    }
    return 0;
}

// Adds 1 to a shared counter `count` times, holding the file from the load to the save.
KYRO_CHILD_ROLE(incrementCounter)
{
    const ChildJob job = parseChildJob(argument);
    for (int i = 0; i < job.count; ++i) {
        CKyroUtilSettingsFile settings(true);
        TStr value;
        if (!settings.lockFile(job.path.c_str()) || !settings.load(job.path.c_str()) ||
            !settings.setValue("Counter", "Value", TStr((settings.getValue("Counter", "Value", value) ? value.toInt() : 0) + 1)) ||
            !settings.save(job.path.c_str())) {
            std::printf("round %d failed\n", i);
            return 1;
        }
        settings.unlockFile();
    }
    return 0;
}

TEST(SettingsFileProcesses, EightWritersAtOnceLoseNoKeyAndEightCountersCountExactly)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    std::vector<std::string> roles;
    for (int i = 0; i < 8; ++i)
        roles.push_back(childJobRole("saveDistinctKeys", "p" + std::to_string(i), 50, path));
    ASSERT_TRUE(runRolesTogether(roles));
    CKyroUtilSettingsFile settings(false);
    ASSERT_TRUE(settings.load(path));
    int kept = 0;
    for (int p = 0; p < 8; ++p) {
        for (int i = 0; i < 50; ++i) {
            TStr value;
            const std::string key = "p" + std::to_string(p) + "_" + std::to_string(i);
            kept += settings.getValue("Keys", key.c_str(), value) && value == "1";
        }
    }
    EXPECT_EQ(kept, 400);
    EXPECT_EQ(temporaryFiles(folder), 0);

    const TPath counter = folder / "Counter.xml";
    roles.assign(8, childJobRole("incrementCounter", "c", 100, counter));
    ASSERT_TRUE(runRolesTogether(roles));
    EXPECT_EQ(valueOf(counter, "Counter", "Value"), "800");
}

// Saves a large store over and over until it ends abruptly after the delay given, mid-save.
KYRO_CHILD_ROLE(dieWhileSaving)
{
    const ChildJob job = parseChildJob(argument);
    std::thread([delay = job.count] {
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        std::_Exit(3);
    }).detach();
    for (int round = 0;; ++round) {
        CKyroUtilSettingsFile settings(true);
        if (!settings.load(job.path.c_str()))
            return 1;
        for (int i = 0; i < 400; ++i)
            settings.setValue("Big", ("k" + std::to_string(i)).c_str(), TStr(round));
        settings.save(job.path.c_str());
    }
}

TEST(SettingsFileProcesses, AProcessEndingMidSaveNeverLeavesAFileThatDoesNotParse)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    ASSERT_TRUE(saveEntries(path, {{"Big", "k0", "seed"}}));
    for (int delay = 2000; delay <= 40000; delay += 2000) {
        std::string output;
        ASSERT_TRUE(runRole(childJobRole("dieWhileSaving", "d", delay, path).c_str(), &output));
        ASSERT_NE(valueOf(path, "Big", "k0"), "<none>") << "after " << delay << " us";
    }
}

}  // namespace
