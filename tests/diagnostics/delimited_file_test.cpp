// KyroDelimitedFile: the exact bytes of its lines and the life of its stream.
#include "kyro/diagnostics/KyroDelimitedFile.h"

#include "Accounts.h"
#include "FileBytes.h"
#include "TempFolder.h"
#include "kyro/platform/fault_injection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

namespace {

// Opens up the protected line writers and formatters, so lines with a fixed stamp can be
// checked byte for byte.
class StampedFile : public KyroDelimitedFile {
public:
    using KyroDelimitedFile::KyroDelimitedFile;
    using KyroDelimitedFile::append;
    using KyroDelimitedFile::formatDate;
    using KyroDelimitedFile::formatSection;
    using KyroDelimitedFile::formatTime;
    using KyroDelimitedFile::formatTimeWMilliSecs;
    static const char* tab() { return kTab; }
};

std::string sectionOf(const KyroDelimitedFile& file, const char* separator)
{
    return file.getCurrentSection(separator).utf8();
}

}  // namespace

TEST(DelimitedFile, FormatsStamps)
{
    StampedFile file("unused");
    EXPECT_EQ(file.formatDate(2026, 1, 5), "2026/01/05");
    EXPECT_EQ(file.formatDate(2026, 12, 31), "2026/12/31");
    EXPECT_EQ(file.formatTime(9, 5, 3), "09:05:03");
    EXPECT_EQ(file.formatTime(7, 0, 9), "07:00:09");
    EXPECT_EQ(file.formatTime(23, 59, 10), "23:59:10");
    EXPECT_EQ(file.formatTimeWMilliSecs(9, 5, 3, 7), "09:05:03:7");
    EXPECT_EQ(file.formatTimeWMilliSecs(7, 0, 9, 50), "07:00:09:50");
    EXPECT_EQ(file.formatTimeWMilliSecs(7, 0, 9, 312), "07:00:09:312");
    EXPECT_EQ(file.formatTimeWMilliSecs(7, 0, 9, -1), "07:00:09:");
    EXPECT_EQ(file.formatSection("2026/01/05", "09:05:03", "4242", "\t"), "4242\t2026/01/05\t09:05:03");
    EXPECT_EQ(file.formatSection("2026/01/05", "", "4242", "\t"), "");
    EXPECT_EQ(std::string(StampedFile::tab()), "\t");
}

TEST(DelimitedFile, LineWritersGiveExactBytes)
{
    TempFolder temp;
    StampedFile file(temp / "fixed.log");
    ASSERT_TRUE(file.open(false));
    KyroDelimitedFile::PairList pairs = {{"Reason", "Fatal error"}, {"", ""}, {"Value", "a,b=c\td"}}, none;
    // As TStr: with plain literals the public append(key, value, closeAfter) would be chosen.
    EXPECT_TRUE(file.append(TStr("4242\t2026/01/05\t09:05:03"), TStr("Reason"), TStr("Fatal error")));
    EXPECT_TRUE(file.append("4242\t2026/01/05\t09:05:03", pairs));
    EXPECT_FALSE(file.append(TStr(""), TStr("k"), TStr("v")));
    EXPECT_FALSE(file.append("4242\t2026/01/05\t09:05:03", none));
    file.close();
    EXPECT_EQ(readFileBytes(temp / "fixed.log"),
              textLines("4242\t2026/01/05\t09:05:03\tReason=Fatal error\n"
                        "4242\t2026/01/05\t09:05:03\tReason=Fatal error,=,Value=a,b=c\td\n"));
}

TEST(DelimitedFile, RecordsWithAndWithoutMilliseconds)
{
    TempFolder temp;
    const TPath path = temp / "records.log";
    KyroDelimitedFile file(path);
    EXPECT_FALSE(file.isCurrentSectionSet());
    file.updateCurrentSection(false);
    ASSERT_TRUE(file.isCurrentSectionSet());
    const std::string plain = sectionOf(file, "\t");
    EXPECT_TRUE(std::regex_match(plain, std::regex("[0-9]+\t[0-9]{4}/[0-9]{2}/[0-9]{2}\t[0-9]{2}:[0-9]{2}:[0-9]{2}")))
        << plain;
    KyroDelimitedFile::PairList pairs = {{"Reason", "Fatal error"}, {"ComputerName", "HOST"}};
    EXPECT_TRUE(file.append(pairs, false));
    EXPECT_TRUE(file.write("File", "a.cpp"));
    EXPECT_TRUE(file.write("Line", 0));
    EXPECT_TRUE(file.write("Line", -1));
    EXPECT_TRUE(file.append(pairs, true));   // same stamp, then closed

    file.updateCurrentSection(true);
    const std::string precise = sectionOf(file, ",");
    EXPECT_TRUE(std::regex_match(precise, std::regex("[0-9]+,[0-9]{4}/[0-9]{2}/[0-9]{2},[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{1,3}")))
        << precise;
    KyroDelimitedFile::ItemList items = {"a", "b"}, utf8 = {"Kyro", "d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC \xE6\x97\xA5"};
    EXPECT_TRUE(file.writeDebugLog(items, ","));
    EXPECT_TRUE(file.writeDebugLog(utf8, "\t"));
    file.close();
    EXPECT_EQ(readFileBytes(path),
              textLines(plain + "\tReason=Fatal error,ComputerName=HOST\n" + plain + "\tFile=a.cpp\n" + plain +
                        "\tLine=0\n" + plain + "\tLine=-1\n" + plain + "\tReason=Fatal error,ComputerName=HOST\n" +
                        precise + ",a,b,\n" + sectionOf(file, "\t") +
                        "\tKyro\td\xC3\xA9j\xC3\xA0 \xE2\x82\xAC \xE6\x97\xA5\t\n"));
}

TEST(DelimitedFile, NothingIsWrittenWithoutASection)
{
    TempFolder temp;
    const TPath path = temp / "unstamped.log";
    KyroDelimitedFile file(path);
    KyroDelimitedFile::ItemList items = {"a"}, noItems;
    KyroDelimitedFile::PairList none;
    EXPECT_FALSE(file.write("Reason", "x"));
    EXPECT_TRUE(fileExists(path));   // opened, and so created, all the same
    EXPECT_FALSE(file.writeDebugLog(items, "\t"));
    file.close();
    EXPECT_EQ(readFileBytes(path), "");
    file.updateCurrentSection(false);
    EXPECT_FALSE(file.append(none, true));
    EXPECT_FALSE(file.writeDebugLog(noItems, "\t"));
    file.close();
    EXPECT_EQ(readFileBytes(path), "");
}

TEST(DelimitedFile, FilesThatCannotBeOpened)
{
    TempFolder temp;
    KyroDelimitedFile unnamed(TStr("")), missingFolder(temp / "no such folder\\x.log"), folder(temp.path());
    KyroDelimitedFile::ItemList items = {"a"};
    unnamed.updateCurrentSection(false);
    EXPECT_FALSE(unnamed.open(false));
    EXPECT_FALSE(unnamed.write("k", "v"));
    unnamed.clearContents();
    missingFolder.updateCurrentSection(false);
    EXPECT_FALSE(missingFolder.open(false));
    EXPECT_FALSE(missingFolder.write("k", "v"));
    EXPECT_FALSE(missingFolder.writeDebugLog(items, "\t"));
    EXPECT_FALSE(fileExists(temp / "no such folder"));
    folder.updateCurrentSection(false);
    EXPECT_FALSE(folder.write("k", "v"));
}

TEST(DelimitedFile, StreamLifecycle)
{
    TempFolder temp;
    const TPath first = temp / "first.log", second = temp / "second.log";
    KyroDelimitedFile file(first);
    file.updateCurrentSection(false);
    const std::string section = sectionOf(file, "\t");
    const auto line = [&section](const char* value) { return section + "\tk=" + value + "\n"; };

    // open(true) on an open stream keeps it and does not truncate.
    ASSERT_TRUE(file.write("k", "1"));
    EXPECT_TRUE(file.open(true));
    file.close();
    EXPECT_EQ(readFileBytes(first), textLines(line("1")));
    // append(..., true) leaves no stream open: open(true) then really truncates.
    ASSERT_TRUE(file.append("k", "2", true));
    EXPECT_TRUE(file.open(true));
    file.close();
    EXPECT_EQ(readFileBytes(first), "");
    // The same name keeps the stream; another name closes it.
    ASSERT_TRUE(file.write("k", "3"));
    file.setFilename(first);
    ASSERT_TRUE(file.write("k", "4"));
    file.setFilename(second);
    EXPECT_EQ(file.getFilename(), second);
    EXPECT_EQ(readFileBytes(first), textLines(line("3") + line("4")));
    ASSERT_TRUE(file.write("k", "5"));
    file.close();
    EXPECT_EQ(readFileBytes(second), textLines(line("5")));
    // refresh: a file removed meanwhile is created afresh on the next write.
    ASSERT_TRUE(file.write("k", "6"));
    file.refresh();
    TPath(second).remove();
    ASSERT_TRUE(file.write("k", "7"));
    file.close();
    EXPECT_EQ(readFileBytes(second), textLines(line("7")));
    // clearContents: zero length, no stream left open; it creates a missing file.
    ASSERT_TRUE(file.write("k", "8"));
    file.clearContents();
    EXPECT_EQ(readFileBytes(second), "");
    writeFileBytes(second, "outside\n");
    ASSERT_TRUE(file.write("k", "9"));   // reopened for appending
    file.close();
    EXPECT_EQ(readFileBytes(second), "outside\n" + textLines(line("9")));
    KyroDelimitedFile fresh(temp / "fresh.log");
    fresh.clearContents();
    EXPECT_TRUE(fileExists(temp / "fresh.log"));

    // A truncating open writes at the end of what it writes.
    writeFileBytes(first, "old content\n");
    file.setFilename(first);
    ASSERT_TRUE(file.open(true));
    ASSERT_TRUE(file.write("k", "a"));
    ASSERT_TRUE(file.write("k", "b"));
    file.close();
    EXPECT_EQ(readFileBytes(first), textLines(line("a") + line("b")));

    // Two writers on one file, each appending: every line lands whole, at the end.
    KyroDelimitedFile one(temp / "shared.log"), two(temp / "shared.log");
    one.updateCurrentSection(false);
    two.updateCurrentSection(false);
    const std::string shared = sectionOf(one, "\t");
    ASSERT_TRUE(one.append("w", "1", true));
    ASSERT_TRUE(two.append("w", "2", true));
    ASSERT_TRUE(one.append("w", "3", true));
    EXPECT_EQ(readFileBytes(temp / "shared.log"),
              textLines(shared + "\tw=1\n" + shared + "\tw=2\n" + shared + "\tw=3\n"));
}

// A log folder others can write (a shared one, or a host with umask 000): a link planted
// at the log's name never takes a record into another file, and a log we make is ours only.
TEST(DelimitedFileLinks, ARecordIsNeverAppendedThroughAPlantedLink)
{
    TempFolder temp;
    const TPath victim = temp / "victim.txt", log = temp / "KyroDebug.log";
    writeFileBytes(victim, "precious");
    if (!makeSymbolicLink(log, victim))
        GTEST_SKIP() << "no symbolic links can be made here (Wine 8 has none for Windows programs)";
    KyroDelimitedFile file(log);
    file.updateCurrentSection(false);
    EXPECT_FALSE(file.append("Key", "Value", true));
    file.clearContents();
    EXPECT_EQ(readFileBytes(victim), "precious");
}

TEST(DelimitedFileLinks, ALogWeCreateIsOursOnly)
{
    TempFolder temp;
    const unsigned old = setCreationMask(0);
    KyroDelimitedFile file(temp / "KyroDebug.log");
    file.updateCurrentSection(false);
    EXPECT_TRUE(file.append("Key", "Value", true));
    setCreationMask(old);
    std::string detail;
    EXPECT_TRUE(fileIsUserOnly(temp / "KyroDebug.log", &detail)) << detail;
}

namespace {

// Steps of a host that keeps the file open: 'w' a key/value line, 'd' an item line, '['
// beginRecord, ']' endRecord, 'c' close. Lines are numbered in step order (k=1, d2, ...).
struct FailureCase {
    const char* name;
    const char* before;     // the file's bytes before the first step
    const char* steps;
    long failingWrite;      // the nth line handed to the file comes out short (0: none)
    const char* answers;    // 't'/'f' per step that answers (all but 'c')
    const char* kept;       // the numbers of the lines the file holds afterwards
};

const FailureCase kFailureCases[] = {
    {"a short write costs that line only", "", "www", 2, "tft", "13"},
    {"the first line fails", "", "www", 1, "ftt", "23"},
    {"an item line fails", "", "wdw", 2, "tft", "13"},
    {"a close after a failure cuts nothing", "", "wwcw", 2, "tft", "13"},
    {"what was there before stays", "outside\n", "ww", 1, "ft", "2"},
    {"a record with nothing failing stays", "", "[ww]", 0, "tttt", "12"},
    {"a failed record goes, the lines around it stay", "", "w[ww]w", 3, "tttfft", "14"},
    {"the rest of a failed record is not written", "", "[www]w", 1, "tfffft", "4"},
    {"the next record goes in", "", "[ww][ww]", 2, "ttfftttt", "34"},
    {"a cut-short line is ended first", "cut sh", "ww", 0, "tt", "12"},
    {"a failing first line leaves it cut short", "cut sh", "ww", 1, "ft", "2"},
    {"a failing record leaves it cut short", "cut sh", "[ww]", 2, "ttff", ""},
};

}  // namespace

TEST(DelimitedFile, AFailedLineCostsThatLineOnly)
{
    TempFolder temp;
    for (const FailureCase& c : kFailureCases) {
        SCOPED_TRACE(c.name);
        const TPath path = temp / "failing.log";
        writeFileBytes(path, c.before);
        KyroDelimitedFile file(path);
        file.updateCurrentSection(false);
        const std::string section = sectionOf(file, "\t");
        std::string answers, lines[10];
        int number = 0;
        kyro::platform::armFault(kyro::platform::FaultPoint::FileWrite, c.failingWrite);
        for (const char* step = c.steps; *step != '\0'; ++step) {
            if (*step == 'c') {
                file.close();
                continue;
            }
            bool answer = false;
            if (*step == 'w' || *step == 'd') {
                const std::string n = std::to_string(++number);
                KyroDelimitedFile::ItemList items = {TStr(("d" + n).c_str())};
                lines[number] = section + (*step == 'w' ? "\tk=" + n : "\td" + n + "\t") + "\n";
                answer = *step == 'w' ? file.write("k", number) : file.writeDebugLog(items, "\t");
            } else {
                answer = *step == '[' ? file.beginRecord() : file.endRecord();
            }
            answers += answer ? 't' : 'f';
        }
        file.close();
        kyro::platform::disarmFaults();
        EXPECT_EQ(answers, c.answers);
        // A cut-short line before is ended when anything is kept after it.
        std::string kept = *c.before != '\0' && c.before[std::strlen(c.before) - 1] != '\n' && *c.kept != '\0'
                               ? "\n" : "";
        for (const char* n = c.kept; *n != '\0'; ++n)
            kept += lines[*n - '0'];
        EXPECT_EQ(readFileBytes(path), c.before + textLines(kept));
    }
}
