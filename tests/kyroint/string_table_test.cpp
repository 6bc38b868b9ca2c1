// The resource string table: where load looks, the lookup rules, and the process-wide
// handler the host loads (in a child process, so that it starts unloaded).
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/int/CKyroIntResHandler.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "HostProcess.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char kTableFile[] = "KyroIntRes.xml";

std::string entry(const std::string& id, const std::string& caption)
{
    return "<STRING ID=\"" + id + "\"><CAPTION>" + caption + "</CAPTION></STRING>";
}

// `folder` (made when missing) with a KyroIntRes.xml of `entries`.
TPath writeTable(TPath folder, const std::string& entries)
{
    folder.createDirectories();
    writeFileBytes(folder / kTableFile, "<?xml version=\"1.0\"?>\n<KYROSTRINGTABLE>" + entries + "</KYROSTRINGTABLE>\n");
    return folder;
}

TEST(StringTable, WhereALoadLooks)
{
    TempFolder temp;
    CKyroIntResHandler handler;
    (temp / "folder" / kTableFile).createDirectories();   // a folder named like the file
    for (const TStr& nothing : {TStr(""), TStr(temp / "missing"), TStr(temp.path()), TStr(temp / "folder")})
        EXPECT_FALSE(handler.load(nothing)) << nothing.utf8();
    // A trailing separator, and a folder name that is not ASCII.
    for (const TStr& folder : {writeTable(temp / "en", entry("IDS_A", "A")) + "\\",
                               TStr(writeTable(temp / "Grüße 日本", entry("IDS_A", "A")))}) {
        CKyroIntResHandler other;
        EXPECT_TRUE(other.load(folder)) << folder.utf8();
        EXPECT_EQ(other.getString("IDS_A"), "A") << folder.utf8();
    }
}

TEST(StringTable, LookupRules)
{
    TempFolder temp;
    CKyroIntResHandler handler;
    ASSERT_TRUE(handler.load(writeTable(
        temp / "res", "<ITEM ID=\"IDS_BEFORE_FIRST\"><CAPTION>x</CAPTION></ITEM><!-- a comment -->"
                      "<STRING ID=\"IDS_TWICE\"><TEXT>no caption here</TEXT></STRING>" +
                          entry("IDS_TWICE", "second") + entry("IDS_TWICE", "third") +
                          "<STRING><CAPTION>no identifier</CAPTION></STRING>" + entry("IDS_CASE", "Case") +
                          entry("IDS_ENTITIES", "&lt;&amp;&#233;") + entry("IDS_EMPTY", "") + entry("IDS_EMPTY", "x") +
                          entry("IDS_NESTED", "<B>bold</B>after") + entry("IDS_CDATA", "<![CDATA[a <raw>]]>") +
                          "<OTHER ID=\"IDS_OTHER_NAME\"><CAPTION>other element</CAPTION></OTHER>")));
    const struct {
        const char* id;
        const char* text;
    } rows[] = {
        {"IDS_TWICE", "second"},   // an entry without caption is passed over
        {"IDS_CASE", "Case"},         {"ids_case", ""}, {"IDS_CAS", ""},
        {"IDS_ENTITIES", "<&\xC3\xA9"}, {"IDS_EMPTY", ""},   // the first caption answers, even empty
        {"IDS_NESTED", "after"},      // the caption's first text
        {"IDS_CDATA", "a <raw>"},
        {"IDS_OTHER_NAME", "other element"},   // every element after the first entry
        {"IDS_BEFORE_FIRST", ""},              // nothing before the first entry
        {"", "no identifier"},                 // a missing identifier counts as empty
    };
    for (const auto& row : rows)
        EXPECT_EQ(handler.getString(row.id), row.text) << row.id;
}

}  // namespace

// `argument`: a folder holding "en" and "de" tables, where the error log goes too.
KYRO_CHILD_ROLE(hostLoad)
{
    using namespace kyrointutil;
    const TPath folder(argument.c_str());
    KyroLogger::instance_m()->setLogFileName(folder / "errors.log");
    std::printf("%d%d", setResourceFolder(folder / "missing"), setResourceFolder(""));
    const bool english = setResourceFolder(folder / "en");
    std::printf(" %d %s", english, resourceFolder().utf8());
    const bool german = setResourceFolder(folder / "de");   // the table loaded first stays
    std::printf(" %d %s", german, resourceString("IDS_A").utf8());
    destroyGlobal();   // the clean-up registry deletes the handler; the next starts unloaded
    std::printf(" [%s]", resourceString("IDS_A").utf8());
    const bool again = setResourceFolder(folder / "de");
    std::printf(" %d %s\n", again, resourceString("IDS_A").utf8());
    return 0;
}

TEST(StringTableHost, LoadsTheFolderTheHostNamesAndRecordsFailedLoads)
{
    TempFolder temp;
    writeTable(temp / "en", entry("IDS_A", "English"));
    writeTable(temp / "de", entry("IDS_A", "Deutsch"));
    std::string output;
    ASSERT_TRUE(runRole(("hostLoad:" + std::string(temp.path().utf8())).c_str(), &output));
    EXPECT_EQ(output, "00 1 " + std::string((temp / "en").utf8()) + "\\ 1 English [] 1 Deutsch\n");
    EXPECT_EQ(libraryRecords(temp / "errors.log"), (std::vector<std::string>(2, "30@CKyroIntResHandler.cpp")));
}
