// Privacy-policy consent in the user's settings file: what is an answer, the file a first
// answer makes, and the move from the older key forms.
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/int/privacy_consent.h"
#include "kyro/platform/fault_injection.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "HostProcess.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using kyrointutil::readPrivacyPolicyConsent;
using kyrointutil::writePrivacyPolicyConsent;

const kyrointutil::KyroProductIdentity kProduct{"Kyro Demo", "KyroDemo15"};

std::string settingsWith(const std::string& data)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\n<KyroSettings>\n"
           "    <Section Name=\"PrivacyPolicyConsent\">\n" + data + "    </Section>\n</KyroSettings>\n";
}

std::string answer(const char* key, const char* value)
{
    return std::string("        <Data Key=\"") + key + "\">" + value + "</Data>\n";
}

TEST(PrivacyConsent, AnythingButZeroIsConsent)
{
    TempFolder folder;
    const TPath path = folder / "KyroUserSettings.xml";
    const struct {
        const char* stored;
        bool found;
        bool consented;
    } rows[] = {
        {" 1 ", true, true}, {"1", true, true}, {"0", true, false}, {"\t0\r\n", true, false},
        {"no", true, true},  {"00", true, true}, {"   ", false, false},
    };
    for (const auto& row : rows) {
        writeFileBytes(path, settingsWith(std::string("<Data Key=\"KyroDemo15\"><![CDATA[") + row.stored + "]]></Data>"));
        bool consented = !row.consented;
        EXPECT_EQ(readPrivacyPolicyConsent(kProduct, &consented, path), row.found) << row.stored;
        EXPECT_EQ(consented, row.consented) << row.stored;
    }
}

TEST(PrivacyConsent, AnAnswerUnderAnEarlierKeyIsFoundAndWrittenAgain)
{
    // Earlier files kept the answer under name ":" qualifier, or ":" qualifier; the first
    // form wins when both are there. Another product's is not taken for this one's.
    const struct {
        std::string stored;
        int consented;   // -1: not found
    } rows[] = {
        {answer("Kyro Demo:KyroDemo15", "1"), 1},
        {answer(":KyroDemo15", "1"), 1},
        {answer(":KyroDemo15", "1") + answer("Kyro Demo:KyroDemo15", "0"), 0},
        {answer("Other Product:KyroDemo15x", "1"), -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored);
        TempFolder folder;
        const TPath path = folder / "KyroUserSettings.xml";
        const std::string before = row.stored + answer("Other", "0");
        writeFileBytes(path, settingsWith(before));
        bool consented = row.consented != 1;
        ASSERT_EQ(readPrivacyPolicyConsent(kProduct, &consented, path), row.consented >= 0);
        if (row.consented < 0)
            continue;
        EXPECT_EQ(consented, row.consented == 1);
        EXPECT_EQ(readFileBytes(path), settingsWith(before + answer("KyroDemo15", row.consented ? "1" : "0")));
    }
}

// Answers that cannot be kept, and one that is, in the folder `argument`: prints which were.
KYRO_CHILD_ROLE(consentWritesThatFail)
{
    const TPath folder(argument.c_str());
    KyroLogger::instance_m()->setLogFileName(folder / "errors.log");
    writeFileBytes(folder / "damaged.xml", "<KyroSettings>");
    std::printf("%d", writePrivacyPolicyConsent(kProduct, true, folder / "damaged.xml") ? 1 : 0);
    kyro::platform::armFault(kyro::platform::FaultPoint::NamedMutexOpen, 1, kyro::platform::FaultRepeat::FromThenOn);
    std::printf("%d", writePrivacyPolicyConsent(kProduct, true, folder / "locked.xml") ? 1 : 0);
    kyro::platform::disarmFaults();
    std::printf("%d\n", writePrivacyPolicyConsent(kProduct, true, folder / "kept.xml") ? 1 : 0);
    return 0;
}

// An unreadable file is no answer and is not overwritten.
TEST(PrivacyConsent, AnAnswerThatCannotBeKeptIsRecorded)
{
    TempFolder folder;
    std::string output;
    ASSERT_TRUE(runRole(("consentWritesThatFail:" + std::string(folder.path().utf8())).c_str(), &output));
    EXPECT_EQ(output, "001\n");
    EXPECT_EQ(readFileBytes(folder / "damaged.xml"), "<KyroSettings>");
    EXPECT_EQ(libraryRecords(folder / "errors.log"),
              (std::vector<std::string>{"32@privacy_consent.cpp", "31@CKyroUtilSettingsFile.cpp", "32@privacy_consent.cpp"}));
}

// The first answer makes the folder and the file where the user settings belong.
KYRO_HOST_OPERATION(consentAtTheUserLocation)
{
    std::printf("%s\n", kyrointutil::userSettingsPath().utf8());
    return writePrivacyPolicyConsent(kProduct, true);
}

TEST(PrivacyConsent, TheFileIsInTheUserSettingsLocation)
{
    TempFolder folder;
    const TPath expected = folder / "user\\KyroUserSettings.xml";
    EXPECT_EQ(runHost(folder, "consentAtTheUserLocation", "").results,
              std::string(expected.utf8()) + "\nconsentAtTheUserLocation=1\n");
    EXPECT_EQ(readFileBytes(expected), settingsWith(answer("KyroDemo15", "1")));
}

}  // namespace
