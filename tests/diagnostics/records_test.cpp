// Loggable records: the exact lines each kind writes, with and without error-table
// entries, and the host facts they carry.
#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/KyroDebugLog.h"
#include "kyro/diagnostics/KyroErrorBase.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/diagnostics/KyroPerfLog.h"

#include "FileBytes.h"
#include "LogLines.h"
#include "TempFolder.h"
#include "kyro/platform/system_info.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

namespace {

// Opens up clear(), which the records keep protected (except the performance record).
class ClearableError : public KyroErrorBase {
public:
    using KyroErrorBase::KyroErrorBase;
    using KyroErrorBase::clear;
};

class ClearableDebugLog : public KyroDebugLog {
public:
    using KyroDebugLog::KyroDebugLog;
    using KyroDebugLog::clear;
};

// A logger on a temporary file with the test error table loaded (or none).
class RecordFixture : public testing::Test {
protected:
    void SetUp() override
    {
        writeTestTable(m_temp / "table.xml");
        m_logger.setLogFileName(m_temp / "records.log");
        m_logger.errorTable().SetPathName(m_temp / "table.xml");
        ASSERT_TRUE(m_logger.errorTable().Load());
        m_bare.setLogFileName(m_temp / "bare.log");
        m_host = "ComputerName=" + HostFacts::hostName();
        m_os = "OS=" + HostFacts::platformOS();
    }

    TempFolder m_temp;
    KyroLogger m_logger{false};
    KyroLogger m_bare{false};   // no error table
    std::string m_host;
    std::string m_os;
};

}  // namespace

TEST(HostFacts, ComputerNameAndSystemVersion)
{
    const std::string os = HostFacts::platformOS();
    EXPECT_EQ(HostFacts::hostName(), kyro::platform::computerName());
    EXPECT_FALSE(HostFacts::hostName().empty());
    // major.minor.build.service pack; without a service pack the text ends with the dot.
    EXPECT_TRUE(std::regex_match(os, std::regex("[0-9]+\\.[0-9]+\\.[0-9]+\\..*"))) << os;
#if KYRO_TEST_WINDOWS
    // What Wine's default prefix (Windows 7) reports, as that system does.
    EXPECT_EQ(os, "6.1.7601.Service Pack 1");
    EXPECT_EQ(HostFacts::hostName().find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos);
    EXPECT_LE(HostFacts::hostName().size(), 15u);
#else
    EXPECT_EQ(os.back(), '.');
#endif
}

TEST_F(RecordFixture, ErrorRecordLines)
{
    const KyroErrorBase error(Kyro::kVendorVex, 3, "C:\\src\\mod\\main.cpp", 42, "2.1");
    EXPECT_EQ(logLines(m_logger, error),
              (Lines{"Reason=Fatal error", m_host, m_os, "File=main.cpp,Line=42",
                     "VendorID=2 [Vex Companion]", "VendorError=3 [The dialog failed]",
                     "Vex Companion=2.1"}));

    // The bytes themselves: the stamp, a tab, the pair, the platform's line end.
    m_logger.setLogFileName(m_temp / "bytes.log");
    const KyroErrorBase small(Kyro::kVendorVex, 0, "", 1, "");
    m_logger.startLogging();
    const std::string stamp = m_logger.getHeader().utf8();
    m_logger.log(small);
    EXPECT_EQ(readFileBytes(m_temp / "bytes.log"),
              textLines(stamp + "\tReason=Fatal error\n" + stamp + "\t" + m_host + "\n" + stamp +
                        "\t" + m_os + "\n" + stamp + "\tFile=,Line=1\n" + stamp +
                        "\tVendorID=2 [Vex Companion]\n" + stamp + "\tVendorError=0\n"));
}

TEST_F(RecordFixture, ErrorRecordEdgeCases)
{
    // No reason: no "Reason" line, all the others.
    KyroErrorBase quiet(Kyro::kVendorVex, 3, "main.cpp", 7, "");
    quiet.setReason("");
    EXPECT_EQ(logLines(m_logger, quiet),
              (Lines{m_host, m_os, "File=main.cpp,Line=7", "VendorID=2 [Vex Companion]",
                     "VendorError=3 [The dialog failed]"}));

    // The "File" forms: a base name, or the whole thrown file when there is none.
    struct Row {
        const char* thrownFile;
        const char* line;
    };
    const Row rows[] = {{"C:\\src\\mod\\main.cpp", "File=main.cpp,Line=0"},
                        {"main.cpp", "File=main.cpp,Line=0"},
                        {"C:\\src\\", "File=C:\\src\\,Line=0"},
                        {"", "File=,Line=0"},
                        {"a,b=c.cpp", "File=a,b=c.cpp,Line=0"}};
    for (const Row& row : rows) {
        const KyroErrorBase error(Kyro::kVendorVex, 3, row.thrownFile, 0, "");
        const Lines lines = logLines(m_logger, error);
        ASSERT_EQ(lines.size(), 6u) << row.thrownFile;
        EXPECT_EQ(lines[3], row.line) << row.thrownFile;
    }

    // A vendor the table does not know: no brackets, no vendor-version line.
    const KyroErrorBase unknown(Kyro::kVendorLicense, 12, "x.cpp", 1, "3.0");
    EXPECT_EQ(logLines(m_logger, unknown),
              (Lines{"Reason=Fatal error", m_host, m_os, "File=x.cpp,Line=1", "VendorID=7",
                     "VendorError=12"}));
    // A known vendor with an unknown code, and no version: the name stays, nothing else.
    const KyroErrorBase unknownCode(Kyro::kVendorVex, -4, "x.cpp", 1, "");
    EXPECT_EQ(logLines(m_logger, unknownCode),
              (Lines{"Reason=Fatal error", m_host, m_os, "File=x.cpp,Line=1",
                     "VendorID=2 [Vex Companion]", "VendorError=-4"}));

    // Cleared: line -1, vendor and status 0, no reason, no version.
    ClearableError cleared(Kyro::kVendorVex, 3, "C:\\a\\b.cpp", 9, "2.1");
    cleared.clear();
    EXPECT_EQ(cleared.getThrownLine(), -1);
    EXPECT_EQ(logLines(m_logger, cleared),
              (Lines{m_host, m_os, "File=,Line=-1", "VendorID=0", "VendorError=0"}));

    // Without an error table the numbers stand alone.
    const KyroErrorBase error(Kyro::kVendorVex, 3, "main.cpp", 42, "2.1");
    EXPECT_EQ(logLines(m_bare, error),
              (Lines{"Reason=Fatal error", m_host, m_os, "File=main.cpp,Line=42", "VendorID=2",
                     "VendorError=3"}));
}

TEST_F(RecordFixture, LibraryErrorLines)
{
    // The library's own error: one description line, then its name and version.
    const CKyroIntError own(Kyro::kVendorKyroInt, CKyroIntError::kCompanionUnreachable,
                            "C:\\kyro\\dialogs.cpp", 120, "15.0.73.0");
    EXPECT_EQ(logLines(m_logger, own),
              (Lines{"Reason=Fatal error", m_host, m_os, "File=dialogs.cpp,Line=120",
                     "KyroIntError=5 [The companion could not be reached]",
                     "Kyro Integration Library=15.0.73.0"}));

    // Passed on from another component: the library's line, then the component's two.
    const CKyroIntError passedOn(Kyro::kVendorVex, 3, "vex.cpp", 8, "2.1");
    EXPECT_EQ(passedOn.getInternalCode(), 3);
    EXPECT_EQ(logLines(m_logger, passedOn),
              (Lines{"Reason=Fatal error", m_host, m_os, "File=vex.cpp,Line=8", "KyroIntError=3",
                     "VendorID=2 [Vex Companion]", "VendorError=3 [The dialog failed]",
                     "Vex Companion=2.1"}));
}

TEST_F(RecordFixture, DebugRecordLines)
{
    const KyroDebugLog message(Kyro::kVendorHost, "Started, 3 tasks\tqueued");
    EXPECT_EQ(logLines(m_logger, message), (Lines{"Host\tStarted, 3 tasks\tqueued\t"}));

    // The display name is chosen at construction.
    KyroDebugLog moved(Kyro::kVendorHost, "m");
    moved.setComponentID(Kyro::kVendorUpdate);
    EXPECT_EQ(moved.getComponentID(), Kyro::kVendorUpdate);
    EXPECT_EQ(logLines(m_logger, moved), (Lines{"Host\tm\t"}));

    struct Row {
        int id;
        const char* name;
    };
    const Row rows[] = {{1, "KyroInt"}, {2, "Vex"},     {3, "Host"},    {4, "Setup"},
                        {5, "Update"},  {6, "None"},    {7, "License"}, {8, "Render"},
                        {9, "Network"}, {10, "Plugin"}, {0, "None"},    {11, "None"},
                        {-1, "None"}};
    for (const Row& row : rows) {
        const KyroDebugLog record(static_cast<Kyro::VendorID>(row.id), "x");
        EXPECT_EQ(logLines(m_logger, record), (Lines{std::string(row.name) + "\tx\t"})) << row.id;
    }

    EXPECT_EQ(logLines(m_logger, KyroDebugLog()), (Lines{"None\t\t"}));
    ClearableDebugLog cleared(Kyro::kVendorHost, "gone");
    cleared.setReason("r");
    cleared.clear();
    EXPECT_EQ(cleared.getReason(), "");
    EXPECT_EQ(cleared.getDebugLogInfo(), "");
    EXPECT_EQ(cleared.getComponentID(), Kyro::kVendorNone);
    EXPECT_EQ(logLines(m_logger, cleared), (Lines{"\t\t"}));
}

TEST_F(RecordFixture, PerformanceRecordLines)
{
    const std::string facts = HostFacts::platformOS() + "," + HostFacts::hostName() + ",15.0.73.0,";
    KyroPerfLogData data;
    data.field1 = "open";
    data.field2 = "";
    data.marker = "KYROINITIALIZE.START";
    KyroPerfLog marker(Kyro::kVendorKyroInt, data);
    EXPECT_EQ(logLines(m_logger, marker, ",", true),
              (Lines{facts + "open:NA,NA:NA,KyroInt,KYROINITIALIZE.START,"}));

    // The stamp carries milliseconds.
    m_logger.startLoggingWMilliSecs();
    EXPECT_TRUE(std::regex_match(std::string(m_logger.getHeader().utf8()),
                                 std::regex("[0-9]+\t[0-9]{4}/[0-9]{2}/[0-9]{2}\t[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{1,3}")));

    // An unknown component shows "None"; clear() keeps the display name and message.
    KyroPerfLogData all;
    all.field1 = "a";
    all.field2 = "b";
    all.field3 = "c";
    all.field4 = "d";
    all.marker = "LOAD.STOP";
    KyroPerfLog other(static_cast<Kyro::VendorID>(6), all);
    EXPECT_EQ(logLines(m_logger, other, ",", true), (Lines{facts + "a:b,c:d,None,LOAD.STOP,"}));
    KyroPerfLog cleared(Kyro::kVendorVex, all);
    cleared.clear();
    EXPECT_EQ(cleared.getComponentID(), Kyro::kVendorNone);
    EXPECT_EQ(logLines(m_logger, cleared, ",", true), (Lines{facts + ":,:,Vex,,"}));

    // A default data record is "NA" throughout.
    EXPECT_EQ(logLines(m_logger, KyroPerfLog(Kyro::kVendorVex, KyroPerfLogData()), ",", true),
              (Lines{facts + "NA:NA,NA:NA,Vex,NA,"}));
}

TEST_F(RecordFixture, RecordsAreValues)
{
    KyroErrorBase original(Kyro::kVendorVex, 3, "C:\\a\\one.cpp", 1, "2.1");
    original.setReason("first");
    const KyroErrorBase copy(original);
    original.setReason("changed");
    original.setThrownFile("two.cpp");
    original.setThrownLine(2);
    original.setVendorID(Kyro::kVendorHost);
    original.setVendorStatusID(4);
    original.setVendorVersion("9");
    EXPECT_EQ(copy.getReason(), "first");
    EXPECT_EQ(copy.getThrownFile(), "C:\\a\\one.cpp");
    EXPECT_EQ(copy.getVendorIDStr(), "2");
    EXPECT_EQ(copy.getVendorStatusIDStr(), "3");
    EXPECT_EQ(copy.getVendorStatusStr(), "3");
    EXPECT_EQ(copy.getVendorVersion(), "2.1");
    EXPECT_EQ(original.getThrownLine(), 2);
    EXPECT_EQ(original.getVendorID(), Kyro::kVendorHost);
    EXPECT_EQ(original.getVendorStatusID(), 4);

    KyroErrorBase assigned(Kyro::kVendorNone, 0, "", 0, "");
    assigned = copy;
    EXPECT_EQ(logLines(m_logger, assigned),
              (Lines{"Reason=first", m_host, m_os, "File=one.cpp,Line=1", "VendorID=2 [Vex Companion]",
                     "VendorError=3 [The dialog failed]", "Vex Companion=2.1"}));

    KyroDebugLog message(Kyro::kVendorHost, "one");
    KyroDebugLog copied(message);
    message.setDebugLogInfo("two");
    EXPECT_EQ(copied.getDebugLogInfo(), "one");
    EXPECT_EQ(logLines(m_logger, copied), (Lines{"Host\tone\t"}));

    // A record given no logger writes nothing, and no logger is no failure.
    original.dumpTechSupport(nullptr);
    message.dumpTechSupport(nullptr);
    KyroPerfLog(Kyro::kVendorVex, KyroPerfLogData()).dumpTechSupport(nullptr);
}

namespace {

// A record whose status is shown in words, through the virtual getVendorStatusStr().
class NamedStatusError : public KyroErrorBase {
public:
    NamedStatusError() : KyroErrorBase(Kyro::kVendorHost, 404, "h.cpp", 3, "") {}
    TStr getVendorStatusStr() const override { return "NOT_FOUND"; }

protected:
    void dumpVendorVersionInfo(KyroLogger* logger) const override
    {
        if (logger != nullptr)
            logger->logFile().write("Extra", "yes");
    }
};

}  // namespace

TEST_F(RecordFixture, SubclassesReplaceParts)
{
    EXPECT_EQ(logLines(m_logger, NamedStatusError()),
              (Lines{"Reason=Fatal error", m_host, m_os, "File=h.cpp,Line=3", "VendorID=3",
                     "VendorError=NOT_FOUND", "Extra=yes"}));
}
