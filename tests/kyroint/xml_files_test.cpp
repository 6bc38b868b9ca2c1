// Every XML loader of the library (custom environment file, error table, string table,
// settings store) against one table of files: damaged and hostile ones are refused (the
// loader answers its failure, and the process goes on), files within the bounds load, and
// texts in older encodings come out as UTF-8. Large inputs are made here.
#include "kyro/diagnostics/KyroErrorTable.h"
#include "kyro/int/CKyroIntResHandler.h"
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/util/CKyroUtilCustomEnv.h"
#include "kyro/util/XmlFile.h"

#include "FileBytes.h"
#include "ScopedVariable.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const char kFileName[] = "KyroIntRes.xml";
const char kRefused[] = "<refused>";

std::string answer(bool loaded, const TStr& text)
{
    return loaded ? text.utf8() : kRefused;
}

// Each loader: its top element, its content around the text "a", and its read of
// <folder>\KyroIntRes.xml (the text, "" when it loaded without it, or kRefused).
const struct Loader {
    const char* top;
    const char* before;
    const char* after;
    std::function<std::string(const TPath& folder)> read;
} kLoaders[] = {
    {"KYROCUSTOMENV", "<PLATFORM OS=\"Windows\"><KEY ID=\"A\"><STRING>", "</STRING></KEY></PLATFORM>",
     [](const TPath& folder) {
         ScopedVariable thin("NORVELDT_KYRO_THINCLIENT_ENV", nullptr);
         ScopedVariable custom("NORVELDT_KYRO_CUSTOM_ENV", (folder / kFileName).utf8());
         CKyroUtilCustomEnv environment;
         const int status = environment.load();
         EXPECT_TRUE(status == 0 || status == 3) << status;
         return answer(status == 0, environment.getValue("A"));
     }},
    {"ERRORTABLES", "<TABLE VENDORID=\"1\"><NAME>", "</NAME></TABLE>",
     [](const TPath& folder) {
         KyroErrorTable table(folder / kFileName);
         const bool loaded = table.Load();
         return answer(loaded, table.GetVendorName(1));
     }},
    {"KYROSTRINGTABLE", "<STRING ID=\"IDS_A\"><CAPTION>", "</CAPTION></STRING>",
     [](const TPath& folder) {
         CKyroIntResHandler handler;
         const bool loaded = handler.load(folder);
         return answer(loaded, handler.getString("IDS_A"));
     }},
    {"KyroSettings", "<Section Name=\"S\"><Data Key=\"K\">", "</Data></Section>",
     [](const TPath& folder) {
         CKyroUtilSettingsFile settings(false);
         TStr value;
         const bool loaded = settings.load(folder / kFileName);
         settings.getValue("S", "K", value);
         return answer(loaded, value);
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

// A file for each loader: head + "<top" + attributes + ">" + its content + inside +
// "</top>" (left out when `open`); the text "a" of the content replaced by `value`.
struct Row {
    const char* name;
    std::string head;
    std::string inside;
    const char* expected;   // what every loader reads
    bool open = false;
    std::string attributes = "";
    const char* value = "a";
};

void expectEveryLoader(const Row* rows, std::size_t count)
{
    TempFolder temp;
    int serial = 0;
    for (const Row* row = rows; row != rows + count; ++row) {
        for (const Loader& loader : kLoaders) {
            TPath folder = temp / std::to_string(++serial).c_str();
            folder.createDirectories();
            std::string bytes = row->head + "<" + loader.top + row->attributes + ">" + loader.before + row->value +
                                loader.after + row->inside + (row->open ? "" : std::string("</") + loader.top + ">");
            writeFileBytes(folder / kFileName, bytes);
            EXPECT_EQ(loader.read(folder), row->expected) << loader.top << ": " << row->name;
        }
    }
}

const std::size_t kLimit = static_cast<std::size_t>(kyro::util::kXmlDepthLimit);
const int kAttributes = kyro::util::kXmlAttributeLimit;
const std::string kHidden = repeated("<a>", 200000);

}  // namespace

TEST(XmlFiles, DamagedAndHostileFilesAreRefused)
{
    const Row rows[] = {
        {"unclosed", "", "", kRefused, true},
        {"a mismatched end tag", "", "</b>", kRefused},
        {"ends inside a multi-byte character", "", "<b>Caf\xC3", kRefused, true},
        {"ends inside an attribute", "", "<b c=\"IDS_", kRefused, true},
        {"a NUL cuts the text short", "", std::string(1, '\0') + "<b>", kRefused},
        {"over the size limit", "", "<!--" + std::string(kyro::util::kXmlFileSizeLimit, 'x') + "-->", kRefused},
        {"200,000 levels", "", kHidden, kRefused, true},
        {"one level past the limit", "", repeated("<a>", kLimit), kRefused, true},
        // TinyXML ends a processing instruction and a "<!" declaration at their first ">".
        {"200,000 levels behind a processing instruction", "", "<?pi " + kHidden + "?>", kRefused},
        {"200,000 levels in a DOCTYPE", "<!DOCTYPE x [" + kHidden + "]>", "", kRefused},
        {"200,000 levels in a bracketed declaration", "", "<!x [" + kHidden + "]>", kRefused},
        {"200,000 levels behind an XML declaration's end", "<?xml version=\"1.0\" ?" + kHidden + "?>", "", kRefused},
        {"one level past the limit behind a processing instruction", "",
         "<?pi " + repeated("<a>", kLimit) + repeated("</a>", kLimit) + "?>", kRefused},
        {"one level past the limit in a DOCTYPE",   // which ends at the first ">", after "<y>"
         "<!DOCTYPE x [<y>" + repeated("<a>", kLimit + 1) + repeated("</a>", kLimit + 1) + "]>", "", kRefused},
        {"100,000 attributes on one element", "", "", kRefused, false, attributes(100000)},
        {"one attribute past the limit", "", "<a" + attributes(kAttributes + 1) + "/>", kRefused},
        {"attributes past the limit for all elements together", "",
         repeated("<a" + attributes(250) + "/>", kyro::util::kXmlAttributeTotalLimit / 250 + 1), kRefused},
        {"nodes past the limit", "", repeated("<!---->x", kyro::util::kXmlNodeLimit / 2), kRefused},
        {"one element past the limit", "", repeated("<a/>", kyro::util::kXmlElementLimit), kRefused},
        {"an encoding nobody knows", "<?xml version=\"1.0\" encoding=\"x-no-such-thing\"?>", "", kRefused},
    };
    expectEveryLoader(rows, std::size(rows));

    // Files that are no XML at all, or not in an encoding the loaders read.
    TempFolder temp;
    for (const Loader& loader : kLoaders) {
        std::string utf16 = "\xFF\xFE";
        for (char c : "<" + std::string(loader.top) + ">" + loader.before + "a" + loader.after + "</" + loader.top + ">")
            utf16 += std::string(1, c) + '\0';
        for (const std::string& bytes : {std::string(), std::string(loader.top) + " IDS_A a", utf16}) {
            writeFileBytes(temp / kFileName, bytes);
            EXPECT_EQ(loader.read(temp.path()), kRefused) << loader.top << ": " << bytes.size() << " bytes";
        }
    }
}

TEST(XmlFiles, FilesWithinTheBoundsLoad)
{
    const Row rows[] = {
        {"the plain file", "", "", "a"},
        // Markup inside comments, processing instructions, CDATA and attribute values is
        // not markup; the deepest level is the limit.
        {"markup where it does not count, nested up to the limit",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- <a><b><c> -->\n<?pi x?>\n",
         "<![CDATA[<a><b>]]><?pi <a>?><!-- " + repeated("<a>", 100) + " -->" + repeated("<a x=\"1\">", kLimit - 1) +
             "text &#x3C;b&gt;" + repeated("</a>", kLimit - 1) + "\r\n",
         "a", false, " note=\"<a><b>\" other='>'"},
        {"a byte-order mark and line ends of every kind", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n", "\r<!---->\n", "a"},
        {"as many attributes as allowed", "", "", "a", false, attributes(kAttributes)},
        {"as many attributes in all as allowed", "",
         repeated("<a" + attributes(kAttributes) + "/>", kyro::util::kXmlAttributeTotalLimit / kAttributes - 1), "a"},
        {"as many nodes as allowed", "", repeated("<!---->x", kyro::util::kXmlNodeLimit / 2 - 8), "a"},
        {"as many elements as allowed", "", repeated("<a/>", kyro::util::kXmlElementLimit - 8), "a"},
    };
    expectEveryLoader(rows, std::size(rows));
}

TEST(XmlFiles, OlderEncodingsAreReadAsUtf8)
{
    const char* const latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n";
    const Row rows[] = {
        {"declared ISO-8859-1", latin1, "", "Gr\xC3\xB6\xC3\x9F" "e", false, "", "Gr\xF6\xDF" "e"},
        {"declared in single quotes, any case", "<?xml version='1.0' encoding='iso-8859-1'?>", "",
         "\xC3\xA9t\xC3\xA9", false, "", "\xE9t\xE9"},
        {"declared windows-1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?>", "", "\xE2\x82\xAC 5", false, "",
         "\x80 5"},
        {"a character reference in a legacy file", latin1, "", "\xC3\xA9\xC3\xA9", false, "", "&#233;\xE9"},
        {"undeclared, in the system code page", "", "", "Gr\xC3\xB6\xC3\x9F" "e", false, "", "Gr\xF6\xDF" "e"},
        {"undeclared UTF-8 stays", "", "", "Gr\xC3\xB6\xC3\x9F" "e \xC3\xA9", false, "", "Gr\xC3\xB6\xC3\x9F" "e &#233;"},
        {"declared UTF-8 stays", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "", "\xE2\x82\xAC", false, "",
         "\xE2\x82\xAC"},
    };
    expectEveryLoader(rows, std::size(rows));
}

// The walk that guards the parser counts what TinyXML builds, no less (more past its errors).
TEST(HostileXml, CountsFollowTheParser)
{
    const TiXmlEncoding unknown = TIXML_ENCODING_UNKNOWN, utf8 = TIXML_ENCODING_UTF8;
    const struct {
        const char* text;
        TiXmlEncoding encoding;
        int deepest;
        std::size_t elements;
        int mostAttributes;
    } rows[] = {
        {"<a><b/><!-- <c> --><![CDATA[<d>]]><?p <f>?><e x='>'></e></a>", unknown, 2, 3, 1},
        {"<a><?pi <b><c/></b>?></a>", unknown, 2, 2, 0},
        {"<!DOCTYPE a [<!ELEMENT a ANY>]><a/>", unknown, 0, 0, 0},
        {"<!DOCTYPE a [<b><c></c></b>]>", unknown, 1, 1, 0},
        {"<?xml version=\"1.0\" ?<a><b><c/></b>?>", unknown, 2, 2, 0},
        {"<a x=\"&#x\"><b>x1;\"><c/></a>", unknown, 2, 2, 1},
        {"<a>&#x<b><c>x1;<d/></a>", unknown, 2, 2, 0},
        {"<a>&#<b><c>#1;<d/></a>", unknown, 2, 2, 0},
        {"<a><b>&amp;<c/></b></a>", unknown, 3, 3, 0},
        {"<a x=\"\xE0\"><b/>\"/>", utf8, 1, 1, 1},
        {"<a x=\"\xE0\"><b/></a>", unknown, 2, 2, 1},
        {"<a x=\"\xC3\xA9\"><b/></a>", utf8, 2, 2, 1},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a x=\"\xE0\"><b/></a>", unknown, 2, 2, 1},
        {"<?xml version='1.0' encoding='UTF-8'?><a x=\"\xE0\"><b/>\"/>", unknown, 1, 1, 1},
        {"<?xml version='1.0' encoding='UTF&#45;8'?><a x=\"\xE0\"><b/>\"/>", unknown, 1, 1, 1},
        {"\xEF\xBB\xBF<a x=\"\xE0\"><b/>\"/>", unknown, 1, 1, 1},
        {"<a/><b><c/></b>", unknown, 2, 3, 0},
        {"<a/>text<b><c/></b>", unknown, 1, 1, 0},
        {"<a><b></c><d><e/></d></b></a>", unknown, 2, 2, 0},
        {"<a>x<", unknown, 1, 1, 0},
        {"<a x='1' x='2'><b/></a>", unknown, 2, 2, 2},
    };
    for (const auto& row : rows) {
        const std::string text(row.text);
        const kyro::util::XmlCounts counts = kyro::util::countXml(text.data(), text.size(), row.encoding);
        EXPECT_EQ(counts.deepest, row.deepest) << row.text;
        EXPECT_EQ(counts.elements, row.elements) << row.text;
        EXPECT_EQ(counts.mostAttributes, row.mostAttributes) << row.text;
    }
}
