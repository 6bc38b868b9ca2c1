// KyroErrorTable: the lookup rules, the state of a table, and files that are not what
// they should be.
#include "kyro/diagnostics/KyroErrorTable.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A table loaded from `xml`, written to a file of the temporary folder.
class TableFixture : public testing::Test {
protected:
    KyroErrorTable load(const std::string& xml, bool* loaded = nullptr)
    {
        const TPath path = m_temp / ("table" + std::to_string(++m_files) + ".xml").c_str();
        writeFileBytes(path, xml);
        KyroErrorTable table(path);
        const bool ok = table.Load();
        if (loaded != nullptr)
            *loaded = ok;
        return table;
    }

    TempFolder m_temp;
    int m_files = 0;
};

std::string tables(const std::string& inner)
{
    return "<ERRORTABLES>" + inner + "</ERRORTABLES>";
}

}  // namespace

TEST_F(TableFixture, NoFileNoAnswers)
{
    KyroErrorTable table(m_temp / "missing.xml");
    EXPECT_FALSE(table.Load());
    KyroErrorTable unnamed;
    EXPECT_FALSE(unnamed.Load());
    KyroErrorTable folder(m_temp.path());
    EXPECT_FALSE(folder.Load());
    for (int id : {-1, 0, 1, 2, 10})
        for (int code : {-1, 0, 5}) {
            EXPECT_EQ(table.GetVendorName(id), "");
            EXPECT_EQ(table.GetErrorDescription(id, code), "");
            EXPECT_EQ(unnamed.GetErrorDescription(id, code), "");
        }
}

TEST_F(TableFixture, LooksUpNamesAndDescriptions)
{
    bool loaded = false;
    const KyroErrorTable table = load(
        "<?xml version=\"1.0\"?>\n" +
            tables("<TABLE VENDORID=\"2\"><NAME>Second</NAME>"
                   "<ERROR CODE=\"1\"><DESCRIPTION>Two one</DESCRIPTION></ERROR></TABLE>"
                   "<TABLE VENDORID=\"1\"><NAME>First</NAME>"
                   "<ERROR CODE=\"5\"><DESCRIPTION>One five</DESCRIPTION></ERROR>"
                   "<ERROR CODE=\"-3\"><DESCRIPTION>One minus three</DESCRIPTION></ERROR>"
                   "<ERROR CODE=\"7\"><DESCRIPTION/></ERROR></TABLE>"),
        &loaded);
    ASSERT_TRUE(loaded);
    // A later table is found past an earlier one.
    EXPECT_EQ(table.GetVendorName(1), "First");
    EXPECT_EQ(table.GetVendorName(2), "Second");
    EXPECT_EQ(table.GetVendorName(3), "");
    EXPECT_EQ(table.GetErrorDescription(1, 5), "One five");
    EXPECT_EQ(table.GetErrorDescription(1, -3), "One minus three");
    EXPECT_EQ(table.GetErrorDescription(2, 1), "Two one");
    EXPECT_EQ(table.GetErrorDescription(2, 5), "");
    EXPECT_EQ(table.GetErrorDescription(3, 5), "");
    EXPECT_EQ(table.GetErrorDescription(1, 7), "");   // an element without text
}

TEST_F(TableFixture, SiblingRules)
{
    // Two tables of one component: descriptions from the first only; the name from the
    // first that has one.
    const KyroErrorTable twice = load(tables(
        "<TABLE VENDORID=\"4\"><ERROR CODE=\"1\"><DESCRIPTION>first</DESCRIPTION></ERROR></TABLE>"
        "<TABLE VENDORID=\"4\"><NAME>Named</NAME>"
        "<ERROR CODE=\"1\"><DESCRIPTION>second</DESCRIPTION></ERROR>"
        "<ERROR CODE=\"2\"><DESCRIPTION>only here</DESCRIPTION></ERROR></TABLE>"));
    EXPECT_EQ(twice.GetVendorName(4), "Named");
    EXPECT_EQ(twice.GetErrorDescription(4, 1), "first");
    EXPECT_EQ(twice.GetErrorDescription(4, 2), "");

    // A table without VENDORID hides everything after it.
    const KyroErrorTable hidden = load(tables(
        "<TABLE VENDORID=\"1\"><NAME>One</NAME></TABLE>"
        "<TABLE><NAME>No id</NAME></TABLE>"
        "<TABLE VENDORID=\"2\"><NAME>Two</NAME>"
        "<ERROR CODE=\"1\"><DESCRIPTION>x</DESCRIPTION></ERROR></TABLE>"));
    EXPECT_EQ(hidden.GetVendorName(1), "One");
    EXPECT_EQ(hidden.GetVendorName(2), "");
    EXPECT_EQ(hidden.GetErrorDescription(2, 1), "");

    // Within a table: an ERROR without CODE hides the rest; the first ERROR with the code
    // answers, with or without a DESCRIPTION; a NAME after an ERROR ends the code search.
    const KyroErrorTable codes = load(tables(
        "<TABLE VENDORID=\"1\"><NAME>One</NAME>"
        "<ERROR CODE=\"1\"><DESCRIPTION>one</DESCRIPTION></ERROR>"
        "<ERROR CODE=\"2\"/>"
        "<ERROR CODE=\"2\"><DESCRIPTION>two, later</DESCRIPTION></ERROR>"
        "<ERROR><DESCRIPTION>no code</DESCRIPTION></ERROR>"
        "<ERROR CODE=\"3\"><DESCRIPTION>three</DESCRIPTION></ERROR></TABLE>"
        "<TABLE VENDORID=\"2\"><ERROR CODE=\"1\"><DESCRIPTION>a</DESCRIPTION></ERROR>"
        "<NAME>Late name</NAME>"
        "<ERROR CODE=\"2\"><DESCRIPTION>b</DESCRIPTION></ERROR></TABLE>"));
    EXPECT_EQ(codes.GetErrorDescription(1, 1), "one");
    EXPECT_EQ(codes.GetErrorDescription(1, 2), "");
    EXPECT_EQ(codes.GetErrorDescription(1, 3), "");
    EXPECT_EQ(codes.GetErrorDescription(2, 1), "a");
    EXPECT_EQ(codes.GetErrorDescription(2, 2), "");
    EXPECT_EQ(codes.GetVendorName(2), "Late name");

    // Any element after the first TABLE counts, whatever its name; comments, text and
    // processing instructions between them do not.
    const KyroErrorTable mixed = load(tables(
        "<!-- tables follow --><TABLE VENDORID=\"1\"><NAME>One</NAME>"
        "<!-- codes --><ERROR CODE=\"1\"><DESCRIPTION>one</DESCRIPTION></ERROR>"
        "stray text<!-- more --><?pi x?>"
        "<ERROR CODE=\"2\"><DESCRIPTION>two</DESCRIPTION></ERROR></TABLE>"
        "<!-- between -->stray<COMPONENT VENDORID=\"3\"><NAME>Three</NAME>"
        "<ERROR CODE=\"1\"><DESCRIPTION>three one</DESCRIPTION></ERROR></COMPONENT>"));
    EXPECT_EQ(mixed.GetErrorDescription(1, 2), "two");
    EXPECT_EQ(mixed.GetVendorName(3), "Three");
    EXPECT_EQ(mixed.GetErrorDescription(3, 1), "three one");

    // The search starts at the first TABLE: elements before it are not tables.
    const KyroErrorTable before = load(tables(
        "<NOTE VENDORID=\"1\"><NAME>Note</NAME></NOTE><TABLE VENDORID=\"1\"><NAME>Table</NAME></TABLE>"));
    EXPECT_EQ(before.GetVendorName(1), "Table");
    const KyroErrorTable noTable = load(tables("<NOTE VENDORID=\"1\"><NAME>Note</NAME></NOTE>"));
    EXPECT_EQ(noTable.GetVendorName(1), "");
    const KyroErrorTable otherTop = load("<TABLES><TABLE VENDORID=\"1\"><NAME>x</NAME></TABLE></TABLES>");
    EXPECT_EQ(otherTop.GetVendorName(1), "");
}

TEST_F(TableFixture, IntegerAttributes)
{
    const KyroErrorTable table = load(tables(
        "<TABLE VENDORID=\"x12\"><NAME>Not a number</NAME></TABLE>"
        "<TABLE VENDORID=\"99999999999\"><NAME>Too large</NAME></TABLE>"
        "<TABLE VENDORID=\"\"><NAME>Empty</NAME></TABLE>"
        "<TABLE VENDORID=\" 12\"><NAME>Twelve</NAME></TABLE>"
        "<TABLE VENDORID=\"13x\"><NAME>Thirteen</NAME></TABLE>"
        "<TABLE VENDORID=\"+14\"><NAME>Fourteen</NAME>"
        "<ERROR CODE=\"\t-2147483648 \"><DESCRIPTION>lowest</DESCRIPTION></ERROR>"
        "<ERROR CODE=\"2147483647\"><DESCRIPTION>highest</DESCRIPTION></ERROR>"
        "<ERROR CODE=\"0x10\"><DESCRIPTION>zero</DESCRIPTION></ERROR></TABLE>"));
    EXPECT_EQ(table.GetVendorName(12), "Twelve");
    EXPECT_EQ(table.GetVendorName(13), "Thirteen");
    EXPECT_EQ(table.GetVendorName(14), "Fourteen");
    EXPECT_EQ(table.GetVendorName(0), "");
    EXPECT_EQ(table.GetVendorName(static_cast<int>(99999999999LL & 0xFFFFFFFF)), "");
    EXPECT_EQ(table.GetErrorDescription(14, -2147483647 - 1), "lowest");
    EXPECT_EQ(table.GetErrorDescription(14, 2147483647), "highest");
    EXPECT_EQ(table.GetErrorDescription(14, 0), "zero");
    EXPECT_EQ(table.GetErrorDescription(14, 16), "");
}

TEST_F(TableFixture, TextsAndEncodings)
{
    const std::string content = tables(
        "<TABLE VENDORID=\"1\"><NAME><!-- first a comment -->Caf\xC3\xA9 &amp; Co</NAME>"
        "<ERROR CODE=\"1\"><DESCRIPTION><![CDATA[a <raw> text]]></DESCRIPTION></ERROR>"
        "<ERROR CODE=\"2\"><DESCRIPTION>  spaced  \xE6\x97\xA5 </DESCRIPTION></ERROR>"
        "<ERROR CODE=\"3\"><DESCRIPTION><B>bold</B> after</DESCRIPTION></ERROR></TABLE>");
    // A byte-order mark, a declaration, or neither: the same UTF-8 answers.
    for (const std::string& lead : {std::string("\xEF\xBB\xBF"),
                                    std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"),
                                    std::string()}) {
        bool loaded = false;
        const KyroErrorTable table = load(lead + content, &loaded);
        ASSERT_TRUE(loaded);
        EXPECT_EQ(table.GetVendorName(1), "Caf\xC3\xA9 & Co");
        EXPECT_EQ(table.GetErrorDescription(1, 1), "a <raw> text");
        EXPECT_EQ(table.GetErrorDescription(1, 2), "spaced \xE6\x97\xA5");
        EXPECT_EQ(table.GetErrorDescription(1, 3), "after");   // the parser trims and condenses blanks
    }

    // A file in another encoding loads, its texts converted to UTF-8.
    bool loaded = false;
    const KyroErrorTable latin = load("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" +
                                          tables("<TABLE VENDORID=\"1\"><NAME>Caf\xE9</NAME>"
                                                 "<ERROR CODE=\"1\"><DESCRIPTION>plain</DESCRIPTION></ERROR></TABLE>"),
                                      &loaded);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(latin.GetVendorName(1), "Caf\xC3\xA9");
    EXPECT_EQ(latin.GetErrorDescription(1, 1), "plain");

    // UTF-16 is not read at all.
    std::string utf16 = "\xFF\xFE";
    for (char c : tables("<TABLE VENDORID=\"1\"><NAME>x</NAME></TABLE>")) {
        utf16 += c;
        utf16 += '\0';
    }
    const KyroErrorTable wide = load(utf16, &loaded);
    EXPECT_EQ(wide.GetVendorName(1), "");
}

TEST_F(TableFixture, DamagedFiles)
{
    const std::string good = tables("<TABLE VENDORID=\"1\"><NAME>One</NAME>"
                                    "<ERROR CODE=\"1\"><DESCRIPTION>D\xC3\xA9j\xC3\xA0</DESCRIPTION></ERROR></TABLE>");
    std::string deep;
    for (int i = 0; i < 5000; ++i)
        deep += "<a>";
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 167 + 13) & 0xFF);
    const std::string cases[] = {
        "",
        "<ERRORTABLES><TABLE VENDORID=\"1\"><NAME>One</NAME>",   // unclosed
        good.substr(0, good.find("\xC3\xA9") + 1),                // cut inside a character
        good.substr(0, good.size() / 2),
        "<ERRORTABLES>" + deep,
        tables(deep),
        binary,
        std::string("<ERRORTABLES>") + '\0' + "<TABLE VENDORID=\"1\"><NAME>x</NAME></TABLE></ERRORTABLES>",
        "<!DOCTYPE x [<!ENTITY e \"boom\">]><ERRORTABLES><TABLE VENDORID=\"1\"><NAME>&e;</NAME></TABLE></ERRORTABLES>",
    };
    for (const std::string& xml : cases) {
        const KyroErrorTable table = load(xml);
        EXPECT_EQ(table.GetVendorName(1), "") << xml.substr(0, 60);
        EXPECT_EQ(table.GetErrorDescription(1, 1), "") << xml.substr(0, 60);
    }

    // A file past the size limit is not read.
    const TPath huge = m_temp / "huge.xml";
    std::string big = "<ERRORTABLES><TABLE VENDORID=\"1\"><NAME>Big</NAME>";
    big += std::string(17u * 1024u * 1024u, ' ');
    big += "</TABLE></ERRORTABLES>";
    writeFileBytes(huge, big);
    KyroErrorTable bigTable(huge);
    EXPECT_FALSE(bigTable.Load());
    EXPECT_EQ(bigTable.GetVendorName(1), "");
}

TEST_F(TableFixture, StateAndCopies)
{
    const TPath first = m_temp / "first.xml";
    writeFileBytes(first, tables("<TABLE VENDORID=\"1\"><NAME>First</NAME></TABLE>"));
    const TPath second = m_temp / "second.xml";
    writeFileBytes(second, tables("<TABLE VENDORID=\"1\"><NAME>Second</NAME></TABLE>"));

    KyroErrorTable table(first);
    EXPECT_EQ(table.GetVendorName(1), "");   // not loaded yet
    ASSERT_TRUE(table.Load());
    // Naming another file changes nothing until the next Load.
    table.SetPathName(second);
    EXPECT_EQ(table.GetVendorName(1), "First");
    ASSERT_TRUE(table.Load());
    EXPECT_EQ(table.GetVendorName(1), "Second");

    // Copies carry the parsed file with them.
    KyroErrorTable copy(table);
    KyroErrorTable assigned(first);
    assigned = table;
    table.SetPathName(m_temp / "missing.xml");
    EXPECT_FALSE(table.Load());
    EXPECT_EQ(table.GetVendorName(1), "");
    EXPECT_EQ(copy.GetVendorName(1), "Second");
    EXPECT_EQ(assigned.GetVendorName(1), "Second");
    // ... and their path: a copy's Load reads the file the original had then.
    writeFileBytes(second, tables("<TABLE VENDORID=\"1\"><NAME>Rewritten</NAME></TABLE>"));
    ASSERT_TRUE(copy.Load());
    EXPECT_EQ(copy.GetVendorName(1), "Rewritten");
    // An unloaded table copies as unloaded.
    KyroErrorTable unloadedCopy(table);
    EXPECT_EQ(unloadedCopy.GetVendorName(1), "");
    assigned = unloadedCopy;
    EXPECT_EQ(assigned.GetVendorName(1), "");
}

TEST(ShippedErrorTable, DescribesTheLibrarysStatuses)
{
    // The build puts the table in data/ beside bin/.
    const TPath path = thisTestProgram().directory().directory() / "data" / "KyroErrorCodes.xml";
    KyroErrorTable table(path);
    ASSERT_TRUE(table.Load()) << path.utf8();
    EXPECT_EQ(table.GetVendorName(1), "Kyro Integration Library");
    for (int code : {1, 2, 5, 9, 19, 30, 31, 32})
        EXPECT_NE(table.GetErrorDescription(1, code), "") << code;
    for (int vendor : {2, 3, 4, 5})
        EXPECT_NE(table.GetVendorName(vendor), "") << vendor;
}
