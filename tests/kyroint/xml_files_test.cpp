// The host's XML loaders (string table, settings store; the custom environment file and the
// error table read through the same guarded reader) against one table of files: damaged
// and hostile ones are refused, files within the bounds load, and texts in older encodings
// come out as UTF-8.
#include "kyro/int/CKyroIntResHandler.h"
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/util/XmlFile.h"

#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const char kFileName[] = "KyroIntRes.xml";
const char kRefused[] = "<refused>";

// Each loader: its top element, its content around the text "a", and its read of
// <folder>\KyroIntRes.xml: the text, or kRefused.
const struct Loader {
    const char* top;
    const char* before;
    const char* after;
    std::function<void(const TPath& folder, TStr* text)> read;
} kLoaders[] = {
    {"KYROSTRINGTABLE", "<STRING ID=\"IDS_A\"><CAPTION>", "</CAPTION></STRING>",
     [](const TPath& folder, TStr* text) {
         CKyroIntResHandler handler;
         *text = handler.load(folder) ? handler.getString("IDS_A") : TStr(kRefused);
     }},
    {"KyroSettings", "<Section Name=\"S\"><Data Key=\"K\">", "</Data></Section>",
     [](const TPath& folder, TStr* text) {
         CKyroUtilSettingsFile settings(false);
         if (!settings.load(folder / kFileName) || !settings.getValue("S", "K", *text))
             *text = kRefused;
     }},
};

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

TEST(XmlFiles, EveryLoaderRefusesDamageAndReadsOlderEncodingsAsUtf8)
{
    const std::size_t depth = static_cast<std::size_t>(kyro::util::kXmlDepthLimit);
    const int most = kyro::util::kXmlAttributeLimit;
    const char* const latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n";
    // head + "<top" + attributes + ">" + content with "a" replaced by `value` + inside + "</top>".
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
        {"declared ISO-8859-1", latin1, "", "Gr\xC3\xB6\xC3\x9F" "e", "", "Gr\xF6\xDF" "e"},
        {"declared windows-1252, in single quotes", "<?xml version='1.0' encoding='windows-1252'?>", "",
         "\xE2\x82\xAC \xC3\xA9", "", "\x80 &#233;"},
        {"undeclared, in the system code page", "", "", "Gr\xC3\xB6\xC3\x9F" "e", "", "Gr\xF6\xDF" "e"},
        {"undeclared UTF-8 stays", "", "", "Gr\xC3\xB6\xC3\x9F" "e", "", "Gr\xC3\xB6\xC3\x9F" "e"},
    };
    TempFolder temp;
    int serial = 0;
    for (const Row& row : rows) {
        for (const Loader& loader : kLoaders) {
            TPath folder = temp / std::to_string(++serial).c_str();
            folder.createDirectories();
            writeFileBytes(folder / kFileName, row.head + "<" + loader.top + row.attributes + ">" + loader.before +
                                                   row.value + loader.after + row.inside + "</" + loader.top + ">");
            TStr text;
            loader.read(folder, &text);
            EXPECT_EQ(std::string(text.utf8()), row.expected) << loader.top << ": " << row.name;
        }
    }
}
