// Files written in an older encoding than UTF-8: every loader hands their texts on as UTF-8,
// whether the declaration names the encoding or (without a declaration) the text is in the
// system code page; a file in an encoding nobody knows is refused rather than read wrong.
#include "kyro/diagnostics/KyroErrorTable.h"
#include "kyro/int/CKyroIntResHandler.h"
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/util/CKyroUtilCustomEnv.h"

#include "FileBytes.h"
#include "ScopedVariable.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const char kFileName[] = "KyroIntRes.xml";

struct Reader {
    const char* name;
    const char* top;
    const char* before;   // the content up to the text
    const char* after;    // and after it
    // The text as the loader gives it; empty when the file did not load.
    std::function<TStr(const TPath& folder)> read;
};

const Reader kReaders[] = {
    {"custom environment", "KYROCUSTOMENV", "<PLATFORM OS=\"Windows\"><KEY ID=\"A\"><STRING>",
     "</STRING></KEY></PLATFORM>",
     [](const TPath& folder) {
         ScopedVariable thin("NORVELDT_KYRO_THINCLIENT_ENV", nullptr);
         ScopedVariable custom("NORVELDT_KYRO_CUSTOM_ENV", (folder / kFileName).utf8());
         CKyroUtilCustomEnv environment;
         return environment.load() == 0 ? environment.getValue("A") : TStr();
     }},
    {"error table", "ERRORTABLES", "<TABLE VENDORID=\"1\"><NAME>", "</NAME></TABLE>",
     [](const TPath& folder) {
         KyroErrorTable table(folder / kFileName);
         return table.Load() ? table.GetVendorName(1) : TStr();
     }},
    {"string table", "KYROSTRINGTABLE", "<STRING ID=\"IDS_A\"><CAPTION>", "</CAPTION></STRING>",
     [](const TPath& folder) {
         CKyroIntResHandler handler;
         return handler.load(folder) ? handler.getString("IDS_A") : TStr();
     }},
    {"settings", "KyroSettings", "<Section Name=\"S\"><Data Key=\"K\">", "</Data></Section>",
     [](const TPath& folder) {
         CKyroUtilSettingsFile settings(false);
         TStr value;
         return settings.load(folder / kFileName) && settings.getValue("S", "K", value) ? value
                                                                                        : TStr();
     }},
};

std::string file(const Reader& reader, const std::string& declaration, const std::string& text)
{
    return declaration + "<" + reader.top + ">" + reader.before + text + reader.after + "</" +
           reader.top + ">";
}

}  // namespace

TEST(LegacyEncodings, EveryLoaderGivesTheTextsAsUtf8)
{
    const struct {
        const char* name;
        const char* declaration;
        const char* bytes;
        const char* utf8;   // null: the file is refused
    } cases[] = {
        {"declared ISO-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n",
         "Gr\xF6\xDF" "e", "Gr\xC3\xB6\xC3\x9F" "e"},
        {"declared in single quotes, any case", "<?xml version='1.0' encoding='iso-8859-1'?>",
         "\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},
        {"declared windows-1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?>",
         "\x80 5", "\xE2\x82\xAC 5"},
        {"a character reference in a legacy file",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "&#233;\xE9", "\xC3\xA9\xC3\xA9"},
        {"undeclared, in the system code page", "", "Gr\xF6\xDF" "e", "Gr\xC3\xB6\xC3\x9F" "e"},
        {"undeclared UTF-8 stays", "", "Gr\xC3\xB6\xC3\x9F" "e &#233;",
         "Gr\xC3\xB6\xC3\x9F" "e \xC3\xA9"},
        {"declared UTF-8 stays", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "\xE2\x82\xAC",
         "\xE2\x82\xAC"},
        {"an encoding nobody knows", "<?xml version=\"1.0\" encoding=\"x-no-such-thing\"?>", "a",
         nullptr},
    };
    TempFolder temp;
    for (const Reader& reader : kReaders) {
        for (const auto& row : cases) {
            SCOPED_TRACE(std::string(reader.name) + ": " + row.name);
            writeFileBytes(temp.path() / kFileName, file(reader, row.declaration, row.bytes));
            const std::string expected = row.utf8 != nullptr ? row.utf8 : "";
            EXPECT_EQ(std::string(reader.read(temp.path()).utf8()), expected);
        }
    }
}

TEST(LegacyEncodings, ASettingsFileReadInLatin1IsSavedAsUtf8)
{
    TempFolder temp;
    const TPath path = temp.path() / kFileName;
    writeFileBytes(path, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
                         "<KyroSettings><Section Name=\"S\"><Data Key=\"K\">Gr\xF6\xDF" "e</Data>"
                         "</Section></KyroSettings>");
    {
        CKyroUtilSettingsFile settings(false);
        ASSERT_TRUE(settings.load(path));
        settings.setValue("S", "L", "\xC3\xA9");
        ASSERT_TRUE(settings.save(path));
    }
    const std::string saved = readFileBytes(path);
    EXPECT_NE(saved.find("encoding=\"UTF-8\""), std::string::npos) << saved;
    EXPECT_EQ(saved.find("ISO-8859-1"), std::string::npos) << saved;
    EXPECT_NE(saved.find(">Gr\xC3\xB6\xC3\x9F" "e<"), std::string::npos) << saved;
    CKyroUtilSettingsFile again(false);
    TStr value;
    ASSERT_TRUE(again.load(path));
    EXPECT_TRUE(again.getValue("S", "K", value));
    EXPECT_EQ(value, TStr("Gr\xC3\xB6\xC3\x9F" "e"));
}
