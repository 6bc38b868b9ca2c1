// The loggers: file names and switches, the named mutex per file, the process-wide
// loggers, and the library's own error records.
#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/KyroDebugLog.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/diagnostics/KyroPerfLog.h"
#include "kyro/diagnostics/library_diagnostics.h"

#include "FileBytes.h"
#include "LogLines.h"
#include "TempFolder.h"
#include "kyro/util/CKyroUtilCustomEnv.h"
#include "kyro/util/KyroMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using Lines = std::vector<std::string>;

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

    // Switched off, neither form writes or creates anything.
    debug.setLogFileName(temp / "debug.log");
    perf.setLogFileName(temp / "perf.csv");
    const KyroDebugLog message(Kyro::kVendorHost, "hidden");
    const KyroPerfLog marker(Kyro::kVendorHost, KyroPerfLogData());
    debug.startLogging();
    debug.log(message);
    debug.log(const_cast<KyroDebugLog*>(&message));
    perf.startLoggingWMilliSecs();
    perf.log(marker);
    perf.log(const_cast<KyroPerfLog*>(&marker));
    EXPECT_FALSE(fileExists(temp / "debug.log") || fileExists(temp / "perf.csv"));

    // Any value switches on, "0" too; the check can be made again later, and never switches off.
    {
        ScopedVariable on("KYRO_DEBUG_MODE", "0");
        KyroDebugLogger fresh;
        EXPECT_TRUE(fresh.isDebugLogEnabled());
        debug.checkIfDebugLogIsEnabled();
        EXPECT_TRUE(debug.isDebugLogEnabled());
    }
    debug.checkIfDebugLogIsEnabled();
    EXPECT_TRUE(debug.isDebugLogEnabled());
    EXPECT_EQ(logLines(debug, message), (Lines{"Host\thidden\t"}));
    {
        ScopedVariable on("KYRO_PERF_LOG", "false");
        perf.checkIfPerfLogIsEnabled();
    }
    EXPECT_TRUE(perf.isPerfLogEnabled());
    const Lines perfLines = logLines(perf, marker, ",", true);
    ASSERT_EQ(perfLines.size(), 1u);
    EXPECT_NE(perfLines[0].find(",NA:NA,NA:NA,Host,NA,"), std::string::npos) << perfLines[0];
    debug.log(static_cast<KyroLoggable*>(nullptr));   // a null record does nothing
    perf.log(static_cast<KyroLoggable*>(nullptr));
}

TEST(Loggers, RecordsNeedAFileAndAStamp)
{
    TempFolder temp;
    KyroLogger logger(false);
    const KyroErrorBase error(Kyro::kVendorVex, 1, "a.cpp", 1, "");
    // No file name yet: nothing is written anywhere, and the stamp alone changes nothing.
    EXPECT_EQ(logger.getLogFileName() + logger.getHeader(), "");
    logger.startLogging();
    EXPECT_NE(logger.getHeader(), "");
    logger.log(error);
    logger.log(static_cast<KyroLoggable*>(nullptr));
    // An empty name keeps the one before.
    logger.setLogFileName(temp / "first.log");
    logger.setLogFileName("");
    EXPECT_EQ(logger.getLogFileName(), temp / "first.log");
    EXPECT_FALSE(fileExists(temp / "first.log"));
    // Without a stamp the file is made, and stays empty.
    KyroLogger unstamped(TStr(temp / "unstamped.log"));
    unstamped.log(error);
    EXPECT_TRUE(fileExists(temp / "unstamped.log") && readFileBytes(temp / "unstamped.log").empty());
    // A name that ends with "\" is a folder: no mutex, no file, no wait.
    KyroLogger folder(false);
    folder.setLogFileName(temp.path() + "\\");
    folder.startLogging();
    folder.log(error);
    // The file is closed after every record: it can be removed at once and comes back.
    logger.log(error);
    EXPECT_EQ(fileLines(temp / "first.log").size(), 6u);
    EXPECT_EQ(TPath(temp / "first.log").remove(), 0);
    logger.log(error);
    EXPECT_EQ(fileLines(temp / "first.log").size(), 6u);
}

TEST(Loggers, TheErrorTableComesFromTheCustomEnvironmentWhenAskedFor)
{
    TempFolder temp;
    writeTestTable(temp / "KyroErrorCodes.xml");
    writeFileBytes(temp / "custom.xml", "<KYROCUSTOMENV><PLATFORM OS=\"Windows\"><KEY ID=\""
                                        "KYRO_ERROR_TABLE_LOCATION\"><STRING>" + std::string(temp.path().utf8()) +
                                        "</STRING></KEY></PLATFORM></KYROCUSTOMENV>");
    const KyroErrorBase error(Kyro::kVendorVex, 3, "a.cpp", 1, "");
    const auto statusLine = [&](KyroLogger& logger) {
        logger.setLogFileName(temp / "table.log");
        TPath(temp / "table.log").remove();
        const Lines lines = logLines(logger, error);
        return lines.size() > 5 ? lines[5] : std::string("<no record>");
    };
    {
        ScopedVariable thin("NORVELDT_KYRO_THINCLIENT_ENV", nullptr);
        ScopedVariable custom("NORVELDT_KYRO_CUSTOM_ENV", (temp / "custom.xml").utf8());
        ASSERT_EQ(CKyroUtilCustomEnv::instance().load(), CKyroUtilCustomEnv::kLoaded);
        KyroLogger loaded(true), named(TStr(temp / "named.log")), unloaded(false), byDefault;
        KyroLogger::close();   // the next instance() is a new logger, its table loaded again
        for (KyroLogger* logger : {&loaded, &named, &byDefault, KyroLogger::instance()})
            EXPECT_EQ(statusLine(*logger), "VendorError=3 [The dialog failed]");
        EXPECT_EQ(statusLine(unloaded), "VendorError=3");
        KyroLogger::close();
    }
    CKyroUtilCustomEnv::instance().load();   // back to no file for the tests after this one
}

namespace {

// A record into `fileName` while this thread holds the mutex `mutexName`: when `waits`,
// it appears only once the mutex is released.
void expectRecordWaitsFor(const TStr& fileName, const TStr& mutexName, bool waits = true)
{
    SCOPED_TRACE(mutexName.utf8());
    KyroLogger logger(false);
    logger.setLogFileName(fileName);
    KyroMutex held;
    ASSERT_TRUE(held.create(mutexName) && held.lock(0));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        logger.startLogging();
        logger.log(KyroErrorBase(Kyro::kVendorVex, 1, "a.cpp", 1, ""));
        done = true;
    });
    if (waits) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(done.load());
        EXPECT_FALSE(fileExists(fileName));
    }
    held.unlock();
    writer.join();
    EXPECT_EQ(fileLines(fileName).size(), 6u);
}

}  // namespace

TEST(Loggers, EachFileHasItsNamedMutex)
{
    TempFolder temp;
    // The last path component, then ".Mutex"; a name without any "\" is its own last component.
    expectRecordWaitsFor(temp / "named.log", "named.log.Mutex");
    TStr slashes = temp / "slashes.log";
    slashes.replaceAll("\\", "/");
    expectRecordWaitsFor(slashes, slashes + ".Mutex");
    expectRecordWaitsFor(temp / "free.log", "other.log.Mutex", false);   // another file's mutex
}

TEST(Loggers, ProcessWideLoggersAreDistinct)
{
    KyroLogger* shared = KyroLogger::instance_m();
    KyroLogger* plain = KyroLogger::instance();
    ASSERT_TRUE(shared != nullptr && plain != nullptr);
    EXPECT_TRUE(shared == KyroLogger::instance_m() && shared == &CKyroUtilSingleton<KyroLogger>::instance());
    EXPECT_TRUE(plain != shared && plain == KyroLogger::instance());
    // close() ends that logger; the next instance() is a new one, without the old name.
    plain->setLogFileName("remembered.log");
    KyroLogger::close();
    KyroLogger::close();
    EXPECT_EQ(KyroLogger::instance()->getLogFileName(), "");
    KyroLogger::close();
}

TEST(Loggers, ThreadsOfOneProcessWriteWholeRecords)
{
    // Two threads record library errors through the shared logger, two more through loggers
    // of their own into the same file: each record is one run of lines under one stamp, and
    // each thread's records keep their order.
    TempFolder temp;
    const TPath path = temp / "threads.log";
    KyroLogger* shared = KyroLogger::instance_m();
    const TStr previous = shared->getLogFileName();
    shared->setLogFileName(path);
    constexpr int kThreads = 4, kRecords = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &path] {
            const std::string file = "t" + std::to_string(t) + ".cpp";
            KyroLogger own(false);
            own.setLogFileName(path);
            for (int i = 0; i < kRecords; ++i) {
                if (t < 2) {
                    kyro::diagnostics::recordLibraryError(CKyroIntError::kCompanionUnreachable, file.c_str(), i);
                } else {
                    own.startLogging();
                    own.log(KyroErrorBase(Kyro::kVendorVex, 1, file.c_str(), i, ""));
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    shared->setLogFileName(previous);

    int next[kThreads] = {};
    std::string stamp;
    bool fileSeen = true;
    for (const std::string& line : fileLines(path)) {
        const std::string::size_type at = line.find('\t', line.find('\t', line.find('\t') + 1) + 1);
        ASSERT_NE(at, std::string::npos) << line;
        const std::string body = line.substr(at + 1);
        if (body.compare(0, 7, "Reason=") == 0) {
            ASSERT_TRUE(fileSeen) << "a record without its File line before: " << line;
            stamp = line.substr(0, at + 1);
            fileSeen = false;
            continue;
        }
        ASSERT_EQ(line.substr(0, at + 1), stamp) << "a line of another record: " << line;
        int thread = -1, number = -1;
        if (std::sscanf(body.c_str(), "File=t%d.cpp,Line=%d", &thread, &number) == 2) {
            ASSERT_TRUE(thread >= 0 && thread < kThreads && number == next[thread]) << line;
            next[thread] = number + 1;
            fileSeen = true;
        }
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(next[t], kRecords) << "thread " << t;
}

namespace {

// Writes a line, then throws, as a host's record might.
class ThrowingRecord : public KyroErrorBase {
public:
    ThrowingRecord() : KyroErrorBase(Kyro::kVendorVex, 0, "", 0, "") {}
    void dumpTechSupport(KyroLogger* logger) const override
    {
        logger->logFile().write("Half", "written");
        throw std::runtime_error("record failed");
    }
};

}  // namespace

// A writer killed in the middle of a record leaves a line cut short: the next record of
// every log kind starts on a line of its own.
TEST(Loggers, ARecordAfterOneCutShortStartsOnItsOwnLine)
{
    TempFolder temp;
    UserFolderInTemp redirect(temp);
    ScopedVariable debugOn("KYRO_DEBUG_MODE", "1");
    ScopedVariable perfOn("KYRO_PERF_LOG", "1");
    KyroLogger errors(false);
    KyroDebugLogger debug;
    KyroPerfLogger perf;
    const CKyroIntError error(Kyro::kVendorKyroInt, 5, "C:\\src\\dialogs.cpp", 42, "");
    const KyroDebugLog message(Kyro::kVendorHost, "a message");
    KyroPerfLogData data;
    data.marker = "WORK.START";
    const KyroPerfLog marker(Kyro::kVendorKyroInt, data);
    struct {
        const char* name;
        KyroLogger& logger;
        const KyroLoggable& record;
        bool precise;
        const char* cutShort;
    } const cases[] = {
        {"error log", errors, error, false, "4242\t2026/01/05\t09:05:03\tReason=Fatal er"},
        {"debug log", debug, message, false, "4242\t2026/01/05\t09:05:03\tHost\ta mess"},
        {"performance log", perf, marker, true, "4242,2026/01/05,09:05:03:7,6.2.9200."},
    };
    const std::string earlier = textLines("4242\t2026/01/05\t09:05:02\tan earlier line\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The record as it reads in a file of its own, then twice after the line cut short.
        const TPath own = temp / (std::string(c.name) + ".own").c_str();
        const TPath shared = temp / (std::string(c.name) + ".log").c_str();
        writeFileBytes(shared, earlier + c.cutShort);
        if (c.precise)
            c.logger.startLoggingWMilliSecs();
        else
            c.logger.startLogging();
        c.logger.setLogFileName(own);
        c.logger.log(c.record);
        const std::string record = readFileBytes(own);
        ASSERT_NE(record, "");
        c.logger.setLogFileName(shared);
        c.logger.log(c.record);
        c.logger.log(c.record);
        const std::string expected = earlier + c.cutShort + textLines("\n") + record + record;
        EXPECT_EQ(readFileBytes(shared), expected);
        // Another writer killed between two records of this logger.
        writeFileBytes(shared, expected + c.cutShort);
        c.logger.log(c.record);
        EXPECT_EQ(readFileBytes(shared), expected + c.cutShort + textLines("\n") + record);
    }
    // A record that throws half-way leaves nothing behind.
    errors.setLogFileName(temp / "thrown.log");
    writeFileBytes(temp / "thrown.log", "before\n");
    errors.log(ThrowingRecord());
    EXPECT_EQ(readFileBytes(temp / "thrown.log"), "before\n");
}
