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
    KyroDelimitedFile::PairList pairs = {{"Reason", "Fatal error"}, {"", ""}, {"Value", "a,b=c\td"}};
    // (Spelled as TStr: with a plain literal the public append(key, value, closeAfter)
    // would win overload resolution.)
    EXPECT_TRUE(file.append(TStr("4242\t2026/01/05\t09:05:03"), TStr("Reason"), TStr("Fatal error")));
    EXPECT_TRUE(file.append("4242\t2026/01/05\t09:05:03", pairs));
    EXPECT_FALSE(file.append(TStr(""), TStr("k"), TStr("v")));
    KyroDelimitedFile::PairList none;
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
    EXPECT_TRUE(file.append(pairs, true));  // same stamp, then closed

    file.updateCurrentSection(true);
    const std::string precise = sectionOf(file, ",");
    EXPECT_TRUE(std::regex_match(precise, std::regex("[0-9]+,[0-9]{4}/[0-9]{2}/[0-9]{2},[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{1,3}")))
        << precise;
    KyroDelimitedFile::ItemList items = {"a", "b"};
    EXPECT_TRUE(file.writeDebugLog(items, ","));
    KyroDelimitedFile::ItemList utf8 = {"Kyro", "d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC \xE6\x97\xA5"};
    EXPECT_TRUE(file.writeDebugLog(utf8, "\t"));
    file.close();

    EXPECT_EQ(readFileBytes(path),
              textLines(plain + "\tReason=Fatal error,ComputerName=HOST\n" +
                        plain + "\tFile=a.cpp\n" +
                        plain + "\tLine=0\n" +
                        plain + "\tLine=-1\n" +
                        plain + "\tReason=Fatal error,ComputerName=HOST\n" +
                        precise + ",a,b,\n" +
                        sectionOf(file, "\t") + "\tKyro\td\xC3\xA9j\xC3\xA0 \xE2\x82\xAC \xE6\x97\xA5\t\n"));
}

TEST(DelimitedFile, NothingIsWrittenWithoutASection)
{
    TempFolder temp;
    const TPath path = temp / "unstamped.log";
    KyroDelimitedFile file(path);
    EXPECT_FALSE(file.write("Reason", "x"));
    EXPECT_TRUE(fileExists(path));  // opened, and so created, all the same
    KyroDelimitedFile::ItemList items = {"a"};
    EXPECT_FALSE(file.writeDebugLog(items, "\t"));
    file.close();
    EXPECT_EQ(readFileBytes(path), "");

    file.updateCurrentSection(false);
    KyroDelimitedFile::PairList none;
    EXPECT_FALSE(file.append(none, true));
    KyroDelimitedFile::ItemList noItems;
    EXPECT_FALSE(file.writeDebugLog(noItems, "\t"));
    file.close();
    EXPECT_EQ(readFileBytes(path), "");
}

TEST(DelimitedFile, FilesThatCannotBeOpened)
{
    TempFolder temp;
    KyroDelimitedFile unnamed(TStr(""));
    unnamed.updateCurrentSection(false);
    EXPECT_FALSE(unnamed.open(false));
    EXPECT_FALSE(unnamed.write("k", "v"));
    unnamed.clearContents();

    KyroDelimitedFile missingFolder(temp / "no such folder\\x.log");
    missingFolder.updateCurrentSection(false);
    EXPECT_FALSE(missingFolder.open(false));
    EXPECT_FALSE(missingFolder.write("k", "v"));
    KyroDelimitedFile::ItemList items = {"a"};
    EXPECT_FALSE(missingFolder.writeDebugLog(items, "\t"));
    EXPECT_FALSE(fileExists(temp / "no such folder"));

    KyroDelimitedFile folder(temp.path());
    folder.updateCurrentSection(false);
    EXPECT_FALSE(folder.write("k", "v"));
}

TEST(DelimitedFile, StreamLifecycle)
{
    TempFolder temp;
    const TPath first = temp / "first.log";
    const TPath second = temp / "second.log";
    KyroDelimitedFile file(first);
    file.updateCurrentSection(false);
    const std::string section = sectionOf(file, "\t");

    // open(true) on an open stream keeps it and does not truncate.
    ASSERT_TRUE(file.write("k", "1"));
    EXPECT_TRUE(file.open(true));
    file.close();
    EXPECT_EQ(readFileBytes(first), textLines(section + "\tk=1\n"));

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
    EXPECT_EQ(readFileBytes(first), textLines(section + "\tk=3\n" + section + "\tk=4\n"));
    ASSERT_TRUE(file.write("k", "5"));
    file.close();
    EXPECT_EQ(readFileBytes(second), textLines(section + "\tk=5\n"));

    // refresh: a file removed meanwhile is created afresh on the next write.
    ASSERT_TRUE(file.write("k", "6"));
    file.refresh();
    TPath(second).remove();
    ASSERT_TRUE(file.write("k", "7"));
    file.close();
    EXPECT_EQ(readFileBytes(second), textLines(section + "\tk=7\n"));

    // clearContents: zero length, no stream left open.
    ASSERT_TRUE(file.write("k", "8"));
    file.clearContents();
    EXPECT_EQ(readFileBytes(second), "");
    writeFileBytes(second, "outside\n");
    ASSERT_TRUE(file.write("k", "9"));  // reopened for appending
    file.close();
    EXPECT_EQ(readFileBytes(second), "outside\n" + textLines(section + "\tk=9\n"));

    // clearContents creates a missing file.
    KyroDelimitedFile fresh(temp / "fresh.log");
    fresh.clearContents();
    EXPECT_TRUE(fileExists(temp / "fresh.log"));
}

TEST(DelimitedFile, TruncatingOpenWritesAtTheEnd)
{
    TempFolder temp;
    const TPath path = temp / "truncated.log";
    writeFileBytes(path, "old content\n");
    KyroDelimitedFile file(path);
    file.updateCurrentSection(false);
    ASSERT_TRUE(file.open(true));
    ASSERT_TRUE(file.write("a", "1"));
    ASSERT_TRUE(file.write("b", "2"));
    file.close();
    const std::string section = sectionOf(file, "\t");
    EXPECT_EQ(readFileBytes(path), textLines(section + "\ta=1\n" + section + "\tb=2\n"));
}

TEST(DelimitedFile, LinesOfSeveralWritersInterleaveWhole)
{
    // Two writers on one file, each appending: every line lands whole, at the end.
    TempFolder temp;
    const TPath path = temp / "shared.log";
    KyroDelimitedFile one(path);
    KyroDelimitedFile two(path);
    one.updateCurrentSection(false);
    two.updateCurrentSection(false);
    const std::string section = sectionOf(one, "\t");
    ASSERT_TRUE(one.append("w", "1", true));
    ASSERT_TRUE(two.append("w", "2", true));
    ASSERT_TRUE(one.append("w", "3", true));
    EXPECT_EQ(readFileBytes(path),
              textLines(section + "\tw=1\n" + section + "\tw=2\n" + section + "\tw=3\n"));
}

// A log folder others can write (a shared one, or a host with umask 000): a link planted
// at the log's name never takes a record into another file, and a log we make is ours only.
TEST(DelimitedFileLinks, ARecordIsNeverAppendedThroughAPlantedLink)
{
    TempFolder temp;
    const TPath victim = temp / "victim.txt";
    writeFileBytes(victim, "precious");
    const TPath log = temp / "KyroDebug.log";
    if (!makeSymbolicLink(log, victim))
        GTEST_SKIP() << "no symbolic links can be made here (Wine 8 has none for Windows "
                        "programs)";
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
    const TPath log = temp / "KyroDebug.log";
    KyroDelimitedFile file(log);
    file.updateCurrentSection(false);
    EXPECT_TRUE(file.append("Key", "Value", true));
    setCreationMask(old);
    std::string detail;
    EXPECT_TRUE(fileIsUserOnly(log, &detail)) << detail;
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
    using kyro::platform::FaultPoint;
    TempFolder temp;
    for (const FailureCase& c : kFailureCases) {
        SCOPED_TRACE(c.name);
        const TPath path = temp / "failing.log";
        writeFileBytes(path, c.before);
        KyroDelimitedFile file(path);
        file.updateCurrentSection(false);
        const std::string section = sectionOf(file, "\t");
        std::string answers;
        std::string lines[10];
        int number = 0;
        kyro::platform::armFault(FaultPoint::FileWrite, c.failingWrite);
        for (const char* step = c.steps; *step != '\0'; ++step) {
            bool answer = false;
            switch (*step) {
            case 'w':
                ++number;
                lines[number] = section + "\tk=" + std::to_string(number) + "\n";
                answer = file.write("k", number);
                break;
            case 'd': {
                ++number;
                lines[number] = section + "\td" + std::to_string(number) + "\t\n";
                KyroDelimitedFile::ItemList items = {TStr(("d" + std::to_string(number)).c_str())};
                answer = file.writeDebugLog(items, "\t");
                break;
            }
            case '[':
                answer = file.beginRecord();
                break;
            case ']':
                answer = file.endRecord();
                break;
            default:
                file.close();
                continue;
            }
            answers += answer ? 't' : 'f';
        }
        file.close();
        kyro::platform::disarmFaults();
        EXPECT_EQ(answers, c.answers);
        std::string kept = *c.before != '\0' && c.before[std::strlen(c.before) - 1] != '\n' && *c.kept != '\0'
                               ? "\n"
                               : "";
        for (const char* n = c.kept; *n != '\0'; ++n)
            kept += lines[*n - '0'];
        EXPECT_EQ(readFileBytes(path), c.before + textLines(kept));
    }
}
