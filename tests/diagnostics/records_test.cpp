// Loggable records: the exact lines each kind writes, with and without error-table
// entries, and the host facts they carry.
#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/KyroDebugLog.h"
#include "kyro/diagnostics/KyroErrorBase.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/diagnostics/KyroPerfLog.h"

#include "LogLines.h"
#include "TempFolder.h"
#include "kyro/platform/system_info.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

// Opens up clear(), which the error and debug records keep protected.
struct ClearableError : KyroErrorBase {
    using KyroErrorBase::KyroErrorBase;
    using KyroErrorBase::clear;
};
struct ClearableDebugLog : KyroDebugLog {
    using KyroDebugLog::KyroDebugLog;
    using KyroDebugLog::clear;
};

// A record whose status is shown in words, with a version line of its own.
struct NamedStatusError : KyroErrorBase {
    NamedStatusError() : KyroErrorBase(Kyro::kVendorHost, 404, "h.cpp", 3, "") {}
    TStr getVendorStatusStr() const override { return "NOT_FOUND"; }
    void dumpVendorVersionInfo(KyroLogger* logger) const override { logger->logFile().write("Extra", "yes"); }
};

// The lines `record` adds, joined by "|", the host facts shown as $host, $os and $facts.
std::string joinedLines(KyroLogger& logger, const KyroLoggable& record, bool perf)
{
    const std::string host = "ComputerName=" + HostFacts::hostName(), os = "OS=" + HostFacts::platformOS();
    const std::string facts = HostFacts::platformOS() + "," + HostFacts::hostName() + ",15.0.73.0";
    std::string out;
    for (const std::string& line : logLines(logger, record, perf ? "," : "\t", perf)) {
        const bool hasFacts = perf && line.compare(0, facts.size(), facts) == 0;
        out += (out.empty() ? "" : "|") +
               (line == host ? "$host" : line == os ? "$os" : hasFacts ? "$facts" + line.substr(facts.size()) : line);
    }
    return out;
}

}  // namespace

TEST(HostFacts, ComputerNameAndSystemVersion)
{
    // major.minor.build.service pack; without a service pack the text ends with the dot.
    const std::string os = HostFacts::platformOS();
    EXPECT_EQ(HostFacts::hostName(), kyro::platform::computerName());
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

TEST(Records, LinesOfEachKind)
{
    TempFolder temp;
    writeTestTable(temp / "table.xml");
    KyroLogger logger(false), bare(false);   // bare: no error table
    logger.setLogFileName(temp / "records.log");
    logger.errorTable().SetPathName(temp / "table.xml");
    ASSERT_TRUE(logger.errorTable().Load());
    bare.setLogFileName(temp / "bare.log");

    const KyroErrorBase error(Kyro::kVendorVex, 3, "C:\\src\\mod\\main.cpp", 42, "2.1");
    KyroErrorBase quiet(Kyro::kVendorVex, 3, "main.cpp", 7, ""), copied(Kyro::kVendorNone, 0, "", 0, "");
    quiet.setReason("");
    copied = quiet;   // records are values: a copy keeps what the original had then
    quiet.setThrownFile("C:\\src\\");
    quiet.setVendorID(Kyro::kVendorLicense);
    quiet.setVendorStatusID(12);
    quiet.setVendorVersion("3.0");
    ClearableError cleared(Kyro::kVendorVex, 3, "C:\\a\\b.cpp", 9, "2.1");
    cleared.clear();
    const CKyroIntError own(Kyro::kVendorKyroInt, CKyroIntError::kCompanionUnreachable, "C:\\kyro\\d.cpp", 120, "15.0.73.0");
    const CKyroIntError passedOn(Kyro::kVendorVex, 3, "vex.cpp", 8, "2.1");
    KyroDebugLog moved(Kyro::kVendorHost, "m");   // the display name is chosen at construction
    moved.setComponentID(Kyro::kVendorUpdate);
    const KyroDebugLog copiedDebug(moved);
    moved.setDebugLogInfo("changed");
    ClearableDebugLog clearedDebug(Kyro::kVendorHost, "gone");
    clearedDebug.clear();
    KyroPerfLogData data;
    data.field1 = "open";
    data.field2 = "";
    data.field4 = "d";
    data.marker = "KYROINITIALIZE.START";
    const KyroPerfLog marker(Kyro::kVendorKyroInt, data);
    KyroPerfLog clearedPerf(static_cast<Kyro::VendorID>(6), data);
    clearedPerf.clear();   // keeps the display name
    const std::string F = "Reason=Fatal error|$host|$os|", V = "VendorID=2 [Vex Companion]|VendorError=3 [The dialog failed]";
    struct {
        const char* name;
        KyroLogger& logger;
        const KyroLoggable& record;
        std::string lines;
    } const cases[] = {
        {"error", logger, error, F + "File=main.cpp,Line=42|" + V + "|Vex Companion=2.1"},
        {"no error table", bare, error, F + "File=main.cpp,Line=42|VendorID=2|VendorError=3"},
        {"no reason, unknown vendor", logger, quiet, "$host|$os|File=C:\\src\\,Line=7|VendorID=7|VendorError=12"},
        {"a copy", logger, copied, "$host|$os|File=main.cpp,Line=7|" + V},
        {"unknown code", logger, KyroErrorBase(Kyro::kVendorVex, -4, "", 1, ""),
         F + "File=,Line=1|VendorID=2 [Vex Companion]|VendorError=-4"},
        {"cleared", logger, cleared, "$host|$os|File=,Line=-1|VendorID=0|VendorError=0"},
        {"the library's own", logger, own,
         F + "File=d.cpp,Line=120|KyroIntError=5 [The companion could not be reached]|Kyro Integration Library=15.0.73.0"},
        {"passed on by the library", logger, passedOn, F + "File=vex.cpp,Line=8|KyroIntError=3|" + V + "|Vex Companion=2.1"},
        {"subclass", logger, NamedStatusError(), F + "File=h.cpp,Line=3|VendorID=3|VendorError=NOT_FOUND|Extra=yes"},
        {"debug", logger, KyroDebugLog(Kyro::kVendorHost, "Started, 3\tqueued"), "Host\tStarted, 3\tqueued\t"},
        {"debug, moved", logger, moved, "Host\tchanged\t"},
        {"debug, a copy", logger, copiedDebug, "Host\tm\t"},
        {"debug, unknown component", logger, KyroDebugLog(static_cast<Kyro::VendorID>(11), "x"), "None\tx\t"},
        {"debug, cleared", logger, clearedDebug, "\t\t"},
        {"performance", logger, marker, "$facts,open:NA,NA:d,KyroInt,KYROINITIALIZE.START,"},
        {"performance, cleared", logger, clearedPerf, "$facts,:,:,None,,"},
        {"performance, no data", logger, KyroPerfLog(Kyro::kVendorVex, KyroPerfLogData()), "$facts,NA:NA,NA:NA,Vex,NA,"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(joinedLines(c.logger, c.record, c.lines.rfind("$facts", 0) == 0), c.lines);
    }
    EXPECT_EQ(clearedPerf.getComponentID(), Kyro::kVendorNone);
    // A performance stamp carries milliseconds.
    logger.startLoggingWMilliSecs();
    EXPECT_TRUE(std::regex_match(std::string(logger.getHeader().utf8()),
                                 std::regex("[0-9]+\t[0-9]{4}/[0-9]{2}/[0-9]{2}\t[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{1,3}")));
    // A record given no logger writes nothing, and no logger is no failure.
    error.dumpTechSupport(nullptr);
    moved.dumpTechSupport(nullptr);
    marker.dumpTechSupport(nullptr);
}
