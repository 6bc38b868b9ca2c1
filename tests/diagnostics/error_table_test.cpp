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

// <TABLE VENDORID="id">inner</TABLE> in <ERRORTABLES>, an <ERROR> and a <NAME>.
std::string table(const std::string& id, const std::string& inner, const char* element = "TABLE")
{
    return std::string("<") + element + (id.empty() ? "" : " VENDORID=\"" + id + "\"") + ">" + inner + "</" + element + ">";
}
std::string tables(const std::string& inner) { return "<ERRORTABLES>" + inner + "</ERRORTABLES>"; }
std::string error(const std::string& code, const std::string& text)
{
    return "<ERROR CODE=\"" + code + "\"><DESCRIPTION>" + text + "</DESCRIPTION></ERROR>";
}
std::string name(const std::string& text) { return "<NAME>" + text + "</NAME>"; }

// `expected` lists "<vendor>=<name>" and "<vendor>/<code>=<description>" answers, joined by
// "|"; returns the table's answers to the same questions in the same form.
std::string answers(const KyroErrorTable& table, const std::string& expected)
{
    std::string out;
    for (std::size_t at = 0; at < expected.size(); at = std::min(expected.find('|', at), expected.size()) + 1) {
        const std::string key = expected.substr(at, expected.find('=', at) - at);
        const std::size_t slash = key.find('/');
        out += (out.empty() ? "" : "|") + key + "=" +
               (slash == std::string::npos ? table.GetVendorName(std::stoi(key))
                                           : table.GetErrorDescription(std::stoi(key), std::stoi(key.substr(slash + 1)))).utf8();
    }
    return out;
}

}  // namespace

TEST(ErrorTable, LookupRules)
{
    const std::string utf8 = tables(table("1", name("<!-- a comment -->Caf\xC3\xA9 &amp; Co") +
                                                   error("1", "<![CDATA[a <raw> text]]>") + error("2", "  spaced  \xE6\x97\xA5 ") +
                                                   error("3", "<B>bold</B> after")));
    const char* const utf8Answers = "1=Caf\xC3\xA9 & Co|1/1=a <raw> text|1/2=spaced \xE6\x97\xA5|1/3=after";
    const struct {
        const char* name;
        std::string xml;
        const char* expected;
    } cases[] = {
        {"a later table is found past an earlier one",
         "<?xml version=\"1.0\"?>\n" + tables(table("2", name("Second") + error("1", "Two one")) +
                                              table("1", name("First") + error("5", "One five") + error("-3", "Minus three") +
                                                             "<ERROR CODE=\"7\"><DESCRIPTION/></ERROR>")),
         "1=First|2=Second|3=|1/5=One five|1/-3=Minus three|2/1=Two one|2/5=|3/5=|1/7="},
        {"two tables of one vendor: descriptions from the first, the first name found",
         tables(table("4", error("1", "first")) + table("4", name("Named") + error("1", "second") + error("2", "here"))),
         "4=Named|4/1=first|4/2="},
        {"a table without VENDORID hides everything after it",
         tables(table("1", name("One")) + table("", name("No id")) + table("2", name("Two") + error("1", "x"))),
         "1=One|2=|2/1="},
        {"an ERROR without CODE hides the rest, the first ERROR answers, a NAME ends the codes",
         tables(table("1", name("One") + error("1", "one") + "<ERROR CODE=\"2\"/>" + error("2", "later") +
                               "<ERROR><DESCRIPTION>no code</DESCRIPTION></ERROR>" + error("3", "three")) +
                table("2", error("1", "a") + name("Late name") + error("2", "b"))),
         "1/1=one|1/2=|1/3=|2/1=a|2/2=|2=Late name"},
        {"any element after the first TABLE counts; comments, text and PIs do not",
         tables("<!-- x -->" + table("1", name("One") + "<!-- y -->" + error("1", "one") + "text<!-- z --><?pi x?>" +
                                              error("2", "two")) +
                "<!-- between -->stray" + table("3", name("Three") + error("1", "three one"), "COMPONENT")),
         "1/2=two|3=Three|3/1=three one"},
        {"the search starts at the first TABLE", tables(table("1", name("Note"), "NOTE") + table("1", name("Table"))),
         "1=Table"},
        {"no TABLE", tables(table("1", name("Note"), "NOTE")), "1="},
        {"another top element", "<TABLES>" + table("1", name("x")) + "</TABLES>", "1="},
        {"integer attributes",
         tables(table("x12", name("NaN")) + table("99999999999", name("Too large")) + "<TABLE VENDORID=\"\">" + name("Empty") + "</TABLE>" +
                table(" 12", name("Twelve")) + table("13x", name("Thirteen")) +
                table("+14", name("Fourteen") + error("\t-2147483648 ", "lowest") + error("2147483647", "highest") +
                                 error("0x10", "zero"))),
         "12=Twelve|13=Thirteen|14=Fourteen|0=|1215752191=|14/-2147483648=lowest|14/2147483647=highest|14/0=zero|14/16="},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + utf8, utf8Answers},
        {"UTF-8 with a declaration", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + utf8, utf8Answers},
        {"UTF-8 alone", utf8, utf8Answers},
        {"another encoding is converted",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + tables(table("1", name("Caf\xE9") + error("1", "plain"))),
         "1=Caf\xC3\xA9|1/1=plain"},
    };
    TempFolder temp;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFileBytes(temp / "table.xml", c.xml);
        KyroErrorTable loaded(temp / "table.xml");
        ASSERT_TRUE(loaded.Load());
        EXPECT_EQ(answers(loaded, c.expected), c.expected);
    }
}

TEST(ErrorTable, MissingAndDamagedFilesAnswerNothing)
{
    TempFolder temp;
    const std::string good = tables(table("1", name("One") + error("1", "D\xC3\xA9j\xC3\xA0")));
    std::string deep, binary, utf16 = "\xFF\xFE";
    for (int i = 0; i < 5000; ++i)
        deep += "<a>";
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 167 + 13) & 0xFF);
    for (char c : tables(table("1", name("x"))))
        utf16 += std::string(1, c) + '\0';
    for (const std::string& xml :
         {std::string(), std::string("<ERRORTABLES><TABLE VENDORID=\"1\"><NAME>One</NAME>"), good.substr(0, good.find("\xC3\xA9") + 1),
          good.substr(0, good.size() / 2), "<ERRORTABLES>" + deep, tables(deep), binary, utf16,
          std::string("<ERRORTABLES>") + '\0' + table("1", name("x")) + "</ERRORTABLES>",
          "<!DOCTYPE x [<!ENTITY e \"boom\">]>" + tables(table("1", name("&e;"))),
          tables(table("1", name("Big") + std::string(17u * 1024u * 1024u, ' ')))}) {   // past the size limit
        SCOPED_TRACE(xml.substr(0, 60));
        writeFileBytes(temp / "damaged.xml", xml);
        KyroErrorTable damaged(temp / "damaged.xml");
        damaged.Load();
        EXPECT_EQ(answers(damaged, "1=|1/1="), "1=|1/1=");
    }
    EXPECT_FALSE(KyroErrorTable(temp / "damaged.xml").Load());   // the one too large
    KyroErrorTable missing(temp / "missing.xml"), unnamed, folder(temp.path());
    EXPECT_FALSE(missing.Load() || unnamed.Load() || folder.Load());
    EXPECT_EQ(answers(missing, "-1=|0=|10=|1/-1=|2/0=|10/5="), "-1=|0=|10=|1/-1=|2/0=|10/5=");
    EXPECT_EQ(answers(unnamed, "1=|1/5="), "1=|1/5=");
}

TEST(ErrorTable, AnswersComeFromTheLastLoad)
{
    // (Copies answer as their originals: the error-table fuzz target checks that on every input.)
    TempFolder temp;
    writeFileBytes(temp / "first.xml", tables(table("1", name("First"))));
    writeFileBytes(temp / "second.xml", tables(table("1", name("Second"))));
    KyroErrorTable loaded(temp / "first.xml");
    EXPECT_EQ(loaded.GetVendorName(1), "");   // not loaded yet
    ASSERT_TRUE(loaded.Load());
    loaded.SetPathName(temp / "second.xml");   // nothing changes until the next Load
    EXPECT_EQ(loaded.GetVendorName(1), "First");
    ASSERT_TRUE(loaded.Load());
    EXPECT_EQ(loaded.GetVendorName(1), "Second");
    loaded.SetPathName(temp / "missing.xml");
    EXPECT_FALSE(loaded.Load());
    EXPECT_EQ(loaded.GetVendorName(1), "");
}

TEST(ErrorTable, TheShippedTableDescribesTheLibrarysStatuses)
{
    // The build puts the table in data/ beside bin/.
    KyroErrorTable shipped(thisTestProgram().directory().directory() / "data" / "KyroErrorCodes.xml");
    ASSERT_TRUE(shipped.Load());
    EXPECT_EQ(shipped.GetVendorName(1), "Kyro Integration Library");
    for (int code : {1, 2, 5, 9, 19, 30, 31, 32})
        EXPECT_NE(shipped.GetErrorDescription(1, code), "") << code;
    for (int vendor : {2, 3, 4, 5})
        EXPECT_NE(shipped.GetVendorName(vendor), "") << vendor;
}
