// KyroErrorTable: the lookup rules, the state of a table, and files that are not what
// they should be.
#include "kyro/diagnostics/KyroErrorTable.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::string tables(const std::string& inner)
{
    return "<ERRORTABLES>" + inner + "</ERRORTABLES>";
}

// `expected` lists "<vendor>=<name>" and "<vendor>/<code>=<description>" answers, joined by
// "|"; returns the table's answers to the same questions in the same form.
std::string answers(const KyroErrorTable& table, const std::string& expected)
{
    std::string out;
    for (std::size_t at = 0; at < expected.size();) {
        const std::size_t end = std::min(expected.find('|', at), expected.size());
        const std::string key = expected.substr(at, expected.find('=', at) - at);
        const std::size_t slash = key.find('/');
        const int vendor = std::stoi(key);
        out += (out.empty() ? "" : "|") + key + "=" +
               (slash == std::string::npos ? table.GetVendorName(vendor)
                                           : table.GetErrorDescription(vendor, std::stoi(key.substr(slash + 1))))
                   .utf8();
        at = end + 1;
    }
    return out;
}

struct TableCase {
    const char* name;
    std::string xml;
    const char* expected;
};

}  // namespace

TEST(ErrorTable, LookupRules)
{
    const std::string utf8Texts =
        tables("<TABLE VENDORID=\"1\"><NAME><!-- first a comment -->Caf\xC3\xA9 &amp; Co</NAME>"
               "<ERROR CODE=\"1\"><DESCRIPTION><![CDATA[a <raw> text]]></DESCRIPTION></ERROR>"
               "<ERROR CODE=\"2\"><DESCRIPTION>  spaced  \xE6\x97\xA5 </DESCRIPTION></ERROR>"
               "<ERROR CODE=\"3\"><DESCRIPTION><B>bold</B> after</DESCRIPTION></ERROR></TABLE>");
    const char* const utf8Answers = "1=Caf\xC3\xA9 & Co|1/1=a <raw> text|1/2=spaced \xE6\x97\xA5|1/3=after";
    std::string utf16 = "\xFF\xFE";
    for (char c : tables("<TABLE VENDORID=\"1\"><NAME>x</NAME></TABLE>"))
        utf16 += std::string(1, c) + '\0';
    const TableCase cases[] = {
        {"a later table is found past an earlier one",
         "<?xml version=\"1.0\"?>\n" +
             tables("<TABLE VENDORID=\"2\"><NAME>Second</NAME>"
                    "<ERROR CODE=\"1\"><DESCRIPTION>Two one</DESCRIPTION></ERROR></TABLE>"
                    "<TABLE VENDORID=\"1\"><NAME>First</NAME>"
                    "<ERROR CODE=\"5\"><DESCRIPTION>One five</DESCRIPTION></ERROR>"
                    "<ERROR CODE=\"-3\"><DESCRIPTION>One minus three</DESCRIPTION></ERROR>"
                    "<ERROR CODE=\"7\"><DESCRIPTION/></ERROR></TABLE>"),
         "1=First|2=Second|3=|1/5=One five|1/-3=One minus three|2/1=Two one|2/5=|3/5=|1/7="},
        {"two tables of one vendor: descriptions from the first, the first name found",
         tables("<TABLE VENDORID=\"4\"><ERROR CODE=\"1\"><DESCRIPTION>first</DESCRIPTION></ERROR></TABLE>"
                "<TABLE VENDORID=\"4\"><NAME>Named</NAME>"
                "<ERROR CODE=\"1\"><DESCRIPTION>second</DESCRIPTION></ERROR>"
                "<ERROR CODE=\"2\"><DESCRIPTION>only here</DESCRIPTION></ERROR></TABLE>"),
         "4=Named|4/1=first|4/2="},
        {"a table without VENDORID hides everything after it",
         tables("<TABLE VENDORID=\"1\"><NAME>One</NAME></TABLE><TABLE><NAME>No id</NAME></TABLE>"
                "<TABLE VENDORID=\"2\"><NAME>Two</NAME><ERROR CODE=\"1\"><DESCRIPTION>x</DESCRIPTION></ERROR></TABLE>"),
         "1=One|2=|2/1="},
        {"an ERROR without CODE hides the rest, the first ERROR answers, a NAME ends the codes",
         tables("<TABLE VENDORID=\"1\"><NAME>One</NAME><ERROR CODE=\"1\"><DESCRIPTION>one</DESCRIPTION></ERROR>"
                "<ERROR CODE=\"2\"/><ERROR CODE=\"2\"><DESCRIPTION>two, later</DESCRIPTION></ERROR>"
                "<ERROR><DESCRIPTION>no code</DESCRIPTION></ERROR>"
                "<ERROR CODE=\"3\"><DESCRIPTION>three</DESCRIPTION></ERROR></TABLE>"
                "<TABLE VENDORID=\"2\"><ERROR CODE=\"1\"><DESCRIPTION>a</DESCRIPTION></ERROR>"
                "<NAME>Late name</NAME><ERROR CODE=\"2\"><DESCRIPTION>b</DESCRIPTION></ERROR></TABLE>"),
         "1/1=one|1/2=|1/3=|2/1=a|2/2=|2=Late name"},
        {"any element after the first TABLE counts; comments, text and PIs do not",
         tables("<!-- tables follow --><TABLE VENDORID=\"1\"><NAME>One</NAME>"
                "<!-- codes --><ERROR CODE=\"1\"><DESCRIPTION>one</DESCRIPTION></ERROR>stray text<!-- more --><?pi x?>"
                "<ERROR CODE=\"2\"><DESCRIPTION>two</DESCRIPTION></ERROR></TABLE><!-- between -->stray"
                "<COMPONENT VENDORID=\"3\"><NAME>Three</NAME>"
                "<ERROR CODE=\"1\"><DESCRIPTION>three one</DESCRIPTION></ERROR></COMPONENT>"),
         "1/2=two|3=Three|3/1=three one"},
        {"the search starts at the first TABLE",
         tables("<NOTE VENDORID=\"1\"><NAME>Note</NAME></NOTE><TABLE VENDORID=\"1\"><NAME>Table</NAME></TABLE>"),
         "1=Table"},
        {"no TABLE", tables("<NOTE VENDORID=\"1\"><NAME>Note</NAME></NOTE>"), "1="},
        {"another top element", "<TABLES><TABLE VENDORID=\"1\"><NAME>x</NAME></TABLE></TABLES>", "1="},
        {"integer attributes",
         tables("<TABLE VENDORID=\"x12\"><NAME>Not a number</NAME></TABLE>"
                "<TABLE VENDORID=\"99999999999\"><NAME>Too large</NAME></TABLE>"
                "<TABLE VENDORID=\"\"><NAME>Empty</NAME></TABLE><TABLE VENDORID=\" 12\"><NAME>Twelve</NAME></TABLE>"
                "<TABLE VENDORID=\"13x\"><NAME>Thirteen</NAME></TABLE><TABLE VENDORID=\"+14\"><NAME>Fourteen</NAME>"
                "<ERROR CODE=\"\t-2147483648 \"><DESCRIPTION>lowest</DESCRIPTION></ERROR>"
                "<ERROR CODE=\"2147483647\"><DESCRIPTION>highest</DESCRIPTION></ERROR>"
                "<ERROR CODE=\"0x10\"><DESCRIPTION>zero</DESCRIPTION></ERROR></TABLE>"),
         "12=Twelve|13=Thirteen|14=Fourteen|0=|1215752191=|14/-2147483648=lowest|14/2147483647=highest|14/0=zero|"
         "14/16="},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + utf8Texts, utf8Answers},
        {"UTF-8 with a declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + utf8Texts, utf8Answers},
        {"UTF-8 alone", utf8Texts, utf8Answers},
        {"another encoding is converted",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" +
             tables("<TABLE VENDORID=\"1\"><NAME>Caf\xE9</NAME><ERROR CODE=\"1\"><DESCRIPTION>plain</DESCRIPTION></ERROR></TABLE>"),
         "1=Caf\xC3\xA9|1/1=plain"},
        {"UTF-16 is not read", utf16, "1="},
    };
    TempFolder temp;
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.name);
        writeFileBytes(temp / "table.xml", c.xml);
        KyroErrorTable table(temp / "table.xml");
        ASSERT_EQ(table.Load(), std::string(c.name) != "UTF-16 is not read");
        EXPECT_EQ(answers(table, c.expected), c.expected);
    }
}

TEST(ErrorTable, MissingAndDamagedFilesAnswerNothing)
{
    TempFolder temp;
    const std::string good = tables("<TABLE VENDORID=\"1\"><NAME>One</NAME>"
                                    "<ERROR CODE=\"1\"><DESCRIPTION>D\xC3\xA9j\xC3\xA0</DESCRIPTION></ERROR></TABLE>");
    std::string deep, binary;
    for (int i = 0; i < 5000; ++i)
        deep += "<a>";
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
        // Past the size limit.
        "<ERRORTABLES><TABLE VENDORID=\"1\"><NAME>Big</NAME>" + std::string(17u * 1024u * 1024u, ' ') +
            "</TABLE></ERRORTABLES>",
    };
    for (const std::string& xml : cases) {
        SCOPED_TRACE(xml.substr(0, 60));
        writeFileBytes(temp / "damaged.xml", xml);
        KyroErrorTable table(temp / "damaged.xml");
        table.Load();
        EXPECT_EQ(answers(table, "1=|1/1="), "1=|1/1=");
    }
    EXPECT_FALSE(KyroErrorTable(temp / "damaged.xml").Load());   // the last one
    KyroErrorTable missing(temp / "missing.xml"), unnamed, folder(temp.path());
    EXPECT_FALSE(missing.Load());
    EXPECT_FALSE(unnamed.Load());
    EXPECT_FALSE(folder.Load());
    EXPECT_EQ(answers(missing, "-1=|0=|10=|1/-1=|2/0=|10/5="), "-1=|0=|10=|1/-1=|2/0=|10/5=");
    EXPECT_EQ(answers(unnamed, "1=|1/5="), "1=|1/5=");
}

TEST(ErrorTable, StateAndCopies)
{
    TempFolder temp;
    const TPath first = temp / "first.xml", second = temp / "second.xml";
    writeFileBytes(first, tables("<TABLE VENDORID=\"1\"><NAME>First</NAME></TABLE>"));
    writeFileBytes(second, tables("<TABLE VENDORID=\"1\"><NAME>Second</NAME></TABLE>"));

    KyroErrorTable table(first);
    EXPECT_EQ(table.GetVendorName(1), "");   // not loaded yet
    ASSERT_TRUE(table.Load());
    table.SetPathName(second);   // nothing changes until the next Load
    EXPECT_EQ(table.GetVendorName(1), "First");
    ASSERT_TRUE(table.Load());
    EXPECT_EQ(table.GetVendorName(1), "Second");

    // Copies carry the parsed file and the path with them; an unloaded table copies as unloaded.
    KyroErrorTable copy(table), assigned(first);
    assigned = table;
    table.SetPathName(temp / "missing.xml");
    EXPECT_FALSE(table.Load());
    EXPECT_EQ(table.GetVendorName(1), "");
    EXPECT_EQ(copy.GetVendorName(1), "Second");
    EXPECT_EQ(assigned.GetVendorName(1), "Second");
    writeFileBytes(second, tables("<TABLE VENDORID=\"1\"><NAME>Rewritten</NAME></TABLE>"));
    ASSERT_TRUE(copy.Load());
    EXPECT_EQ(copy.GetVendorName(1), "Rewritten");
    KyroErrorTable unloadedCopy(table);
    EXPECT_EQ(unloadedCopy.GetVendorName(1), "");
    assigned = unloadedCopy;
    EXPECT_EQ(assigned.GetVendorName(1), "");
}

TEST(ErrorTable, TheShippedTableDescribesTheLibrarysStatuses)
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
