// Hostile XML files against every loader of the library: the custom environment file, the
// error table, the resource string table and the settings store. Each shape is refused
// (the loader answers its failure) and the process goes on; files of the same forms within
// the bounds still load. Large inputs are made here, not kept in the tree.
#include "kyro/diagnostics/KyroErrorTable.h"
#include "kyro/int/CKyroIntResHandler.h"
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/util/CKyroUtilCustomEnv.h"
#include "kyro/util/XmlFile.h"

#include "FileBytes.h"
#include "NonFileSupport.h"
#include "ScopedVariable.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// Every loader reads a file of this name in a folder of its own.
const char kFileName[] = "KyroIntRes.xml";

struct Loader {
    const char* name;
    const char* top;       // the top element
    const char* content;   // what makes a file usable to this loader
    // Loads the file in `folder`: the loader's answer, and whether the content came through.
    std::function<bool(const TPath& folder, bool* content)> load;

    bool loads(const TPath& folder) const
    {
        bool content = false;
        return load(folder, &content) && content;
    }
    bool answers(const TPath& folder) const
    {
        bool content = false;
        return load(folder, &content);
    }
};

const std::vector<Loader>& loaders()
{
    static const std::vector<Loader> all = {
        {"custom environment", "KYROCUSTOMENV",
         "<PLATFORM OS=\"Windows\"><KEY ID=\"A\"><STRING>a</STRING></KEY></PLATFORM>",
         [](const TPath& folder, bool* content) {
             ScopedVariable thin("NORVELDT_KYRO_THINCLIENT_ENV", nullptr);
             ScopedVariable custom("NORVELDT_KYRO_CUSTOM_ENV", (folder / kFileName).utf8());
             CKyroUtilCustomEnv environment;
             const int status = environment.load();
             EXPECT_TRUE(status == 0 || status == 3) << status;
             *content = environment.getValue("A") == "a";
             return status == 0;
         }},
        {"error table", "ERRORTABLES",
         "<TABLE VENDORID=\"1\"><NAME>a</NAME></TABLE>",
         [](const TPath& folder, bool* content) {
             KyroErrorTable table(folder / kFileName);
             const bool loaded = table.Load();
             *content = table.GetVendorName(1) == "a";
             return loaded;
         }},
        {"string table", "KYROSTRINGTABLE",
         "<STRING ID=\"IDS_A\"><CAPTION>a</CAPTION></STRING>",
         [](const TPath& folder, bool* content) {
             CKyroIntResHandler handler;
             const bool loaded = handler.load(folder);
             *content = handler.getString("IDS_A") == "a";
             return loaded;
         }},
        {"settings", "KyroSettings",
         "<Section Name=\"S\"><Data Key=\"K\">a</Data></Section>",
         [](const TPath& folder, bool* content) {
             CKyroUtilSettingsFile settings(false);
             TStr value;
             const bool loaded = settings.load(folder / kFileName);
             *content = settings.getValue("S", "K", value) && value == "a";
             return loaded;
         }},
    };
    return all;
}

std::string repeated(const std::string& piece, int times)
{
    std::string text;
    text.reserve(piece.size() * static_cast<std::size_t>(times));
    for (int i = 0; i < times; ++i)
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

struct Shape {
    const char* name;
    std::function<std::string(const std::string& top, const std::string& content)> bytes;
};

std::string element(const std::string& top, const std::string& inner)
{
    return "<" + top + ">" + inner + "</" + top + ">";
}

const int kHidden = 200000;

}  // namespace

TEST(HostileXml, EveryLoaderRefusesEveryShape)
{
    const int limit = kyro::util::kXmlDepthLimit;
    const Shape shapes[] = {
        {"200,000 levels", [](auto& top, auto& content) {
             return "<" + top + ">" + content + repeated("<a>", kHidden);
         }},
        // TinyXML ends a processing instruction and a "<!" declaration at their first ">".
        {"200,000 levels behind a processing instruction", [](auto& top, auto& content) {
             return element(top, content + "<?pi " + repeated("<a>", kHidden) + "?>");
         }},
        {"200,000 levels in a DOCTYPE's internal subset", [](auto& top, auto& content) {
             return "<!DOCTYPE " + top + " [" + repeated("<a>", kHidden) + "]>" +
                    element(top, content);
         }},
        {"200,000 levels in a bracketed declaration", [](auto& top, auto& content) {
             return element(top, content + "<!x [" + repeated("<a>", kHidden) + "]>");
         }},
        {"200,000 levels behind an XML declaration's end", [](auto& top, auto& content) {
             return "<?xml version=\"1.0\" ?" + repeated("<a>", kHidden) + "?>" +
                    element(top, content);
         }},
        {"one level past the limit behind a processing instruction",
         [limit](auto& top, auto& content) {
             return element(top, content + "<?pi " + repeated("<a>", limit) +
                                     repeated("</a>", limit) + "?>");
         }},
        {"one level past the limit in a DOCTYPE", [limit](auto& top, auto& content) {
             // The declaration ends at the first ">", after "<y>".
             return "<!DOCTYPE x [<y>" + repeated("<a>", limit + 1) +
                    repeated("</a>", limit + 1) + "]>" + element(top, content);
         }},
        {"100,000 attributes on one element", [](auto& top, auto& content) {
             return "<" + top + attributes(100000) + ">" + content + "</" + top + ">";
         }},
        {"one attribute past the limit", [](auto& top, auto& content) {
             return "<" + top + ">" + content + "<a" +
                    attributes(kyro::util::kXmlAttributeLimit + 1) + "/></" + top + ">";
         }},
        {"attributes past the limit for all elements together", [](auto& top, auto& content) {
             const int each = 250;
             const int elements = static_cast<int>(kyro::util::kXmlAttributeTotalLimit) / each + 1;
             return element(top, content + repeated("<a" + attributes(each) + "/>", elements));
         }},
        {"nodes past the limit", [](auto& top, auto& content) {
             return element(top, content + repeated("<!---->x", static_cast<int>(
                                                              kyro::util::kXmlNodeLimit / 2)));
         }},
        {"one element past the limit", [](auto& top, auto& content) {
             return element(top, content + repeated("<a/>", static_cast<int>(
                                                             kyro::util::kXmlElementLimit)));
         }},
    };

    TempFolder temp;
    int serial = 0;
    for (const Shape& shape : shapes) {
        for (const Loader& loader : loaders()) {
            TPath folder = temp / std::to_string(++serial).c_str();
            folder.createDirectories();
            writeFileBytes(folder / kFileName, shape.bytes(loader.top, loader.content));
            EXPECT_FALSE(loader.answers(folder)) << loader.name << ": " << shape.name;
        }
    }
}

TEST(HostileXml, EveryLoaderRefusesWhatIsNotAPlainFileWithoutWaiting)
{
    TempFolder temp;
    int serial = 0;
    for (const Loader& loader : loaders()) {
        TPath folder = temp / std::to_string(++serial).c_str();
        folder.createDirectories();
        WaitingNonFile fifo(folder, kFileName);
        ASSERT_TRUE(fifo.made());
        bool content = false;
        const bool answered = loader.load(fifo.folder(), &content);
        EXPECT_FALSE(content) << loader.name;
        // Wine does not see a pipe's name as an existing file: the settings store takes it
        // for a file not written yet, as it should a missing one.
        if (!KYRO_TEST_WINDOWS || std::string(loader.name) != "settings") {
            EXPECT_FALSE(answered) << loader.name;
        }
    }
}

TEST(HostileXml, FilesWithinTheBoundsStillLoad)
{
    const int limit = kyro::util::kXmlDepthLimit;
    const Shape shapes[] = {
        {"the plain file", [](auto& top, auto& content) { return element(top, content); }},
        // Markup inside comments, processing instructions, CDATA and attribute values is
        // not markup; the deepest level is the limit.
        {"markup hidden where it does not count, nested up to the limit",
         [limit](auto& top, auto& content) {
             return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- <a><b><c> -->\n"
                    "<?pi x?>\n<" + top + " note=\"<a><b>\" other='>'>\n<![CDATA[<a><b>]]>"
                    "<?pi <a>?>" +
                    content + "<!-- " + repeated("<a>", 100) + " -->" +
                    repeated("<a x=\"1\">", limit - 1) + "text &#x3C;b&gt;" +
                    repeated("</a>", limit - 1) + "\r\n</" + top + ">\r\n";
         }},
        {"a byte-order mark and line ends of every kind", [](auto& top, auto& content) {
             return "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n" + element(top, "\r" + content + "\n");
         }},
        {"as many attributes as allowed", [](auto& top, auto& content) {
             return "<" + top + attributes(kyro::util::kXmlAttributeLimit) + ">" + content +
                    "</" + top + ">";
         }},
        {"as many attributes in all as allowed", [](auto& top, auto& content) {
             const int each = kyro::util::kXmlAttributeLimit;
             const int elements = static_cast<int>(kyro::util::kXmlAttributeTotalLimit) / each - 1;
             return element(top, content + repeated("<a" + attributes(each) + "/>", elements));
         }},
        {"as many nodes as allowed", [](auto& top, auto& content) {
             const int parts = static_cast<int>(kyro::util::kXmlNodeLimit / 2) - 8;
             return element(top, content + repeated("<!---->x", parts));
         }},
        {"as many elements as allowed", [](auto& top, auto& content) {
             const int parts = static_cast<int>(kyro::util::kXmlElementLimit) - 8;
             return element(top, content + repeated("<a/>", parts));
         }},
    };

    TempFolder temp;
    int serial = 0;
    for (const Shape& shape : shapes) {
        for (const Loader& loader : loaders()) {
            TPath folder = temp / std::to_string(++serial).c_str();
            folder.createDirectories();
            writeFileBytes(folder / kFileName, shape.bytes(loader.top, loader.content));
            EXPECT_TRUE(loader.loads(folder)) << loader.name << ": " << shape.name;
        }
    }
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
