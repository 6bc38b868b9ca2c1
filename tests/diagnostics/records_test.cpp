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

// A record whose status is shown in words, and with a version line of its own.
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

KyroPerfLogData perfData(const char* f1, const char* f2, const char* f3, const char* f4, const char* marker)
{
    KyroPerfLogData data;
    data.field1 = f1;
    data.field2 = f2;
    data.field3 = f3;
    data.field4 = f4;
    data.marker = marker;
    return data;
}

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
    KyroErrorBase quiet(Kyro::kVendorVex, 3, "main.cpp", 7, "");
    quiet.setReason("");
    const KyroErrorBase unknown(Kyro::kVendorLicense, 12, "x.cpp", 1, "3.0");
    const KyroErrorBase unknownCode(Kyro::kVendorVex, -4, "x.cpp", 1, "");
    ClearableError cleared(Kyro::kVendorVex, 3, "C:\\a\\b.cpp", 9, "2.1");
    cleared.clear();
    EXPECT_EQ(cleared.getThrownLine(), -1);
    const CKyroIntError own(Kyro::kVendorKyroInt, CKyroIntError::kCompanionUnreachable, "C:\\kyro\\dialogs.cpp",
                            120, "15.0.73.0");
    const CKyroIntError passedOn(Kyro::kVendorVex, 3, "vex.cpp", 8, "2.1");
    EXPECT_EQ(passedOn.getInternalCode(), 3);
    const KyroDebugLog message(Kyro::kVendorHost, "Started, 3 tasks\tqueued");
    KyroDebugLog moved(Kyro::kVendorHost, "m");   // the display name is chosen at construction
    moved.setComponentID(Kyro::kVendorUpdate);
    EXPECT_EQ(moved.getComponentID(), Kyro::kVendorUpdate);
    ClearableDebugLog clearedDebug(Kyro::kVendorHost, "gone");
    clearedDebug.setReason("r");
    clearedDebug.clear();
    EXPECT_EQ(clearedDebug.getReason(), "");
    EXPECT_EQ(clearedDebug.getDebugLogInfo(), "");
    EXPECT_EQ(clearedDebug.getComponentID(), Kyro::kVendorNone);
    const KyroPerfLog marker(Kyro::kVendorKyroInt, perfData("open", "", "NA", "NA", "KYROINITIALIZE.START"));
    const KyroPerfLog otherPerf(static_cast<Kyro::VendorID>(6), perfData("a", "b", "c", "d", "LOAD.STOP"));
    KyroPerfLog clearedPerf(Kyro::kVendorVex, perfData("a", "b", "c", "d", "LOAD.STOP"));
    clearedPerf.clear();   // keeps the display name
    EXPECT_EQ(clearedPerf.getComponentID(), Kyro::kVendorNone);

    // Records are values: a copy keeps what the original had then.
    KyroErrorBase original(Kyro::kVendorVex, 3, "C:\\a\\one.cpp", 1, "2.1");
    original.setReason("first");
    const KyroErrorBase copy(original);
    original.setReason("changed");
    original.setThrownFile("two.cpp");
    original.setThrownLine(2);
    original.setVendorID(Kyro::kVendorHost);
    original.setVendorStatusID(4);
    original.setVendorVersion("9");
    KyroErrorBase assigned(Kyro::kVendorNone, 0, "", 0, "");
    assigned = copy;
    KyroDebugLog copied(moved);
    moved.setDebugLogInfo("changed");
    // A record given no logger writes nothing, and no logger is no failure.
    original.dumpTechSupport(nullptr);
    message.dumpTechSupport(nullptr);
    KyroPerfLog(Kyro::kVendorVex, KyroPerfLogData()).dumpTechSupport(nullptr);

    const std::string F = "Reason=Fatal error|$host|$os|", V = "VendorID=2 [Vex Companion]|VendorError=3 [The dialog failed]";
    struct {
        const char* name;
        KyroLogger& logger;
        const KyroLoggable& record;
        std::string lines;
    } const cases[] = {
        {"error", logger, error, F + "File=main.cpp,Line=42|" + V + "|Vex Companion=2.1"},
        {"no reason", logger, quiet, "$host|$os|File=main.cpp,Line=7|" + V},
        {"unknown vendor: no brackets, no version", logger, unknown, F + "File=x.cpp,Line=1|VendorID=7|VendorError=12"},
        {"unknown code", logger, unknownCode, F + "File=x.cpp,Line=1|VendorID=2 [Vex Companion]|VendorError=-4"},
        {"cleared", logger, cleared, "$host|$os|File=,Line=-1|VendorID=0|VendorError=0"},
        {"no error table", bare, error, F + "File=main.cpp,Line=42|VendorID=2|VendorError=3"},
        {"the library's own", logger, own, F + "File=dialogs.cpp,Line=120|KyroIntError=5 [The companion could not "
                                               "be reached]|Kyro Integration Library=15.0.73.0"},
        {"passed on by the library", logger, passedOn, F + "File=vex.cpp,Line=8|KyroIntError=3|" + V + "|Vex Companion=2.1"},
        {"subclass", logger, NamedStatusError(), F + "File=h.cpp,Line=3|VendorID=3|VendorError=NOT_FOUND|Extra=yes"},
        {"changed", logger, original, "Reason=changed|$host|$os|File=two.cpp,Line=2|VendorID=3|VendorError=4"},
        {"a copy", logger, copy, "Reason=first|$host|$os|File=one.cpp,Line=1|" + V + "|Vex Companion=2.1"},
        {"assigned", logger, assigned, "Reason=first|$host|$os|File=one.cpp,Line=1|" + V + "|Vex Companion=2.1"},
        {"debug", logger, message, "Host\tStarted, 3 tasks\tqueued\t"},
        {"debug, moved", logger, moved, "Host\tchanged\t"},
        {"a debug copy", logger, copied, "Host\tm\t"},
        {"debug, default", logger, KyroDebugLog(), "None\t\t"},
        {"debug, cleared", logger, clearedDebug, "\t\t"},
        {"performance", logger, marker, "$facts,open:NA,NA:NA,KyroInt,KYROINITIALIZE.START,"},
        {"performance, unknown component", logger, otherPerf, "$facts,a:b,c:d,None,LOAD.STOP,"},
        {"performance, cleared", logger, clearedPerf, "$facts,:,:,Vex,,"},
        {"performance, default data", logger, KyroPerfLog(Kyro::kVendorVex, KyroPerfLogData()), "$facts,NA:NA,NA:NA,Vex,NA,"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(joinedLines(c.logger, c.record, c.lines.rfind("$facts", 0) == 0), c.lines);
    }

    // The "File" forms: a base name, or the whole thrown file when there is none.
    const char* const files[][2] = {{"C:\\src\\mod\\main.cpp", "main.cpp"}, {"main.cpp", "main.cpp"},
                                     {"C:\\src\\", "C:\\src\\"}, {"", ""}, {"a,b=c.cpp", "a,b=c.cpp"}};
    for (const auto& file : files) {
        EXPECT_EQ(joinedLines(logger, KyroErrorBase(Kyro::kVendorVex, 3, file[0], 0, ""), false),
                  F + "File=" + file[1] + ",Line=0|" + V);
    }
    const char* const names[] = {"None", "KyroInt", "Vex", "Host", "Setup", "Update", "None",
                                 "License", "Render", "Network", "Plugin", "None"};
    for (int id = -1; id <= 11; ++id) {
        EXPECT_EQ(joinedLines(logger, KyroDebugLog(static_cast<Kyro::VendorID>(id), "x"), false),
                  std::string(names[id < 0 ? 0 : id]) + "\tx\t") << id;
    }

    // The bytes themselves: the stamp, a tab, the pair, the platform's line end.
    logger.setLogFileName(temp / "bytes.log");
    logger.startLogging();
    const std::string s = logger.getHeader().utf8();
    logger.log(KyroErrorBase(Kyro::kVendorVex, 0, "", 1, ""));
    EXPECT_EQ(readFileBytes(temp / "bytes.log"),
              textLines(s + "\tReason=Fatal error\n" + s + "\tComputerName=" + HostFacts::hostName() + "\n" + s +
                        "\tOS=" + HostFacts::platformOS() + "\n" + s + "\tFile=,Line=1\n" + s +
                        "\tVendorID=2 [Vex Companion]\n" + s + "\tVendorError=0\n"));

    // A performance stamp carries milliseconds.
    logger.startLoggingWMilliSecs();
    EXPECT_TRUE(std::regex_match(std::string(logger.getHeader().utf8()),
                                 std::regex("[0-9]+\t[0-9]{4}/[0-9]{2}/[0-9]{2}\t[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{1,3}")));
}
