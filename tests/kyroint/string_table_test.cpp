// The resource string table: where load looks and when it succeeds, the lookup rules, the
// shipped tables, and the process-wide handler the host loads (in a child process, so that
// it starts unloaded).
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/int/CKyroIntResHandler.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "HostProcess.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kTableFile[] = "KyroIntRes.xml";

std::string table(const std::string& entries)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KYROSTRINGTABLE>" + entries + "</KYROSTRINGTABLE>\n";
}

std::string entry(const std::string& id, const std::string& caption)
{
    return "<STRING ID=\"" + id + "\"><CAPTION>" + caption + "</CAPTION></STRING>";
}

// `folder` (made when missing) with a KyroIntRes.xml holding `bytes`.
TPath writeTable(TPath folder, const std::string& bytes)
{
    folder.createDirectories();
    writeFileBytes(folder / kTableFile, bytes);
    return folder;
}

TEST(StringTable, WhereALoadLooksAndWhichLoadWins)
{
    TempFolder temp;
    CKyroIntResHandler handler;
    EXPECT_EQ(handler.getString("IDS_A"), "");
    EXPECT_EQ(handler.getString(TStr()), "");
    (temp / "folder" / kTableFile).createDirectories();   // a folder named like the file
    const TPath broken = writeTable(temp / "broken", "<KYROSTRINGTABLE><STRING ID=\"IDS_A\">");
    for (const TStr& nothing : {TStr(""), TStr(), TStr(temp / "missing"), TStr(temp.path()), TStr(temp / "folder"),
                                TStr(temp / "folder\\"), TStr(broken)})
        EXPECT_FALSE(handler.load(nothing)) << nothing.utf8();
    EXPECT_EQ(handler.getString("IDS_A"), "");

    // Documents without entries load, but answer nothing.
    for (const char* document :
         {"<KYROSTRINGTABLE/>", "<OTHERTABLE><STRING ID=\"IDS_A\"><CAPTION>A</CAPTION></STRING></OTHERTABLE>",
          "<KYROSTRINGTABLE><ITEM ID=\"IDS_A\"><CAPTION>A</CAPTION></ITEM></KYROSTRINGTABLE>",
          "<ROOT><KYROSTRINGTABLE><STRING ID=\"IDS_A\"><CAPTION>A</CAPTION></STRING></KYROSTRINGTABLE></ROOT>"}) {
        CKyroIntResHandler empty;
        EXPECT_TRUE(empty.load(writeTable(temp / "empty", document))) << document;
        EXPECT_EQ(empty.getString("IDS_A"), "") << document;
    }

    // The first good load wins; later ones answer true and read nothing.
    const TPath english = writeTable(temp / "en", table(entry("IDS_A", "A")));
    const TPath german = writeTable(temp / "de", table(entry("IDS_A", "B") + entry("IDS_B", "B")));
    ASSERT_TRUE(handler.load(english));
    EXPECT_TRUE(handler.load(german));
    EXPECT_TRUE(handler.load(""));
    writeFileBytes(english / kTableFile, table(entry("IDS_A", "Changed")));
    EXPECT_TRUE(handler.load(english));
    EXPECT_EQ(handler.getString("IDS_A"), "A");
    EXPECT_EQ(handler.getString("IDS_B"), "");

    // A folder once its file is mended; separators of either kind, trailing or not, and a
    // folder name that is not ASCII.
    writeFileBytes(broken / kTableFile, table(entry("IDS_A", "Changed")));
    TStr forward(english);
    forward.replaceAll("\\", "/");
    for (const TStr& folder : {TStr(broken), english + "\\", forward, forward + "/",
                               TStr(writeTable(temp / "Grüße 日本", table(entry("IDS_A", "Changed"))))}) {
        CKyroIntResHandler other;
        EXPECT_TRUE(other.load(folder)) << folder.utf8();
        EXPECT_EQ(other.getString("IDS_A"), "Changed") << folder.utf8();
    }
}

TEST(StringTable, LookupRules)
{
    TempFolder temp;
    const std::string entries =
        "<ITEM ID=\"IDS_BEFORE_FIRST\"><CAPTION>not an entry</CAPTION></ITEM><!-- a comment before the first entry -->"
        "<STRING ID=\"IDS_TWICE\"><TEXT>no caption here</TEXT></STRING><!-- a comment among the entries -->\n"
        "<?processing instruction?>" + entry("IDS_TWICE", "second") + entry("IDS_TWICE", "third") +
        "<STRING><CAPTION>no identifier</CAPTION></STRING>" + entry("IDS_CASE", "Case") +
        entry("IDS_AMPERSAND", "Terms &amp; Conditions") + entry("IDS_ENTITIES", "&lt;&quot;&apos;&gt; &#xE9;&#233;") +
        entry("IDS_UTF8", "Schließen – 日本語 😀") + entry("IDS_EMPTY", "") + entry("IDS_EMPTY", "not reached") +
        "<STRING ID=\"IDS_SELF_CLOSED\"><CAPTION/></STRING>" + entry("IDS_NESTED", "<B>bold</B>after") +
        entry("IDS_CDATA", "<![CDATA[a <raw> & text]]>") +
        "<OTHER ID=\"IDS_OTHER_NAME\"><CAPTION>other element</CAPTION></OTHER>text between entries" +
        entry("IDS_LAST", "last");
    CKyroIntResHandler handler;
    ASSERT_TRUE(handler.load(writeTable(temp / "res", "\xEF\xBB\xBF" + table(entries))));
    const struct {
        const char* id;
        const char* text;
    } rows[] = {
        {"IDS_TWICE", "second"},   // an entry without caption is passed over
        {"IDS_CASE", "Case"}, {"ids_case", ""}, {"IDS_Case", ""}, {"IDS_CASE ", ""}, {"IDS_CAS", ""},
        {"IDS_AMPERSAND", "Terms & Conditions"},
        {"IDS_ENTITIES", "<\"'> \xC3\xA9\xC3\xA9"},
        {"IDS_UTF8", "Schließen – 日本語 😀"},
        {"IDS_EMPTY", ""},   // the first caption answers, even empty
        {"IDS_SELF_CLOSED", ""},
        {"IDS_NESTED", "after"},   // the caption's first text
        {"IDS_CDATA", "a <raw> & text"},
        {"IDS_OTHER_NAME", "other element"},   // every element after the first entry
        {"IDS_BEFORE_FIRST", ""},              // nothing before the first entry
        {"IDS_LAST", "last"},
        {"IDS_MISSING", ""},
        {"", "no identifier"},   // a missing identifier counts as empty
    };
    for (const auto& row : rows)
        EXPECT_EQ(handler.getString(row.id), row.text) << row.id;
}

TEST(StringTable, ShippedTablesHoldEveryTextTheDialogsAskFor)
{
    const TPath english = thisTestProgram().directory().directory() / "data";   // beside bin/
    const std::set<std::string> asked = {
        "IDS_ERROR_DIALOG_CAPTION", "IDS_ERROR_DIALOG_TITLE", "IDS_GENERIC_ERROR_MESSAGE", "IDS_MESSAGE_BOX_CAPTION",
        "IDS_MESSAGE_BOX_TITLE", "IDS_BUTTON_OK", "IDS_BUTTON_CANCEL", "IDS_BUTTON_YES", "IDS_BUTTON_NO",
        "IDS_BUTTON_CLOSE", "IDS_PLEASE_WAIT_MESSAGE", "IDS_PRIVACY_POLICY_CAPTION", "IDS_COMPANION_NOT_STARTED_TITLE",
        "IDS_COMPANION_NOT_STARTED_MESSAGE", "IDS_INSUFFICIENT_MEMORY_MESSAGE"};
    const std::regex idAttribute("ID=\"([^\"]*)\"");
    for (const TPath& folder : {english, english / "de-DE"}) {
        CKyroIntResHandler handler;
        ASSERT_TRUE(handler.load(folder));
        const std::string bytes = readFileBytes(folder / kTableFile);
        std::multiset<std::string> found;   // each once
        for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), idAttribute); it != std::sregex_iterator(); ++it)
            found.insert((*it)[1].str());
        EXPECT_EQ(found, std::multiset<std::string>(asked.begin(), asked.end())) << folder.utf8();
        for (const std::string& id : asked)
            EXPECT_FALSE(handler.getString(id.c_str()).isEmpty()) << id << " in " << folder.utf8();
    }
    CKyroIntResHandler en, de;
    ASSERT_TRUE(en.load(english) && de.load(english / "de-DE"));
    EXPECT_EQ(en.getString("IDS_BUTTON_CANCEL"), "Cancel");
    EXPECT_EQ(de.getString("IDS_BUTTON_CANCEL"), "Abbrechen");
    EXPECT_EQ(de.getString("IDS_BUTTON_CLOSE"), "Schließen");
    EXPECT_EQ(en.getString("IDS_PRIVACY_POLICY_CAPTION"), "Privacy & Data Use");
    EXPECT_EQ(de.getString("IDS_PRIVACY_POLICY_CAPTION"), "Datenschutz & Datennutzung");
}

TEST(StringTable, ConcurrentLoadsAndLookups)
{
    TempFolder temp;
    const TPath folder = writeTable(temp / "res", table(entry("IDS_A", "A") + entry("IDS_B", "B")));
    CKyroIntResHandler handler;
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int& count : wrong) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i)
                count += !handler.load(folder) + (handler.getString("IDS_A") != "A");
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
    EXPECT_EQ(handler.getString("IDS_B"), "B");
}

void print(const char* label, const TStr& text)
{
    std::printf("%s=[%s]\n", label, text.utf8());
}

}  // namespace

// `argument`: a folder holding "en" and "de" tables, where the error log goes too.
KYRO_CHILD_ROLE(hostLoad)
{
    const TPath folder(argument.c_str());
    KyroLogger::instance_m()->setLogFileName(folder / "errors.log");
    print("before", kyrointutil::resourceString("IDS_A"));
    print("folder", kyrointutil::resourceFolder());
    std::printf("missing=%d", kyrointutil::setResourceFolder(folder / "missing"));
    std::printf(" empty=%d\n", kyrointutil::setResourceFolder(""));
    print("folder", kyrointutil::resourceFolder());
    std::printf("en=%d\n", kyrointutil::setResourceFolder(folder / "en"));
    print("folder", kyrointutil::resourceFolder());
    print("text", kyrointutil::resourceString("IDS_A"));
    print("null", kyrointutil::resourceString(nullptr));
    print("singleton", CKyroUtilSingleton<CKyroIntResHandler>::instance().getString("IDS_A"));
    std::printf("de=%d\n", kyrointutil::setResourceFolder(folder / "de" + "\\"));
    print("folder", kyrointutil::resourceFolder());
    print("text", kyrointutil::resourceString("IDS_A"));
    destroyGlobal();   // the clean-up registry deletes the handler; the next starts unloaded
    print("after clean-up", kyrointutil::resourceString("IDS_A"));
    std::printf("de=%d\n", kyrointutil::setResourceFolder(folder / "de"));
    print("text", kyrointutil::resourceString("IDS_A"));
    return 0;
}

TEST(StringTableHost, LoadsTheFolderTheHostNamesAndRecordsFailedLoads)
{
    TempFolder temp;
    writeTable(temp / "en", table(entry("IDS_A", "English")));
    writeTable(temp / "de", table(entry("IDS_A", "Deutsch")));
    std::string output;
    ASSERT_TRUE(runRole(("hostLoad:" + std::string(temp.path().utf8())).c_str(), &output));
    const std::string en = std::string((temp / "en").utf8()) + "\\";
    const std::string de = std::string((temp / "de").utf8()) + "\\";
    EXPECT_EQ(output, "before=[]\nfolder=[]\nmissing=0 empty=0\nfolder=[]\nen=1\nfolder=[" + en +
                          "]\ntext=[English]\nnull=[]\nsingleton=[English]\nde=1\nfolder=[" + de +
                          "]\ntext=[English]\nafter clean-up=[]\nde=1\ntext=[Deutsch]\n");
    EXPECT_EQ(libraryRecords(temp / "errors.log"), (std::vector<std::string>(2, "30@CKyroIntResHandler.cpp")));
}
