// KyroErrorTable: the lookup rules, the state of a table, and the shipped table. (What any
// file, damaged ones included, loads to is the error-table fuzz target's.)
#include "kyro/diagnostics/KyroErrorTable.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// <TABLE VENDORID="id">inner</TABLE> (another element when asked), an <ERROR> and a <NAME>.
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
        {"a table without VENDORID hides everything after it",
         tables(table("1", name("One")) + table("", name("No id")) + table("2", name("Two") + error("1", "x"))), "1=One|2=|2/1="},
        {"an ERROR without CODE hides the rest, the first ERROR answers, a NAME ends the codes",
         tables(table("1", name("One") + error("1", "one") + "<ERROR CODE=\"2\"/>" + error("2", "later") +
                               "<ERROR><DESCRIPTION>no code</DESCRIPTION></ERROR>" + error("3", "three")) +
                table("2", error("1", "a") + name("Late name") + error("2", "b"))),
         "1/1=one|1/2=|1/3=|2/1=a|2/2=|2=Late name"},
        {"text: a BOM, entities, CDATA, blanks folded, children dropped",
         "\xEF\xBB\xBF" + tables(table("1", name("Caf\xC3\xA9 &amp; Co") + error("1", "<![CDATA[a <raw> text]]>") +
                                                error("2", "  spaced  \xE6\x97\xA5 ") + error("3", "<B>bold</B> after"))),
         "1=Caf\xC3\xA9 & Co|1/1=a <raw> text|1/2=spaced \xE6\x97\xA5|1/3=after"},
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

TEST(ErrorTable, AnswersComeFromTheLastLoad)
{
    TempFolder temp;
    writeFileBytes(temp / "first.xml", tables(table("1", name("First"))));
    writeFileBytes(temp / "large.xml", tables(table("1", name("Big") + std::string(17u * 1024u * 1024u, ' '))));
    KyroErrorTable loaded(temp / "first.xml");
    EXPECT_EQ(loaded.GetVendorName(1), "");   // not loaded yet
    // Nothing changes until the next Load; a file past the size limit, a missing one and a
    // folder load nothing.
    for (const TPath& path : {temp / "large.xml", temp / "missing.xml", temp.path()}) {
        EXPECT_TRUE(loaded.Load() && loaded.GetVendorName(1) == "First");
        loaded.SetPathName(path);
        EXPECT_EQ(loaded.GetVendorName(1), "First");
        EXPECT_FALSE(loaded.Load() || loaded.GetVendorName(1) != "");
        loaded.SetPathName(temp / "first.xml");
    }
}

TEST(ErrorTable, TheShippedTableDescribesTheLibrarysStatuses)
{
    // The build puts the table in data/ beside bin/.
    KyroErrorTable shipped(thisTestProgram().directory().directory() / "data" / "KyroErrorCodes.xml");
    ASSERT_TRUE(shipped.Load());
    EXPECT_EQ(shipped.GetVendorName(1), "Kyro Integration Library");
    for (int code : {1, 2, 5, 9, 19, 30, 31, 32})
        EXPECT_NE(shipped.GetErrorDescription(1, code), "") << code;
}
