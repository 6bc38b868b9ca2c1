// The per-user settings store: the file it writes byte for byte, what it reads from files
// other tools wrote, and several processes saving into one file at once.
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/platform/fault_injection.h"
#include "kyro/platform/named_mutex.h"
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
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n";

TStr valueOf(const TStr& path, const char* section, const char* key)
{
    CKyroUtilSettingsFile settings(false);
    TStr value;
    if (!settings.load(path) || !settings.getValue(section, key, value))
        return TStr("<none>");
    return value;
}

// Leftovers of saves: temporary files beside the settings file.
int temporaryFiles(const TempFolder& folder)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(nativePath(folder.path()))) {
        if (entry.path().extension() == ".tmp")
            ++count;
    }
    return count;
}

TEST(SettingsFile, WritesTheDeclarationSectionsAndDataInAFreshFile)
{
    TempFolder folder;
    // Folders that are not there yet are made.
    const TPath path = folder / "a\\b\\KyroUserSettings.xml";

    CKyroUtilSettingsFile settings(true);
    ASSERT_TRUE(settings.load(path));
    EXPECT_TRUE(settings.setValue("Options", "Report", "1"));
    EXPECT_TRUE(settings.setValue("Options", "Name", "a < b & \"c\""));
    EXPECT_TRUE(settings.setValue("PrivacyPolicyConsent", "Kyro", "0"));
    ASSERT_TRUE(settings.save(path));

    EXPECT_EQ(readFileBytes(path),
              std::string(kDeclaration) +
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
    // Its user's only: 0600, or on Windows the user, SYSTEM and Administrators.
    std::string detail;
    EXPECT_TRUE(fileIsUserOnly(path, &detail)) << detail;
}

TEST(SettingsFile, AFileOpenToEveryoneIsMadeTheUsersOnlyByTheNextSave)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    writeFileBytes(path, "<KyroSettings><Section Name=\"S\"><Data Key=\"K\">1</Data></Section>"
                         "</KyroSettings>");
    std::filesystem::permissions(nativePath(path), std::filesystem::perms::all &
                                                       ~std::filesystem::perms::owner_exec &
                                                       ~std::filesystem::perms::group_exec &
                                                       ~std::filesystem::perms::others_exec);
    std::string detail;
    EXPECT_FALSE(fileIsUserOnly(path, &detail)) << detail;
    CKyroUtilSettingsFile settings(true);
    ASSERT_TRUE(settings.load(path));
    ASSERT_TRUE(settings.setValue("S", "Other", "2"));
    ASSERT_TRUE(settings.save(path));
    EXPECT_TRUE(fileIsUserOnly(path, &detail)) << detail;
    EXPECT_EQ(valueOf(path, "S", "K"), "1");
    EXPECT_EQ(valueOf(path, "S", "Other"), "2");
}

TEST(SettingsFile, LinksPlantedBesideTheFileAreNeitherFollowedNorTruncated)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    const TPath victim = folder / "victim.xml";
    const std::string precious =
        "<KyroSettings><Section Name=\"V\"><Data Key=\"K\">v</Data></Section></KyroSettings>";
    writeFileBytes(victim, precious);
    // The temporary name the store once used, and the settings file itself, as links.
    TStr oldTemporary(path);
    oldTemporary += ".";
    oldTemporary += TStr(static_cast<long>(kyro::platform::currentProcessId()));
    oldTemporary += ".tmp";
    if (!makeSymbolicLink(oldTemporary, victim) || !makeSymbolicLink(path, victim))
        GTEST_SKIP() << "no symbolic links can be made here (Wine 8 has none for Windows "
                        "programs)";
    std::string before;
    fileIsUserOnly(victim, &before);

    CKyroUtilSettingsFile settings(true);
    ASSERT_TRUE(settings.load(path));
    ASSERT_TRUE(settings.setValue("S", "K", "1"));
    ASSERT_TRUE(settings.save(path));
    // The link in the file's place was replaced; what it pointed to is as it was.
    EXPECT_EQ(readFileBytes(victim), precious);
    std::string after;
    fileIsUserOnly(victim, &after);
    EXPECT_EQ(after, before);
    EXPECT_FALSE(std::filesystem::is_symlink(nativePath(path)));
    EXPECT_EQ(valueOf(path, "S", "K"), "1");
    std::string detail;
    EXPECT_TRUE(fileIsUserOnly(path, &detail)) << detail;
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
    // Nothing set: an empty store is never written.
    EXPECT_FALSE(settings.save(path));
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
    ASSERT_TRUE(settings.load(path));
    ASSERT_TRUE(settings.setValue("S", "K", "v"));
    ASSERT_TRUE(settings.save(path));
    EXPECT_EQ(readFileBytes(path), std::string(kDeclaration) +
                                       "<KyroSettings>\n    <Section Name=\"S\">\n"
                                       "        <Data Key=\"K\">v</Data>\n    </Section>\n"
                                       "</KyroSettings>\n");

    // Sections without a usable key: not valid, so nothing is read and nothing is saved.
    const std::string noKeys =
        "<KyroSettings><Section Name=\"S\"><Data Key=\"\">1</Data><Data>2</Data></Section>"
        "<Section><Data Key=\"K\">3</Data></Section></KyroSettings>";
    writeFileBytes(path, noKeys);
    EXPECT_FALSE(settings.load(path));
    EXPECT_FALSE(settings.getValue("S", "K", value));
    EXPECT_FALSE(settings.setValue("S", "K", "v") && settings.save(path));
    EXPECT_EQ(readFileBytes(path), noKeys);

    // Another top element (damaged files: xml_files_test).
    writeFileBytes(path, "<Other><Section Name=\"S\"><Data Key=\"K\">1</Data></Section></Other>");
    EXPECT_FALSE(settings.load(path));
    // A folder in the place of the file.
    std::filesystem::create_directory(nativePath(folder / "Folder.xml"));
    EXPECT_FALSE(settings.load(folder / "Folder.xml"));
}

TEST(SettingsFile, ReadsAndKeepsFilesOtherToolsWrote)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    // A byte-order mark, CR LF line ends, tabs, comments and a second entry of one key.
    writeFileBytes(path,
                   "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                   "<!-- written by hand -->\r\n"
                   "<KyroSettings>\r\n"
                   "\t<Section Name=\"Options\"><!-- the report switch -->\r\n"
                   "\t\t<Data Key=\"Report\">yes</Data>\r\n"
                   "\t\t<Data Key=\"Report\">no</Data>\r\n"
                   "\t\t<Data Key=\"Empty\"/>\r\n"
                   "\t\t<Data Key=\"Caf\xC3\xA9\">cr\xC3\xA8me</Data>\r\n"
                   "\t</Section>\r\n"
                   "</KyroSettings>\r\n");
    CKyroUtilSettingsFile settings(false);
    ASSERT_TRUE(settings.load(path));
    TStr value;
    EXPECT_TRUE(settings.getValue("Options", "Report", value));
    EXPECT_EQ(value, "yes");
    EXPECT_TRUE(settings.getValue("Options", "Empty", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(settings.getValue("Options", "Caf\xC3\xA9", value));
    EXPECT_EQ(value, "cr\xC3\xA8me");

    // The empty element takes the value itself, so it reads back; comments stay.
    ASSERT_TRUE(settings.setValue("Options", "Empty", "filled"));
    ASSERT_TRUE(settings.setValue("Options", "Report", "again"));
    ASSERT_TRUE(settings.save(path));
    EXPECT_EQ(valueOf(path, "Options", "Empty"), "filled");
    EXPECT_EQ(valueOf(path, "Options", "Report"), "again");
    const std::string saved = readFileBytes(path);
    // Written as UTF-8 with the store's own declaration, whatever the old one said.
    EXPECT_EQ(saved.rfind(kDeclaration, 0), 0u);
    EXPECT_NE(saved.find("<!-- written by hand -->"), std::string::npos);
    EXPECT_NE(saved.find("<!-- the report switch -->"), std::string::npos);
    EXPECT_NE(saved.find("<Data Key=\"Report\">no</Data>"), std::string::npos);
    EXPECT_EQ(saved.find('\r'), std::string::npos);

    // Read in Latin-1, saved in UTF-8.
    writeFileBytes(path, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n<KyroSettings>"
                         "<Section Name=\"S\"><Data Key=\"K\">Gr\xF6\xDF" "e</Data></Section></KyroSettings>");
    ASSERT_TRUE(settings.load(path));
    ASSERT_TRUE(settings.setValue("S", "L", "x"));
    ASSERT_TRUE(settings.save(path));
    EXPECT_EQ(readFileBytes(path).rfind(kDeclaration, 0), 0u);
    EXPECT_NE(readFileBytes(path).find(">Gr\xC3\xB6\xC3\x9F" "e<"), std::string::npos);
}

TEST(SettingsFile, ASaveKeepsWhatOthersWroteAndWinsForItsOwnKeys)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    CKyroUtilSettingsFile first(false);
    CKyroUtilSettingsFile second(false);
    ASSERT_TRUE(first.load(path));
    ASSERT_TRUE(second.load(path));
    ASSERT_TRUE(second.setValue("S", "Theirs", "2"));
    ASSERT_TRUE(second.setValue("S", "Both", "theirs"));
    ASSERT_TRUE(second.save(path));
    ASSERT_TRUE(first.setValue("S", "Mine", "1"));
    ASSERT_TRUE(first.setValue("S", "Both", "mine"));
    ASSERT_TRUE(first.save(path));

    EXPECT_EQ(valueOf(path, "S", "Mine"), "1");
    EXPECT_EQ(valueOf(path, "S", "Theirs"), "2");
    EXPECT_EQ(valueOf(path, "S", "Both"), "mine");
}

TEST(SettingsFile, AFailedSaveLeavesTheOldFile)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    CKyroUtilSettingsFile settings(false);
    ASSERT_TRUE(settings.load(path));
    ASSERT_TRUE(settings.setValue("S", "K", "1"));
    ASSERT_TRUE(settings.save(path));

    // The folder cannot be made: a file stands where it would go.
    writeFileBytes(folder / "blocked", "x");
    EXPECT_FALSE(settings.save(folder / "blocked\\KyroUserSettings.xml"));
    // The target is a folder: the new content cannot take its place.
    std::filesystem::create_directory(nativePath(folder / "taken.xml"));
    EXPECT_FALSE(settings.save(folder / "taken.xml"));
    EXPECT_EQ(temporaryFiles(folder), 0);

    // The file became unreadable meanwhile: the re-read fails, nothing is written.
    writeFileBytes(path, "<broken");
    EXPECT_FALSE(settings.save(path));
    EXPECT_EQ(readFileBytes(path), "<broken");

    // A file the XML reader takes but could not read back once written again (bytes that
    // are not UTF-8 in an unquoted attribute of a file that says it is UTF-8): the store
    // reads it, but never writes it.
    const std::string damaged = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                "<KyroSettings><Section Name=\xE8\x90\x91\xDD>"
                                "<Data Key=\"K\">1</Data></Section></KyroSettings>";
    writeFileBytes(path, damaged);
    CKyroUtilSettingsFile reader(false);
    ASSERT_TRUE(reader.load(path));
    ASSERT_TRUE(reader.setValue("S", "K", "2"));
    EXPECT_FALSE(reader.save(path));
    EXPECT_EQ(readFileBytes(path), damaged);
    EXPECT_EQ(temporaryFiles(folder), 0);
}

TEST(SettingsFile, TheMutexIsPerUserAndFileName)
{
    std::string token;
    ASSERT_TRUE(kyro::platform::userUniqueToken(&token));
    ASSERT_FALSE(token.empty());
    EXPECT_EQ(CKyroUtilSettingsFile::mutexName("C:\\Users\\x\\KyroUserSettings.xml"),
              TStr((token + "KyroUserSettings.xml").c_str()));
    EXPECT_EQ(CKyroUtilSettingsFile::mutexName("C:/a/b/Other.xml"),
              TStr((token + "Other.xml").c_str()));
    // A hold that cannot be had is refused.
    CKyroUtilSettingsFile settings(false);
    kyro::platform::armFault(kyro::platform::FaultPoint::NamedMutexOpen, 1,
                             kyro::platform::FaultRepeat::FromThenOn);
    EXPECT_FALSE(settings.lockFile("KyroUserSettings.xml"));
    kyro::platform::disarmFaults();
    EXPECT_TRUE(settings.lockFile("KyroUserSettings.xml"));
    settings.unlockFile();
    if (!KYRO_TEST_WINDOWS)
        EXPECT_EQ(token.find_first_not_of("0123456789"), std::string::npos) << token;   // the uid
    else
        EXPECT_EQ(token.rfind("S-1-", 0), 0u) << token;   // no domain: the SID
}

// ---- Several processes -------------------------------------------------------------------

// Saves `count` keys of its own, one save each.
KYRO_CHILD_ROLE(saveDistinctKeys)
{
    const ChildJob job = parseChildJob(argument);
    for (int i = 0; i < job.count; ++i) {
        CKyroUtilSettingsFile settings(true);
        const std::string key = job.tag + "_" + std::to_string(i);
        if (!settings.load(job.path.c_str()) || !settings.setValue("Keys", key.c_str(), "1") ||
            !settings.save(job.path.c_str())) {
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
        if (!settings.lockFile(job.path.c_str()) || !settings.load(job.path.c_str())) {
            std::printf("load %d failed\n", i);
            return 1;
        }
        TStr value;
        const int current = settings.getValue("Counter", "Value", value) ? value.toInt() : 0;
        if (!settings.setValue("Counter", "Value", TStr(current + 1)) ||
            !settings.save(job.path.c_str())) {
            std::printf("save %d failed\n", i);
            return 1;
        }
        settings.unlockFile();
    }
    return 0;
}

// Runs `processes` savers of `count` keys each at once (tags "<prefix><n>"): how many
// keys the file keeps.
int savedByProcessesAtOnce(const TPath& path, const char* prefix, int processes, int count)
{
    std::vector<std::string> roles;
    for (int i = 0; i < processes; ++i)
        roles.push_back(childJobRole("saveDistinctKeys", prefix + std::to_string(i), count, path));
    EXPECT_TRUE(runRolesTogether(roles));
    CKyroUtilSettingsFile settings(false);
    EXPECT_TRUE(settings.load(path));
    int kept = 0;
    for (int p = 0; p < processes; ++p) {
        for (int i = 0; i < count; ++i) {
            TStr value;
            const std::string key = prefix + std::to_string(p) + "_" + std::to_string(i);
            kept += settings.getValue("Keys", key.c_str(), value) && value == "1";
        }
    }
    return kept;
}

TEST(SettingsFileProcesses, EightWritersAtOnceLoseNoKey)
{
    TempFolder folder;
    EXPECT_EQ(savedByProcessesAtOnce(folder / "KyroUserSettings.xml", "p", 8, 50), 400);
    EXPECT_EQ(temporaryFiles(folder), 0);
}

// Another local user squats every name it can guess (the mutex names that were in
// /dev/shm, made with mode 0666 and their flock held) and tries to make the real one:
// four savers still save under the lock, and every entry is kept.
TEST(SettingsFileProcesses, AnotherUserCannotMakeSavesRunUnlocked)
{
    OtherUser other;
    if (!other.unavailable().empty())
        GTEST_SKIP() << other.unavailable();
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    const TStr name = CKyroUtilSettingsFile::mutexName(path);
    ASSERT_FALSE(name.isEmpty());
    const std::string where = kyro::platform::namedMutexLocation(name.utf8());
    ASSERT_FALSE(where.empty());
    std::filesystem::remove(where);
    EXPECT_NE(other.run("umask 000; : > '" + where + "'"), 0);
    const std::string old =
        "/dev/shm/kyro.mx1." + std::to_string(effectiveUserId()) + "." + name.utf8();
    ASSERT_TRUE(other.start("umask 000; : > '" + old + "'; exec flock -x '" + old +
                            "' sleep 120"));
    for (int i = 0; i < 200 && !std::filesystem::exists(old); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(std::filesystem::exists(old));

    EXPECT_EQ(savedByProcessesAtOnce(path, "u", 4, 40), 160);
    other.stopAll();
    std::filesystem::remove(old);
}

// Consent kept in the file cannot be read, forged or erased by another local user, even
// with the folder open for them to look into.
TEST(SettingsFileProcesses, AnotherUserCanNeitherReadNorChangeTheFile)
{
    OtherUser other;
    if (!other.unavailable().empty())
        GTEST_SKIP() << other.unavailable();
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    CKyroUtilSettingsFile settings(true);
    ASSERT_TRUE(settings.load(path));
    ASSERT_TRUE(settings.setValue("PrivacyPolicyConsent", "Kyro", "0"));
    ASSERT_TRUE(settings.save(path));
    std::filesystem::permissions(nativePath(folder.path()),
                                 std::filesystem::perms::owner_all |
                                     std::filesystem::perms::group_read |
                                     std::filesystem::perms::group_exec |
                                     std::filesystem::perms::others_read |
                                     std::filesystem::perms::others_exec);
    const std::string file = nativePath(path).string();
    const std::string bytes = readFileBytes(path);
    EXPECT_NE(other.run("cat '" + file + "' > /dev/null"), 0);
    EXPECT_NE(other.run("echo '<KyroSettings/>' > '" + file + "'"), 0);
    EXPECT_NE(other.run(": > '" + file + "'"), 0);
    EXPECT_EQ(readFileBytes(path), bytes);
    EXPECT_EQ(valueOf(path, "PrivacyPolicyConsent", "Kyro"), "0");
}

TEST(SettingsFileProcesses, EightCountersHeldFromLoadToSaveCountExactly)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    std::vector<std::string> roles;
    for (int i = 0; i < 8; ++i)
        roles.push_back(childJobRole("incrementCounter", "c", 100, path));
    ASSERT_TRUE(runRolesTogether(roles));
    EXPECT_EQ(valueOf(path, "Counter", "Value"), "800");
}

KYRO_CHILD_ROLE(printProcessId)
{
    std::printf("%lu", static_cast<unsigned long>(kyro::platform::currentProcessId()));
    return 0;
}

// What saves that were killed left beside the file goes with the next save: only the
// temporaries of this file, of this user and of processes that are gone; nothing a link
// points to.
TEST(SettingsFile, TemporariesOfSavesThatDiedGoWithTheNextSave)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    std::string gone;
    ASSERT_TRUE(runRole("printProcessId", &gone));
    ASSERT_FALSE(gone.empty());
    // Its output has ended; the process itself may take a moment longer.
    const auto goneId = static_cast<std::uint32_t>(std::stoul(gone));
    for (int i = 0; i < 500 && kyro::platform::processIsAlive(goneId); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(kyro::platform::processIsAlive(goneId));
    const std::string running = std::to_string(kyro::platform::currentProcessId());
    const std::string file = "KyroUserSettings.xml.";
    const TPath victim = folder / "victim.txt";
    writeFileBytes(victim, "precious");

    enum Kind { Plain, Folder, Link, OthersFile };
    struct Row {
        std::string name;
        Kind kind;
        bool goes;
    };
    const Row rows[] = {
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

    CKyroUtilSettingsFile settings(true);
    ASSERT_TRUE(settings.load(path));
    ASSERT_TRUE(settings.setValue("S", "K", "1"));
    ASSERT_TRUE(settings.save(path));
    for (const Row* row : planted) {
        EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(
                      nativePath(folder / row->name.c_str()))),
                  !row->goes)
            << row->name;
    }
    EXPECT_EQ(readFileBytes(victim), "precious");
    EXPECT_EQ(valueOf(path, "S", "K"), "1");
}

// Saves a large store over and over until it ends itself abruptly, at a moment that
// depends on the delay given, as a process killed in the middle of a save would.
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
        for (int i = 0; i < 400; ++i) {
            const std::string key = "k" + std::to_string(i);
            settings.setValue("Big", key.c_str(), TStr(round));
        }
        settings.save(job.path.c_str());
    }
}

TEST(SettingsFileProcesses, AProcessEndingMidSaveNeverLeavesAFileThatDoesNotParse)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    CKyroUtilSettingsFile seed(true);
    ASSERT_TRUE(seed.load(path));
    ASSERT_TRUE(seed.setValue("Big", "k0", "seed"));
    ASSERT_TRUE(seed.save(path));

    for (int delay = 2000; delay <= 40000; delay += 2000) {
        std::string output;
        ASSERT_TRUE(runRole(childJobRole("dieWhileSaving", "d", delay, path).c_str(), &output));
        CKyroUtilSettingsFile settings(false);
        TStr value;
        ASSERT_TRUE(settings.load(path)) << "after " << delay << " us";
        ASSERT_TRUE(settings.getValue("Big", "k0", value));
    }
}

}  // namespace
