// Privacy-policy consent kept in the user's settings file: what is read as an answer, the
// file a first answer makes, and the move from the older key form.
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/int/privacy_consent.h"
#include "kyro/platform/fault_injection.h"
#include "kyro/platform/process_launch.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "HostProcess.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using kyrointutil::KyroProductIdentity;
using kyrointutil::readPrivacyPolicyConsent;
using kyrointutil::writePrivacyPolicyConsent;

namespace {

const KyroProductIdentity kProduct{"Kyro Demo", "KyroDemo15"};

std::string settingsWith(const std::string& data)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<KyroSettings>\n"
           "    <Section Name=\"PrivacyPolicyConsent\">\n" +
           data + "    </Section>\n</KyroSettings>\n";
}

TEST(PrivacyConsent, AFirstAnswerMakesTheFolderAndTheFile)
{
    TempFolder folder;
    const TPath path = folder / "Norveldt\\Kyro\\KyroUserSettings.xml";
    bool consented = true;
    EXPECT_FALSE(readPrivacyPolicyConsent(kProduct, &consented, path));
    EXPECT_FALSE(consented);
    EXPECT_FALSE(fileExists(path));

    ASSERT_TRUE(writePrivacyPolicyConsent(kProduct, true, path));
    EXPECT_EQ(readFileBytes(path), settingsWith("        <Data Key=\"KyroDemo15\">1</Data>\n"));
    EXPECT_TRUE(readPrivacyPolicyConsent(kProduct, &consented, path));
    EXPECT_TRUE(consented);

    ASSERT_TRUE(writePrivacyPolicyConsent(kProduct, false, path));
    EXPECT_EQ(readFileBytes(path), settingsWith("        <Data Key=\"KyroDemo15\">0</Data>\n"));
    EXPECT_TRUE(readPrivacyPolicyConsent(kProduct, &consented, path));
    EXPECT_FALSE(consented);
}

TEST(PrivacyConsent, AnythingButZeroIsConsent)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    struct Row {
        const char* stored;
        bool found;
        bool consented;
    };
    const Row rows[] = {
        {" 1 ", true, true},  {"1", true, true},   {"0", true, false}, {"\t0\r\n", true, false},
        {"no", true, true},   {"00", true, true},  {"   ", false, false},
    };
    for (const Row& row : rows) {
        writeFileBytes(path, settingsWith(std::string("<Data Key=\"KyroDemo15\"><![CDATA[") +
                                          row.stored + "]]></Data>"));
        bool consented = !row.consented;
        EXPECT_EQ(readPrivacyPolicyConsent(kProduct, &consented, path), row.found) << row.stored;
        EXPECT_EQ(consented, row.consented) << row.stored;
    }
}

TEST(PrivacyConsent, AnAnswerUnderAnEarlierKeyIsFoundAndWrittenAgain)
{
    // Earlier files kept the answer under name ":" qualifier, or ":" qualifier; the first
    // form wins when both are there.
    struct Row {
        const char* stored;
        bool consented;
    };
    const Row rows[] = {
        {"        <Data Key=\"Kyro Demo:KyroDemo15\">1</Data>\n", true},
        {"        <Data Key=\":KyroDemo15\">1</Data>\n", true},
        {"        <Data Key=\":KyroDemo15\">1</Data>\n"
         "        <Data Key=\"Kyro Demo:KyroDemo15\">0</Data>\n", false},
    };
    for (const Row& row : rows) {
        TempFolder folder;
        const TPath path = folder / "KyroUserSettings.xml";
        const std::string before = std::string(row.stored) + "        <Data Key=\"Other\">0</Data>\n";
        writeFileBytes(path, settingsWith(before));
        bool consented = !row.consented;
        ASSERT_TRUE(readPrivacyPolicyConsent(kProduct, &consented, path)) << row.stored;
        EXPECT_EQ(consented, row.consented) << row.stored;
        EXPECT_EQ(readFileBytes(path),
                  settingsWith(before + "        <Data Key=\"KyroDemo15\">" +
                               (row.consented ? "1" : "0") + "</Data>\n"));

        // The new key wins over the earlier ones from then on.
        ASSERT_TRUE(writePrivacyPolicyConsent(kProduct, !row.consented, path));
        EXPECT_TRUE(readPrivacyPolicyConsent(kProduct, &consented, path));
        EXPECT_EQ(consented, !row.consented);
    }
    // Another product's earlier answer is not taken for this one.
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    writeFileBytes(path, settingsWith("        <Data Key=\"Other Product:KyroDemo15x\">1</Data>\n"));
    bool consented = true;
    EXPECT_FALSE(readPrivacyPolicyConsent(kProduct, &consented, path));
}

TEST(PrivacyConsent, AnUnreadableFileIsNoAnswerAndIsNotOverwritten)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    for (const char* content : {"<KyroSettings><Section Name=\"PrivacyPolicyConsent\">",
                                "\xEF\xBB\xBF\xC3", "<a><a><a><a><a><a><a><a><a><a><a><a><a><a>"
                                "<a><a><a><a><a><a><a><a><a><a><a><a><a><a><a><a><a><a><a>"}) {
        writeFileBytes(path, content);
        bool consented = true;
        EXPECT_FALSE(readPrivacyPolicyConsent(kProduct, &consented, path));
        EXPECT_FALSE(consented);
        EXPECT_FALSE(writePrivacyPolicyConsent(kProduct, true, path));
        EXPECT_EQ(readFileBytes(path), content);
    }
}

// `argument`: a folder, where the error log goes. Answers that cannot be kept, and one that
// is; prints whether each was.
KYRO_CHILD_ROLE(consentWritesThatFail)
{
    namespace platform = kyro::platform;
    const TPath folder(argument.c_str());
    KyroLogger::instance_m()->setLogFileName(folder / "errors.log");
    writeFileBytes(folder / "damaged.xml", "<KyroSettings>");
    writeFileBytes(folder / "file", "");
    using platform::FaultPoint;
    struct Row {
        const char* file;
        bool faulty;   // `point` fails from its first call on
        FaultPoint point;
    };
    const Row rows[] = {
        {"damaged.xml", false, FaultPoint::FileOpen},                 // does not parse
        {"file\\KyroUserSettings.xml", false, FaultPoint::FileOpen},  // its folder is a file
        {"locked.xml", true, FaultPoint::NamedMutexOpen},             // no lock to be had
        {"unplaced.xml", true, FaultPoint::FileReplace},              // the new file stays aside
        {"kept.xml", false, FaultPoint::FileOpen},
    };
    for (const Row& row : rows) {
        if (row.faulty)
            platform::armFault(row.point, 1, platform::FaultRepeat::FromThenOn);
        const bool written = writePrivacyPolicyConsent(kProduct, true, folder / row.file);
        platform::disarmFaults();
        std::printf("%d", written ? 1 : 0);
    }
    std::printf("\n");
    return 0;
}

TEST(PrivacyConsent, AnAnswerThatCannotBeKeptIsRecorded)
{
    TempFolder folder;
    std::string output;
    ASSERT_TRUE(runRole(("consentWritesThatFail:" + std::string(folder.path().utf8())).c_str(),
                        &output));
    EXPECT_EQ(output, "00001\n");
    EXPECT_EQ(libraryRecords(folder / "errors.log"),
              (std::vector<std::string>{"32@privacy_consent.cpp", "32@privacy_consent.cpp",
                                        "31@CKyroUtilSettingsFile.cpp", "32@privacy_consent.cpp",
                                        "32@privacy_consent.cpp"}));
}

// Consent written and read where the library's locations put the user settings.
KYRO_HOST_OPERATION(consentAtTheUserLocation)
{
    bool consented = false;
    std::printf("%s\n", kyrointutil::userSettingsPath().utf8());
    return writePrivacyPolicyConsent(kProduct, true) * 100 +
           readPrivacyPolicyConsent(kProduct, &consented) * 10 + consented;
}

TEST(PrivacyConsent, TheFileIsInTheUserSettingsLocation)
{
    TempFolder folder;
    const TPath expected = folder / "user\\KyroUserSettings.xml";
    EXPECT_EQ(runHost(folder, "consentAtTheUserLocation", "").results,
              std::string(expected.utf8()) + "\nconsentAtTheUserLocation=111\n");
    EXPECT_EQ(readFileBytes(expected), settingsWith("        <Data Key=\"KyroDemo15\">1</Data>\n"));
}

}  // namespace
