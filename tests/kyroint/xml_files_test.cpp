// The guarded XML reader (used by the string table, the settings store, the custom
// environment file and the error table), through the settings store: damaged and hostile
// files are refused, files within the bounds load, older encodings come out as UTF-8.
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/util/XmlFile.h"

#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string repeated(const std::string& piece, std::size_t times)
{
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

std::string attributes(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += " a" + std::to_string(i) + "=\"\"";
    return text;
}

}  // namespace

TEST(XmlFiles, DamageIsRefusedAndOlderEncodingsReadAsUtf8)
{
    const std::size_t depth = static_cast<std::size_t>(kyro::util::kXmlDepthLimit);
    const int most = kyro::util::kXmlAttributeLimit;
    const char* const kRefused = "<refused>";
    const struct Row {
        const char* name;
        std::string head;
        std::string inside;
        const char* expected;
        std::string attributes = "";
        const char* value = "a";
    } rows[] = {
        {"a mismatched end tag", "", "</b>", kRefused},
        {"over the size limit", "", "<!--" + std::string(kyro::util::kXmlFileSizeLimit, 'x') + "-->", kRefused},
        {"one level past the limit", "", repeated("<a>", depth) + repeated("</a>", depth), kRefused},
        // TinyXML ends a processing instruction at its first ">".
        {"200,000 levels behind a processing instruction", "", "<?pi " + repeated("<a>", 200000) + "?>", kRefused},
        {"one attribute past the limit", "", "<a" + attributes(most + 1) + "/>", kRefused},
        {"attributes past the limit for all elements together", "",
         repeated("<a" + attributes(250) + "/>", kyro::util::kXmlAttributeTotalLimit / 250 + 1), kRefused},
        {"nodes past the limit", "", repeated("<!---->x", kyro::util::kXmlNodeLimit / 2), kRefused},
        {"one element past the limit", "", repeated("<a/>", kyro::util::kXmlElementLimit), kRefused},
        {"an encoding nobody knows", "<?xml version=\"1.0\" encoding=\"x-no-such-thing\"?>", "", kRefused},
        // Markup inside comments, processing instructions, CDATA and attribute values is
        // not markup; the deepest level is the limit.
        {"markup where it does not count, nested up to the limit", "\xEF\xBB\xBF<!-- <a><b><c> -->\r\n",
         "<![CDATA[<a><b>]]><?pi <a>?>" + repeated("<a x=\"1\">", depth - 1) + repeated("</a>", depth - 1), "a",
         " note=\"<a><b>\"" + attributes(most - 1)},
        {"declared windows-1252, in single quotes", "<?xml version='1.0' encoding='windows-1252'?>", "",
         "\xE2\x82\xAC \xC3\xA9", "", "\x80 &#233;"},
        {"undeclared, in the system code page", "", "", "Gr\xC3\xB6\xC3\x9F" "e", "", "Gr\xF6\xDF" "e"},
        {"undeclared UTF-8 stays", "", "", "Gr\xC3\xB6\xC3\x9F" "e", "", "Gr\xC3\xB6\xC3\x9F" "e"},
    };
    TempFolder temp;
    const TPath path = temp / "KyroUserSettings.xml";
    for (const Row& row : rows) {
        writeFileBytes(path, row.head + "<KyroSettings" + row.attributes + "><Section Name=\"S\"><Data Key=\"K\">" +
                                 row.value + "</Data></Section>" + row.inside + "</KyroSettings>");
        CKyroUtilSettingsFile settings(false);
        TStr text;
        if (!settings.load(path) || !settings.getValue("S", "K", text))
            text = kRefused;
        EXPECT_EQ(std::string(text.utf8()), row.expected) << row.name;
    }
}
