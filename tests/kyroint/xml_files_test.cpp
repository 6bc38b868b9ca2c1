// Every XML loader of the library (custom environment file, error table, string table,
// settings store) against one table of files: damaged and hostile ones are refused (the
// loader answers its failure, and the process goes on), what is not a plain file is
// refused without waiting, files within the bounds load, and texts in older encodings come
// out as UTF-8. Large inputs are made here, not kept in the tree.
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
#include <vector>

namespace {

const char kFileName[] = "KyroIntRes.xml";
const char kRefused[] = "<refused>";

struct Loader {
    const char* name;
    const char* top;      // the top element
    const char* before;   // the content up to its text
    const char* after;    // and after it
    // Loads <folder>\KyroIntRes.xml: the text, "" when it loaded without it, or kRefused.
    std::function<std::string(const TPath& folder)> read;
};

std::string answer(bool loaded, const TStr& text)
{
    return loaded ? text.utf8() : kRefused;
}

const Loader kLoaders[] = {
    {"custom environment", "KYROCUSTOMENV", "<PLATFORM OS=\"Windows\"><KEY ID=\"A\"><STRING>",
     "</STRING></KEY></PLATFORM>",
     [](const TPath& folder) {
         ScopedVariable thin("NORVELDT_KYRO_THINCLIENT_ENV", nullptr);
         ScopedVariable custom("NORVELDT_KYRO_CUSTOM_ENV", (folder / kFileName).utf8());
         CKyroUtilCustomEnv environment;
         const int status = environment.load();
         EXPECT_TRUE(status == 0 || status == 3) << status;
         return answer(status == 0, environment.getValue("A"));
     }},
    {"error table", "ERRORTABLES", "<TABLE VENDORID=\"1\"><NAME>", "</NAME></TABLE>",
     [](const TPath& folder) {
         KyroErrorTable table(folder / kFileName);
         const bool loaded = table.Load();
         return answer(loaded, table.GetVendorName(1));
     }},
    {"string table", "KYROSTRINGTABLE", "<STRING ID=\"IDS_A\"><CAPTION>", "</CAPTION></STRING>",
     [](const TPath& folder) {
         CKyroIntResHandler handler;
         const bool loaded = handler.load(folder);
         return answer(loaded, handler.getString("IDS_A"));
     }},
    {"settings", "KyroSettings", "<Section Name=\"S\"><Data Key=\"K\">", "</Data></Section>",
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
    text.reserve(piece.size() * times);
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

// A file for one loader: `top` the top element, `content` what it needs, "a" its text.
using Shape = std::function<std::string(const std::string& top, const std::string& content)>;

std::string element(const std::string& top, const std::string& inner)
{
    return "<" + top + ">" + inner + "</" + top + ">";
}

struct Row {
    const char* name;
    Shape bytes;
    const char* text;   // what every loader reads; kRefused for none
};

void expectEveryLoader(const Row* rows, std::size_t count)
{
    TempFolder temp;
    int serial = 0;
    for (const Row* row = rows; row != rows + count; ++row) {
        for (const Loader& loader : kLoaders) {
            TPath folder = temp / std::to_string(++serial).c_str();
            folder.createDirectories();
            const std::string content = std::string(loader.before) + "a" + loader.after;
            writeFileBytes(folder / kFileName, row->bytes(loader.top, content));
            EXPECT_EQ(loader.read(folder), row->text) << loader.name << ": " << row->name;
        }
    }
}

const std::size_t kLimit = static_cast<std::size_t>(kyro::util::kXmlDepthLimit);
const std::size_t kHidden = 200000;

}  // namespace

TEST(XmlFiles, DamagedAndHostileFilesAreRefused)
{
    const Row rows[] = {
        {"empty", [](auto&, auto&) { return std::string(); }, kRefused},
        {"not XML", [](auto& top, auto&) { return top + " IDS_A a"; }, kRefused},
        {"unclosed", [](auto& top, auto& content) { return "<" + top + ">" + content; }, kRefused},
        {"a mismatched end tag", [](auto& top, auto& content) {
             return "<" + top + ">" + content + "</b></" + top + ">"; }, kRefused},
        {"ends inside a multi-byte character", [](auto& top, auto& content) {
             return "<" + top + ">" + content + "<b>Caf\xC3"; }, kRefused},
        {"ends inside an attribute", [](auto& top, auto& content) {
             return "<" + top + ">" + content + "<b c=\"IDS_"; }, kRefused},
        {"a NUL cuts the text short", [](auto& top, auto& content) {
             return element(top, content + std::string(1, '\0') + "<b>"); }, kRefused},
        {"UTF-16", [](auto& top, auto& content) {
             std::string utf16 = "\xFF\xFE";
             for (char c : element(top, content))
                 utf16 += std::string(1, c) + '\0';
             return utf16;
         }, kRefused},
        {"over the size limit", [](auto& top, auto& content) {
             return element(top, content + "<!--" + std::string(kyro::util::kXmlFileSizeLimit, 'x') +
                                     "-->"); }, kRefused},
        {"200,000 levels", [](auto& top, auto& content) {
             return "<" + top + ">" + content + repeated("<a>", kHidden); }, kRefused},
        {"one level past the limit", [](auto& top, auto& content) {
             return "<" + top + ">" + content + repeated("<a>", kLimit); }, kRefused},
        // TinyXML ends a processing instruction and a "<!" declaration at their first ">".
        {"200,000 levels behind a processing instruction", [](auto& top, auto& content) {
             return element(top, content + "<?pi " + repeated("<a>", kHidden) + "?>"); }, kRefused},
        {"200,000 levels in a DOCTYPE's internal subset", [](auto& top, auto& content) {
             return "<!DOCTYPE " + top + " [" + repeated("<a>", kHidden) + "]>" +
                    element(top, content); }, kRefused},
        {"200,000 levels in a bracketed declaration", [](auto& top, auto& content) {
             return element(top, content + "<!x [" + repeated("<a>", kHidden) + "]>"); }, kRefused},
        {"200,000 levels behind an XML declaration's end", [](auto& top, auto& content) {
             return "<?xml version=\"1.0\" ?" + repeated("<a>", kHidden) + "?>" +
                    element(top, content); }, kRefused},
        {"one level past the limit behind a processing instruction", [](auto& top, auto& content) {
             return element(top, content + "<?pi " + repeated("<a>", kLimit) +
                                     repeated("</a>", kLimit) + "?>"); }, kRefused},
        {"one level past the limit in a DOCTYPE", [](auto& top, auto& content) {
             // The declaration ends at the first ">", after "<y>".
             return "<!DOCTYPE x [<y>" + repeated("<a>", kLimit + 1) +
                    repeated("</a>", kLimit + 1) + "]>" + element(top, content); }, kRefused},
        {"100,000 attributes on one element", [](auto& top, auto& content) {
             return "<" + top + attributes(100000) + ">" + content + "</" + top + ">"; }, kRefused},
        {"one attribute past the limit", [](auto& top, auto& content) {
             return element(top, content + "<a" + attributes(kyro::util::kXmlAttributeLimit + 1) +
                                     "/>"); }, kRefused},
        {"attributes past the limit for all elements together", [](auto& top, auto& content) {
             return element(top, content + repeated("<a" + attributes(250) + "/>",
                                                    kyro::util::kXmlAttributeTotalLimit / 250 + 1));
         }, kRefused},
        {"nodes past the limit", [](auto& top, auto& content) {
             return element(top, content + repeated("<!---->x", kyro::util::kXmlNodeLimit / 2)); },
         kRefused},
        {"one element past the limit", [](auto& top, auto& content) {
             return element(top, content + repeated("<a/>", kyro::util::kXmlElementLimit)); },
         kRefused},
        {"an encoding nobody knows", [](auto& top, auto& content) {
             return "<?xml version=\"1.0\" encoding=\"x-no-such-thing\"?>" + element(top, content); },
         kRefused},
    };
    expectEveryLoader(rows, std::size(rows));
}

TEST(XmlFiles, FilesWithinTheBoundsLoad)
{
    const Row rows[] = {
        {"the plain file", [](auto& top, auto& content) { return element(top, content); }, "a"},
        // Markup inside comments, processing instructions, CDATA and attribute values is
        // not markup; the deepest level is the limit.
        {"markup where it does not count, nested up to the limit", [](auto& top, auto& content) {
             return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- <a><b><c> -->\n<?pi x?>\n<" +
                    top + " note=\"<a><b>\" other='>'>\n<![CDATA[<a><b>]]><?pi <a>?>" + content +
                    "<!-- " + repeated("<a>", 100) + " -->" + repeated("<a x=\"1\">", kLimit - 1) +
                    "text &#x3C;b&gt;" + repeated("</a>", kLimit - 1) + "\r\n</" + top + ">\r\n";
         }, "a"},
        {"a byte-order mark and line ends of every kind", [](auto& top, auto& content) {
             return "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n" + element(top, "\r" + content + "\n"); },
         "a"},
        {"as many attributes as allowed", [](auto& top, auto& content) {
             return "<" + top + attributes(kyro::util::kXmlAttributeLimit) + ">" + content + "</" +
                    top + ">"; }, "a"},
        {"as many attributes in all as allowed", [](auto& top, auto& content) {
             const int each = kyro::util::kXmlAttributeLimit;
             return element(top, content + repeated("<a" + attributes(each) + "/>",
                                                    kyro::util::kXmlAttributeTotalLimit / each - 1));
         }, "a"},
        {"as many nodes as allowed", [](auto& top, auto& content) {
             return element(top, content + repeated("<!---->x", kyro::util::kXmlNodeLimit / 2 - 8)); },
         "a"},
        {"as many elements as allowed", [](auto& top, auto& content) {
             return element(top, content + repeated("<a/>", kyro::util::kXmlElementLimit - 8)); },
         "a"},
    };
    expectEveryLoader(rows, std::size(rows));
}

TEST(XmlFiles, OlderEncodingsAreReadAsUtf8)
{
    // `declaration`, then the file with `text` in the place of "a".
    const auto legacy = [](const char* declaration, const char* text) {
        return [=](const std::string& top, const std::string& content) {
            std::string inner = content;
            inner.replace(inner.find(">a<") + 1, 1, text);
            return declaration + element(top, inner);
        };
    };
    const Row rows[] = {
        {"declared ISO-8859-1", legacy("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n",
                                       "Gr\xF6\xDF" "e"), "Gr\xC3\xB6\xC3\x9F" "e"},
        {"declared in single quotes, any case",
         legacy("<?xml version='1.0' encoding='iso-8859-1'?>", "\xE9t\xE9"), "\xC3\xA9t\xC3\xA9"},
        {"declared windows-1252", legacy("<?xml version=\"1.0\" encoding=\"windows-1252\"?>", "\x80 5"),
         "\xE2\x82\xAC 5"},
        {"a character reference in a legacy file",
         legacy("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "&#233;\xE9"), "\xC3\xA9\xC3\xA9"},
        {"undeclared, in the system code page", legacy("", "Gr\xF6\xDF" "e"), "Gr\xC3\xB6\xC3\x9F" "e"},
        {"undeclared UTF-8 stays", legacy("", "Gr\xC3\xB6\xC3\x9F" "e &#233;"),
         "Gr\xC3\xB6\xC3\x9F" "e \xC3\xA9"},
        {"declared UTF-8 stays", legacy("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "\xE2\x82\xAC"),
         "\xE2\x82\xAC"},
    };
    expectEveryLoader(rows, std::size(rows));
}

namespace {

// What TinyXML built (kept also when it stopped with an error), counted as the walk does.
void countBuilt(const TiXmlNode* node, int depth, kyro::util::XmlCounts* counts)
{
    for (const TiXmlNode* child = node->FirstChild(); child != nullptr;
         child = child->NextSibling()) {
        const TiXmlElement* element = child->ToElement();
        if (element == nullptr)
            continue;
        ++counts->elements;
        if (depth > counts->deepest)
            counts->deepest = depth;
        int attributes = 0;
        for (const TiXmlAttribute* a = element->FirstAttribute(); a != nullptr; a = a->Next())
            ++attributes;
        if (attributes > counts->mostAttributes)
            counts->mostAttributes = attributes;
        countBuilt(element, depth + 1, counts);
    }
}

}  // namespace

// The walk counts what TinyXML builds, no less; more only past a point where TinyXML stops
// with an error (a repeated attribute).
TEST(HostileXml, CountsFollowTheParser)
{
    const TiXmlEncoding unknown = TIXML_ENCODING_UNKNOWN;
    const TiXmlEncoding utf8 = TIXML_ENCODING_UTF8;
    struct Row {
        const char* text;
        TiXmlEncoding encoding;
        int deepest;
        std::size_t elements;
        int mostAttributes;
    } const rows[] = {
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
    for (const Row& row : rows) {
        const std::string text(row.text);
        const kyro::util::XmlCounts counts =
            kyro::util::countXml(text.data(), text.size(), row.encoding);
        EXPECT_EQ(counts.deepest, row.deepest) << row.text;
        EXPECT_EQ(counts.elements, row.elements) << row.text;
        EXPECT_EQ(counts.mostAttributes, row.mostAttributes) << row.text;

        TiXmlDocument document;
        document.Parse(row.text, nullptr, row.encoding);
        kyro::util::XmlCounts built;
        countBuilt(&document, 1, &built);
        EXPECT_GE(counts.deepest, built.deepest) << row.text;
        EXPECT_GE(counts.elements, built.elements) << row.text;
        EXPECT_GE(counts.mostAttributes, built.mostAttributes) << row.text;
    }
}
