// KyroDelimitedFile: the exact bytes of its lines, the life of its stream, and what a failed
// write leaves behind.
#include "kyro/diagnostics/KyroDelimitedFile.h"

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
};

std::string sectionOf(const KyroDelimitedFile& file, const char* separator)
{
    return file.getCurrentSection(separator).utf8();
}

}  // namespace

TEST(DelimitedFile, StampsAndLinesWithAGivenStampAreExact)
{
    TempFolder temp;
    StampedFile file(temp / "fixed.log");
    EXPECT_EQ(file.formatDate(2026, 1, 5), "2026/01/05");
    EXPECT_EQ(file.formatDate(2026, 12, 31), "2026/12/31");
    EXPECT_EQ(file.formatTime(0, 0, 0), "00:00:00");
    EXPECT_EQ(file.formatTimeWMilliSecs(9, 0, 3, 7), "09:00:03:7");
    EXPECT_EQ(file.formatTimeWMilliSecs(0, 0, 9, -1), "00:00:09:");
    EXPECT_EQ(file.formatSection("2026/01/05", "09:05:03", "4242", "\t"), "4242\t2026/01/05\t09:05:03");
    EXPECT_EQ(file.formatSection("2026/01/05", "", "4242", "\t"), "");

    ASSERT_TRUE(file.open(false));
    const std::string stamp = "4242\t2026/01/05\t09:05:03", longValue(300, 'v');
    KyroDelimitedFile::PairList pairs = {{"Reason", "Fatal error"}, {"", ""}, {"Value", "a,b=c\td"}}, none;
    // As TStr: with plain literals the public append(key, value, closeAfter) would be chosen.
    EXPECT_TRUE(file.append(TStr(stamp.c_str()), TStr("Long"), TStr(longValue.c_str())));
    EXPECT_TRUE(file.append(stamp.c_str(), pairs));
    EXPECT_FALSE(file.append(TStr(""), TStr("k"), TStr("v")) || file.append(stamp.c_str(), none));
    file.close();
    EXPECT_EQ(readFileBytes(temp / "fixed.log"),
              textLines(stamp + "\tLong=" + longValue + "\n" + stamp + "\tReason=Fatal error,=,Value=a,b=c\td\n"));
}

TEST(DelimitedFile, RecordsWithAndWithoutMilliseconds)
{
    TempFolder temp;
    const TPath path = temp / "records.log";
    KyroDelimitedFile file(path);
    KyroDelimitedFile::PairList pairs = {{"Reason", "Fatal error"}, {"ComputerName", "HOST"}}, none;
    KyroDelimitedFile::ItemList items = {"a", "b"}, noItems, utf8 = {"Kyro", "d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC"};
    // Without a stamp nothing is written.
    EXPECT_FALSE(file.isCurrentSectionSet() || file.write("Reason", "x") || file.writeDebugLog(items, "\t"));
    file.updateCurrentSection(false);
    const std::string plain = sectionOf(file, "\t");
    EXPECT_FALSE(file.append(none, false) || file.writeDebugLog(noItems, "\t"));
    EXPECT_TRUE(file.append(pairs, false) && file.write("Line", -1));
    EXPECT_TRUE(file.append(pairs, true));   // same stamp, then closed
    file.updateCurrentSection(true);
    const std::string precise = sectionOf(file, ",");
    EXPECT_TRUE(std::regex_match(precise, std::regex("[0-9]+,[0-9]{4}/[0-9]{2}/[0-9]{2},[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{1,3}")))
        << precise;
    EXPECT_TRUE(file.writeDebugLog(items, ",") && file.writeDebugLog(utf8, "\t"));
    file.close();
    const std::string reason = "\tReason=Fatal error,ComputerName=HOST\n";
    EXPECT_EQ(readFileBytes(path), textLines(plain + reason + plain + "\tLine=-1\n" + plain + reason + precise + ",a,b,\n" +
                                             sectionOf(file, "\t") + "\tKyro\td\xC3\xA9j\xC3\xA0 \xE2\x82\xAC\t\n"));
}

TEST(DelimitedFile, FilesThatCannotBeOpened)
{
    TempFolder temp;
    KyroDelimitedFile unnamed(TStr("")), missingFolder(temp / "no such folder\\x.log"), folder(temp.path());
    KyroDelimitedFile::ItemList items = {"a"};
    for (KyroDelimitedFile* file : {&unnamed, &missingFolder, &folder}) {
        file->updateCurrentSection(false);
        file->clearContents();
        EXPECT_FALSE(file->open(false) || file->write("k", "v") || file->writeDebugLog(items, "\t"));
    }
    EXPECT_FALSE(fileExists(temp / "no such folder"));
}

TEST(DelimitedFile, StreamLifecycle)
{
    TempFolder temp;
    const TPath first = temp / "first.log", second = temp / "second.log";
    KyroDelimitedFile file(first);
    file.updateCurrentSection(false);
    const std::string section = sectionOf(file, "\t");
    const auto line = [&section](const char* value) { return section + "\tk=" + value + "\n"; };

    // open(true) on an open stream keeps it and does not truncate; after append(..., true)
    // no stream is left open, and open(true) truncates.
    ASSERT_TRUE(file.write("k", "1") && file.open(true));
    file.close();
    EXPECT_EQ(readFileBytes(first), textLines(line("1")));
    ASSERT_TRUE(file.append("k", "2", true) && file.open(true));
    file.close();
    EXPECT_EQ(readFileBytes(first), "");
    // The same name keeps the stream; another name closes it.
    ASSERT_TRUE(file.write("k", "3"));
    file.setFilename(first);
    ASSERT_TRUE(file.write("k", "4"));
    file.setFilename(second);
    EXPECT_EQ(readFileBytes(first), textLines(line("3") + line("4")));
    // clearContents: zero length, no stream left open; refresh: a file removed meanwhile is
    // created afresh on the next write.
    ASSERT_TRUE(file.write("k", "5"));
    file.clearContents();
    EXPECT_EQ(readFileBytes(second), "");
    ASSERT_TRUE(file.write("k", "6"));
    file.refresh();
    TPath(second).remove();
    ASSERT_TRUE(file.write("k", "7"));
    file.close();
    EXPECT_EQ(readFileBytes(second), textLines(line("7")));

}

namespace {

// Steps of a host that keeps the file open: 'w' a key/value line, '[' beginRecord, ']'
// endRecord. Lines are numbered in step order (k=1, k=2, ...).
struct FailureCase {
    const char* name;
    const char* before;   // the file's bytes before the first step
    const char* steps;
    long failingWrite;    // the nth line handed to the file comes out short (0: none)
    const char* answers;  // 't'/'f' per step that answers (all but 'c')
    const char* kept;     // the numbers of the lines the file holds afterwards
};

const FailureCase kFailureCases[] = {
    {"a short write costs that line only", "", "www", 2, "tft", "13"},
    {"the first line fails", "", "www", 1, "ftt", "23"},
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
            if (*step == 'w') {
                ++number;
                lines[number] = section + "\tk=" + std::to_string(number) + "\n";
            }
            const bool answer = *step == 'w' ? file.write("k", number) : *step == '[' ? file.beginRecord() : file.endRecord();
            answers += answer ? 't' : 'f';
        }
        file.close();
        kyro::platform::disarmFaults();
        EXPECT_EQ(answers, c.answers);
        // A cut-short line before is ended when anything is kept after it.
        std::string kept = c.before[0] != '\0' && c.before[std::strlen(c.before) - 1] != '\n' && c.kept[0] != '\0' ? "\n" : "";
        for (const char* n = c.kept; *n != '\0'; ++n)
            kept += lines[*n - '0'];
        EXPECT_EQ(readFileBytes(path), c.before + textLines(kept));
    }
}
