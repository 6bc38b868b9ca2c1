// The loggers and their records: the exact lines of each kind of record, the error table of
// the custom environment, file names and switches, the named mutex per file, and records
// cut short or thrown half-way.
#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/KyroDebugLog.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/diagnostics/KyroPerfLog.h"

#include "FileBytes.h"
#include "LogLines.h"
#include "TempFolder.h"
#include "kyro/platform/system_info.h"
#include "kyro/util/CKyroUtilCustomEnv.h"
#include "kyro/util/KyroMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// A record whose status is shown in words, with a version line of its own.
struct NamedStatusError : KyroErrorBase {
    NamedStatusError() : KyroErrorBase(Kyro::kVendorHost, 404, "h.cpp", 3, "") {}
    TStr getVendorStatusStr() const override { return "NOT_FOUND"; }
    void dumpVendorVersionInfo(KyroLogger* logger) const override { logger->logFile().write("Extra", "yes"); }
};

// Writes a line, then throws, as a host's record might.
struct ThrowingRecord : KyroErrorBase {
    ThrowingRecord() : KyroErrorBase(Kyro::kVendorVex, 0, "", 0, "") {}
    void dumpTechSupport(KyroLogger* logger) const override
    {
        logger->logFile().write("Half", "written");
        throw std::runtime_error("record failed");
    }
};

// The lines `record` adds, joined by "|", the host facts shown as $host and $os.
std::string joinedLines(KyroLogger& logger, const KyroLoggable& record)
{
    const std::string host = "ComputerName=" + HostFacts::hostName(), os = "OS=" + HostFacts::platformOS();
    std::string out;
    for (const std::string& line : logLines(logger, record))
        out += (out.empty() ? "" : "|") + (line == host ? "$host" : line == os ? "$os" : line);
    return out;
}

}  // namespace

TEST(HostFacts, ComputerNameAndSystemVersion)
{
    // major.minor.build.service pack; without a service pack the text ends with the dot.
    const std::string os = HostFacts::platformOS();
    EXPECT_EQ(HostFacts::hostName(), kyro::platform::computerName());
    EXPECT_TRUE(std::regex_match(os, std::regex("[0-9]+\\.[0-9]+\\.[0-9]+\\..*"))) << os;
    EXPECT_TRUE(KYRO_TEST_WINDOWS || os.back() == '.') << os;
}

TEST(Loggers, RecordLinesWithTheErrorTableOfTheCustomEnvironment)
{
    TempFolder temp;
    writeTestTable(temp / "KyroErrorCodes.xml");
    writeFileBytes(temp / "custom.xml", "<KYROCUSTOMENV><PLATFORM OS=\"Windows\"><KEY ID=\""
                                        "KYRO_ERROR_TABLE_LOCATION\"><STRING>" + std::string(temp.path().utf8()) +
                                        "</STRING></KEY></PLATFORM></KYROCUSTOMENV>");
    {
        ScopedVariable thin("NORVELDT_KYRO_THINCLIENT_ENV", nullptr);
        ScopedVariable custom("NORVELDT_KYRO_CUSTOM_ENV", (temp / "custom.xml").utf8());
        ASSERT_EQ(CKyroUtilCustomEnv::instance().load(), CKyroUtilCustomEnv::kLoaded);
        // Every logger but one made with false loads the table. close() ends the process-wide
        // logger: the next instance() is a new one, its table loaded again.
        KyroLogger loaded(true), named(TStr(temp / "named.log")), bare(false), byDefault;
        KyroLogger::close();
        KyroLogger& shared = *KyroLogger::instance();
        const KyroErrorBase error(Kyro::kVendorVex, 3, "C:\\src\\mod\\main.cpp", 42, "2.1");
        const std::string F = "Reason=Fatal error|$host|$os|File=", V = "VendorID=2 [Vex Companion]|VendorError=3 [The dialog failed]";
        const std::string E = F + "main.cpp,Line=42|" + V + "|Vex Companion=2.1";
        struct {
            const char* name;
            KyroLogger& logger;
            const KyroLoggable& record;
            std::string lines;
        } const cases[] = {
            {"error", loaded, error, E},
            {"error, a logger given its file", named, error, E},
            {"error, a default logger", byDefault, error, E},
            {"error, the process-wide logger", shared, error, E},
            {"no error table", bare, error, F + "main.cpp,Line=42|VendorID=2|VendorError=3"},
            {"passed on by the library", loaded, CKyroIntError(Kyro::kVendorVex, 3, "vex.cpp", 8, "2.1"),
             F + "vex.cpp,Line=8|KyroIntError=3|" + V + "|Vex Companion=2.1"},
            {"subclass", loaded, NamedStatusError(), F + "h.cpp,Line=3|VendorID=3|VendorError=NOT_FOUND|Extra=yes"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            c.logger.setLogFileName(temp / "records.log");
            EXPECT_EQ(joinedLines(c.logger, c.record), c.lines);
        }
        KyroLogger::close();
    }
    CKyroUtilCustomEnv::instance().load();   // back to no file for the tests after this one
}

TEST(Loggers, SwitchesAndFileNames)
{
    TempFolder temp;
    UserFolderInTemp redirect(temp);
    ScopedVariable noDebug("KYRO_DEBUG_MODE", nullptr);
    ScopedVariable noPerf("KYRO_PERF_LOG", nullptr);
    KyroDebugLogger debug;
    KyroPerfLogger perf;
    EXPECT_EQ(debug.getLogFileName(), (userFolder() + "KyroDebug.log").c_str());
    EXPECT_EQ(perf.getLogFileName(), (userFolder() + "KyroPerfLog.csv").c_str());
    EXPECT_TRUE(TPath(userFolder().c_str()).exists());   // the constructors make the folder
    EXPECT_FALSE(debug.isDebugLogEnabled() || perf.isPerfLogEnabled());

    // Switched off, neither writes or creates anything. Any value switches on, "0" too; the
    // check can be made again later, and never switches off.
    debug.setLogFileName(temp / "debug.log");
    perf.setLogFileName(temp / "perf.csv");
    const KyroDebugLog message(Kyro::kVendorHost, "hidden");
    const KyroPerfLog marker(Kyro::kVendorHost, KyroPerfLogData());
    debug.log(message);
    perf.log(marker);
    EXPECT_FALSE(fileExists(temp / "debug.log") || fileExists(temp / "perf.csv"));
    {
        ScopedVariable debugOn("KYRO_DEBUG_MODE", "0");
        ScopedVariable perfOn("KYRO_PERF_LOG", "false");
        EXPECT_TRUE(KyroDebugLogger().isDebugLogEnabled() && KyroPerfLogger().isPerfLogEnabled());
        debug.checkIfDebugLogIsEnabled();
        perf.checkIfPerfLogIsEnabled();
    }
    debug.checkIfDebugLogIsEnabled();
    perf.checkIfPerfLogIsEnabled();
    debug.log(message);
    perf.log(marker);
    EXPECT_TRUE(fileExists(temp / "debug.log") && fileExists(temp / "perf.csv"));
}

TEST(Loggers, RecordsNeedAFileAndAStamp)
{
    TempFolder temp;
    KyroLogger logger(false);
    const KyroErrorBase error(Kyro::kVendorVex, 1, "a.cpp", 1, "");
    // No file name yet: nothing is written anywhere. An empty name keeps the one before.
    EXPECT_EQ(logger.getLogFileName() + logger.getHeader(), "");
    logger.log(error);
    logger.setLogFileName(temp / "first.log");
    logger.setLogFileName("");
    // Without a stamp the file is made, and stays empty.
    logger.log(error);
    EXPECT_EQ(readFileBytes(temp / "first.log"), "");
    EXPECT_TRUE(fileExists(temp / "first.log"));
    // A stamp with milliseconds; the file is closed after every record: it can be removed at
    // once and comes back.
    logger.startLoggingWMilliSecs();
    EXPECT_TRUE(std::regex_match(std::string(logger.getHeader().utf8()),
                                 std::regex("[0-9]+\t[0-9]{4}/[0-9]{2}/[0-9]{2}\t[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{1,3}")));
    logger.log(error);
    EXPECT_EQ(fileLines(temp / "first.log").size(), 6u);
    EXPECT_EQ(TPath(temp / "first.log").remove(), 0);
    logger.log(error);
    EXPECT_EQ(fileLines(temp / "first.log").size(), 6u);
}

TEST(Loggers, EachFileHasItsNamedMutex)
{
    // The last path component, then ".Mutex": a record waits for its file's mutex, and only
    // for that one.
    TempFolder temp;
    const struct {
        TStr fileName, mutexName;
        bool waits;
    } cases[] = {
        {temp / "named.log", "named.log.Mutex", true},
        {temp / "free.log", "other.log.Mutex", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mutexName.utf8());
        KyroLogger logger(false);
        logger.setLogFileName(c.fileName);
        KyroMutex held;
        ASSERT_TRUE(held.create(c.mutexName) && held.lock(0));
        std::atomic<bool> done{false};
        std::thread writer([&] {
            logger.startLogging();
            logger.log(KyroErrorBase(Kyro::kVendorVex, 1, "a.cpp", 1, ""));
            done = true;
        });
        if (c.waits) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            EXPECT_FALSE(done.load() || fileExists(c.fileName));
        }
        held.unlock();
        writer.join();
        EXPECT_EQ(fileLines(c.fileName).size(), 6u);
        EXPECT_TRUE(held.lock(0) && held.unlock());   // the record gave the mutex back
    }
}

// A writer killed in the middle of a record leaves a line cut short: the next record starts
// on a line of its own. A record that throws half-way leaves nothing.
TEST(Loggers, ARecordAfterOneCutShortStartsOnItsOwnLine)
{
    TempFolder temp;
    KyroLogger logger(false);
    const CKyroIntError error(Kyro::kVendorKyroInt, 5, "C:\\src\\dialogs.cpp", 42, "");
    logger.setLogFileName(temp / "shared.log");
    logger.startLogging();
    logger.log(error);
    const std::string record = readFileBytes(temp / "shared.log"), cutShort = "4242\t2026/01/05\tReas";
    ASSERT_NE(record, "");
    // Another writer killed between two records of this logger.
    writeFileBytes(temp / "shared.log", record + cutShort);
    logger.log(error);
    EXPECT_EQ(readFileBytes(temp / "shared.log"), record + cutShort + textLines("\n") + record);

    logger.setLogFileName(temp / "thrown.log");
    writeFileBytes(temp / "thrown.log", "before\n");
    logger.log(ThrowingRecord());
    EXPECT_EQ(readFileBytes(temp / "thrown.log"), "before\n");
}
