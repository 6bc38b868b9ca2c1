// Failing system calls, one at a time: every operation of the library that touches files or
// mutexes is run with the nth file open, write, replacement or mutex creation failing (for
// n = 1, 2, ... until the operation gets through without making that many calls), once and
// from the nth call on. Each time the operation must answer as documented, leave nothing
// behind (no memory, handles or temporary files), keep its files whole (the settings file
// old or new, never a mixture; a log record all there or not at all), and the next
// operation, with nothing failing, must succeed.
#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/KyroDebugLog.h"
#include "kyro/diagnostics/KyroErrorTable.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/diagnostics/KyroPerfLog.h"
#include "kyro/int/CKyroIntResHandler.h"
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/int/privacy_consent.h"
#include "kyro/platform/fault_injection.h"
#include "kyro/platform/filesystem.h"
#include "kyro/platform/named_mutex.h"
#include "kyro/platform/named_pipe.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"
#include "kyro/util/CKyroUtilCustomEnv.h"
#include "kyro/util/c_str.h"

#include "FileBytes.h"
#include "LogLines.h"
#include "ScopedVariable.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace {

using kyro::platform::FaultPoint;
using kyro::platform::FaultRepeat;
namespace platform = kyro::platform;

// The points the file operations below go through (pipes are the companion tests').
const FaultPoint kEveryPoint[] = {FaultPoint::FileOpen, FaultPoint::FileWrite,
                                  FaultPoint::FileReplace, FaultPoint::NamedMutexOpen};

const char* nameOf(FaultPoint point)
{
    static const char* const kNames[] = {"open", "write", "replace", "mutex", "pipe"};
    return kNames[static_cast<int>(point)];
}

// Whatever a failed assertion left armed is disarmed at the end of the test.
struct DisarmAtEnd {
    ~DisarmAtEnd() { platform::disarmFaults(); }
};

// One operation under test.
struct Operation {
    std::function<void()> prepare;       // puts the files in their starting state
    std::function<bool()> run;           // does it; true when it succeeded
    std::function<void(bool)> check;     // judges the files, given run's answer
    // A read-modify-write of a file other processes write: without its mutex it must not
    // run at all (a save of the settings store).
    bool needsMutex = false;
};

// The answer an operation owes when a call of `point` failed under it. A file that cannot
// be opened, written or put in place fails the operation; a mutex that cannot be made
// fails only a read-modify-write. Loggers append without it, and loads read a file that is
// only ever replaced whole.
bool succeedsDespite(FaultPoint point, const Operation& operation)
{
    return point == FaultPoint::NamedMutexOpen && !operation.needsMutex;
}

// Runs `operation` with the nth call of `point` failing, n = 1, 2, ..., until it makes
// fewer than n such calls.
void failEachCall(const Operation& operation, FaultPoint point)
{
    for (const FaultRepeat repeat : {FaultRepeat::Once, FaultRepeat::FromThenOn}) {
        for (long n = 1;; ++n) {
            SCOPED_TRACE(std::string(nameOf(point)) + " call " + std::to_string(n) +
                         (repeat == FaultRepeat::Once ? " fails once" : " and later ones fail"));
            operation.prepare();
            const std::int64_t blocks = kyro::cstr::allocatedBlocks();
            const int handles = platform::openHandleCount();
            platform::armFault(point, n, repeat);
            const bool succeeded = operation.run();
            const long injected = platform::faultsInjected(point);
            platform::disarmFaults();
            EXPECT_EQ(kyro::cstr::allocatedBlocks(), blocks);
            EXPECT_EQ(platform::openHandleCount(), handles);
            operation.check(succeeded);
            if (injected == 0) {
                EXPECT_TRUE(succeeded);   // nothing failed
                break;
            }
            // A failed mutex fails a read-modify-write only when its save is refused the
            // mutex; a load without it goes on. Every later one failing fails it always.
            if (point != FaultPoint::NamedMutexOpen || !operation.needsMutex ||
                repeat == FaultRepeat::FromThenOn) {
                EXPECT_EQ(succeeded, succeedsDespite(point, operation));
            }

            // With nothing failing, the next one goes through.
            operation.prepare();
            EXPECT_TRUE(operation.run());
            operation.check(true);
            ASSERT_LT(n, 50) << "the operation never got through";
        }
    }
}

// The calls of each kind an operation makes, in the order of kEveryPoint.
using CallCounts = std::vector<long>;

CallCounts failEveryKindOfCall(const Operation& operation)
{
    DisarmAtEnd disarm;
    // Once first without failures, counting its calls: what it keeps for later (names,
    // stamps, host facts) is then in place before memory is counted.
    operation.prepare();
    for (const FaultPoint point : kEveryPoint)
        platform::armFault(point, 0);
    EXPECT_TRUE(operation.run());
    platform::disarmFaults();
    operation.check(true);
    CallCounts calls;
    for (const FaultPoint point : kEveryPoint)
        calls.push_back(platform::faultPointCalls(point));
    for (const FaultPoint point : kEveryPoint)
        failEachCall(operation, point);
    return calls;
}

// Every call of the kinds `reached` happens under the operation (so the sweep above tried
// it), and none of the others.
void expectReached(const CallCounts& calls, std::initializer_list<FaultPoint> reached)
{
    for (std::size_t i = 0; i < calls.size(); ++i) {
        bool wanted = false;
        for (const FaultPoint point : reached)
            wanted = wanted || point == kEveryPoint[i];
        if (wanted)
            EXPECT_GT(calls[i], 0) << nameOf(kEveryPoint[i]);
        else
            EXPECT_EQ(calls[i], 0) << nameOf(kEveryPoint[i]);
    }
}

// Leftovers of saves: temporary files in the folder.
int temporaryFiles(const TPath& folder)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(nativePath(folder))) {
        if (entry.path().extension() == ".tmp")
            ++count;
    }
    return count;
}

// The value a fresh store reads from the file; "<none>" when it does not load.
std::string storedValue(const TStr& path, const char* section, const char* key)
{
    CKyroUtilSettingsFile settings(false);
    TStr value;
    if (!settings.load(path) || !settings.getValue(section, key, value))
        return "<none>";
    return value.utf8();
}

// ---- the log ----------------------------------------------------------------------------

// A logger on its own file with a record to write.
struct LogCase {
    LogCase(const TPath& path, const TPath& table, const KyroLoggable& record, bool precise,
            const char* separator)
        : logger(path), record(record), precise(precise), separator(separator)
    {
        logger.errorTable().SetPathName(table);
        logger.errorTable().Load();
    }

    // The record's lines as the log should hold them after `earlier`.
    std::string expected;
    const std::string earlier = textLines("an earlier record\n");
    KyroLogger logger;
    const KyroLoggable& record;
    const bool precise;
    const char* const separator;
    std::string stamp;   // the last record's

    Operation operation()
    {
        const TStr path = logger.getLogFileName();
        return Operation{
            [this, path] { writeFileBytes(path, earlier); },
            [this, path] {
                if (precise)
                    logger.startLoggingWMilliSecs();
                else
                    logger.startLogging();
                TStr header = logger.getHeader();
                header.replaceAll("\t", separator);
                stamp = std::string(header.utf8()) + separator;
                logger.log(record);
                return readFileBytes(path) != earlier;
            },
            [this, path](bool succeeded) { checkLog(readFileBytes(path), succeeded); }};
    }

    // The earlier record, then this one whole or not at all.
    void checkLog(const std::string& bytes, bool written)
    {
        ASSERT_EQ(bytes.substr(0, earlier.size()), earlier);
        const std::vector<std::string> lines = platformLines(bytes.substr(earlier.size()));
        ASSERT_TRUE(lines.empty() || lines.back().rfind("UNTERMINATED:", 0) != 0)
            << "a torn line: " << bytes;
        std::string unstamped;
        for (const std::string& line : lines) {
            ASSERT_EQ(line.substr(0, stamp.size()), stamp) << line;
            unstamped += line.substr(stamp.size()) + "\n";
        }
        if (!written) {
            EXPECT_EQ(unstamped, "");
            return;
        }
        if (expected.empty())
            expected = unstamped;   // the first record, written with nothing failing
        EXPECT_EQ(unstamped, expected) << "a torn record";
    }
};

// ---- the seam itself --------------------------------------------------------------------

TEST(FaultInjection, EachPointFailsAsItsSystemCallWould)
{
    DisarmAtEnd disarm;
    TempFolder temp;
    const TPath file = temp / "file.txt";
    const TPath source = temp / "source.txt";

    // Open: the 2nd call from the arming fails, once.
    platform::armFault(FaultPoint::FileOpen, 2);
    std::FILE* stream = platform::openFile(file.utf8(), "wb");
    ASSERT_NE(stream, nullptr);
    errno = 0;
    EXPECT_EQ(platform::openFile(file.utf8(), "rb"), nullptr);
    EXPECT_EQ(errno, EACCES);
    std::FILE* again = platform::openFile(file.utf8(), "rb");
    ASSERT_NE(again, nullptr);
    std::fclose(again);
    EXPECT_EQ(platform::faultPointCalls(FaultPoint::FileOpen), 3);
    EXPECT_EQ(platform::faultsInjected(FaultPoint::FileOpen), 1);

    // Write, armed beside open: a short write of half the bytes, then writes as usual.
    platform::armFault(FaultPoint::FileWrite, 1);
    errno = 0;
    EXPECT_EQ(platform::writeFile(stream, "abcdefgh", 8), 4u);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(platform::writeFile(stream, "1234", 4), 4u);
    std::fclose(stream);
    EXPECT_EQ(readFileBytes(file), "abcd1234");
    EXPECT_EQ(platform::faultPointCalls(FaultPoint::FileOpen), 3);   // still counting
    EXPECT_EQ(platform::faultPointCalls(FaultPoint::FileWrite), 2);

    // Replace, from the first call on: nothing moves, until disarmed.
    writeFileBytes(source, "new");
    platform::armFault(FaultPoint::FileReplace, 1, FaultRepeat::FromThenOn);
    EXPECT_FALSE(platform::replaceFile(source.utf8(), file.utf8()));
    EXPECT_FALSE(platform::replaceFile(source.utf8(), file.utf8()));
    EXPECT_EQ(readFileBytes(file), "abcd1234");
    EXPECT_EQ(readFileBytes(source), "new");
    EXPECT_EQ(platform::faultsInjected(FaultPoint::FileReplace), 2);

    // Disarmed: nothing fails, nothing is counted, the last counts stay readable.
    platform::disarmFaults();
    EXPECT_TRUE(platform::replaceFile(source.utf8(), file.utf8()));
    EXPECT_EQ(readFileBytes(file), "new");
    EXPECT_EQ(platform::faultPointCalls(FaultPoint::FileReplace), 2);

    // Mutex creation; a name that cannot be a mutex's is refused before the seam counts it.
    const std::string name = "kyro-fault-test-" + std::to_string(std::rand());
    platform::armFault(FaultPoint::NamedMutexOpen, 1);
    EXPECT_EQ(platform::namedMutexOpen(""), platform::kNoNamedMutex);
    EXPECT_EQ(platform::namedMutexOpen(name.c_str()), platform::kNoNamedMutex);
    const platform::NamedMutex mutex = platform::namedMutexOpen(name.c_str());
    EXPECT_NE(mutex, platform::kNoNamedMutex);
    EXPECT_EQ(platform::faultPointCalls(FaultPoint::NamedMutexOpen), 2);
    EXPECT_TRUE(platform::namedMutexClose(mutex));
    platform::namedMutexDiscard(name.c_str());

    // Pipe creation, as in a process out of handles.
    const std::string pipeName = "\\\\.\\pipe\\Norveldt\\kyro\\kyrofaulttest" +
                                 std::to_string(platform::currentProcessId()) + "\\inbound0";
    platform::armFault(FaultPoint::PipeCreate, 1);
    std::uint32_t error = 0;
    EXPECT_EQ(platform::createInboundPipe(pipeName.c_str(), &error), platform::kNoPipe);
    EXPECT_EQ(error, KYRO_TEST_WINDOWS ? 1450u : static_cast<std::uint32_t>(EMFILE));
    const platform::PipeHandle pipe = platform::createInboundPipe(pipeName.c_str(), &error);
    EXPECT_NE(pipe, platform::kNoPipe);
    EXPECT_EQ(platform::faultsInjected(FaultPoint::PipeCreate), 1);
    platform::closePipe(pipe);
}

TEST(FaultInjection, CountsTheCallsOfEveryThread)
{
    DisarmAtEnd disarm;
    TempFolder temp;
    const TPath file = temp / "shared.txt";
    writeFileBytes(file, "x");
    const int kThreads = 4;
    const int kOpens = 50;
    platform::armFault(FaultPoint::FileOpen, 101, FaultRepeat::FromThenOn);
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kOpens; ++i) {
                if (std::FILE* stream = platform::openFile(file.utf8(), "rb"))
                    std::fclose(stream);
                else
                    ++failures[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    int failed = 0;
    for (int count : failures)
        failed += count;
    EXPECT_EQ(failed, kThreads * kOpens - 100);
    EXPECT_EQ(platform::faultPointCalls(FaultPoint::FileOpen), kThreads * kOpens);
    EXPECT_EQ(platform::faultsInjected(FaultPoint::FileOpen), kThreads * kOpens - 100);
}

// ---- the settings store -----------------------------------------------------------------

// A save refused for want of its mutex records an error, and the logger keeps what it
// made for the first record: made here once, so that memory counts start after it.
void warmUpUnlockedSave(const Operation& operation)
{
    DisarmAtEnd disarm;
    operation.prepare();
    platform::armFault(FaultPoint::NamedMutexOpen, 1, FaultRepeat::FromThenOn);
    EXPECT_FALSE(operation.run());
    platform::disarmFaults();
}

TEST(FaultInjection, SettingsSaveKeepsTheOldFileOrWritesTheNewOne)
{
    TempFolder temp;
    const TPath path = temp / "KyroUserSettings.xml";

    // The old file and the new one, as a save with nothing failing writes them.
    std::string oldBytes;
    std::string newBytes;
    {
        CKyroUtilSettingsFile settings(false);
        ASSERT_TRUE(settings.load(path));
        ASSERT_TRUE(settings.setValue("Options", "Report", "old"));
        ASSERT_TRUE(settings.setValue("Options", "Other", "kept"));
        ASSERT_TRUE(settings.save(path));
        oldBytes = readFileBytes(path);
        ASSERT_TRUE(settings.load(path));
        ASSERT_TRUE(settings.setValue("Options", "Report", "new"));
        ASSERT_TRUE(settings.save(path));
        newBytes = readFileBytes(path);
    }

    Operation save{
        [&] { writeFileBytes(path, oldBytes); },
        [&] {
            CKyroUtilSettingsFile settings(true);
            return settings.load(path) && settings.setValue("Options", "Report", "new") &&
                   settings.save(path);
        },
        [&](bool saved) {
            EXPECT_EQ(readFileBytes(path), saved ? newBytes : oldBytes);
            EXPECT_EQ(storedValue(path, "Options", "Report"), saved ? "new" : "old");
            EXPECT_EQ(storedValue(path, "Options", "Other"), "kept");
            EXPECT_EQ(temporaryFiles(temp.path()), 0);
        }};
    save.needsMutex = true;
    warmUpUnlockedSave(save);
    const CallCounts calls = failEveryKindOfCall(save);
    expectReached(calls, {FaultPoint::FileOpen, FaultPoint::FileWrite, FaultPoint::FileReplace,
                          FaultPoint::NamedMutexOpen});
}

TEST(FaultInjection, ConsentWriteAndReadAnswerFalseOrRecordTheAnswer)
{
    TempFolder temp;
    const TPath folder = temp / "settings";
    const TPath path = folder / "KyroUserSettings.xml";
    const kyrointutil::KyroProductIdentity identity{"Product", "ProductQualifier"};

    // Written into a file that is not there yet, in a folder that is not there yet.
    Operation write{
        [&] { std::filesystem::remove_all(nativePath(folder)); },
        [&] { return kyrointutil::writePrivacyPolicyConsent(identity, true, path); },
        [&](bool written) {
            bool consented = false;
            EXPECT_EQ(kyrointutil::readPrivacyPolicyConsent(identity, &consented, path), written);
            EXPECT_EQ(consented, written);
            if (fileExists(folder)) {
                EXPECT_EQ(temporaryFiles(folder), 0);
            } else {
                EXPECT_FALSE(written);
            }
        }};
    write.needsMutex = true;
    warmUpUnlockedSave(write);
    const CallCounts writeCalls = failEveryKindOfCall(write);
    expectReached(writeCalls, {FaultPoint::FileOpen, FaultPoint::FileWrite,
                               FaultPoint::FileReplace, FaultPoint::NamedMutexOpen});

    // Read back: not found when the file cannot be read.
    ASSERT_TRUE(kyrointutil::writePrivacyPolicyConsent(identity, false, path));
    const std::string bytes = readFileBytes(path);
    const CallCounts readCalls = failEveryKindOfCall(Operation{
        [] {},
        [&] {
            bool consented = true;
            const bool found = kyrointutil::readPrivacyPolicyConsent(identity, &consented, path);
            EXPECT_FALSE(consented);
            return found;
        },
        [&](bool) { EXPECT_EQ(readFileBytes(path), bytes); }});
    expectReached(readCalls, {FaultPoint::FileOpen, FaultPoint::NamedMutexOpen});
}

// ---- the loggers ------------------------------------------------------------------------

TEST(FaultInjection, ErrorRecordIsWrittenWholeOrNotAtAll)
{
    TempFolder temp;
    writeTestTable(temp / "KyroErrorCodes.xml");
    const CKyroIntError record(Kyro::kVendorKyroInt, 5, "src\\dialogs.cpp", 42, "1.2.3");
    LogCase log(temp / "Errors.log", temp / "KyroErrorCodes.xml", record, false, "\t");
    expectReached(failEveryKindOfCall(log.operation()),
                  {FaultPoint::FileOpen, FaultPoint::FileWrite, FaultPoint::NamedMutexOpen});
    EXPECT_NE(log.expected.find("Kyro Integration Library"), std::string::npos) << log.expected;

    // Written without the mutex, which cannot be made: a failing write still takes its
    // record back.
    Operation withoutMutex = log.operation();
    const std::function<bool()> run = withoutMutex.run;
    withoutMutex.run = [run] {
        platform::armFault(FaultPoint::NamedMutexOpen, 1, FaultRepeat::FromThenOn);
        return run();
    };
    DisarmAtEnd disarm;
    failEachCall(withoutMutex, FaultPoint::FileWrite);
}

TEST(FaultInjection, DebugAndPerformanceLinesAreWrittenWholeOrNotAtAll)
{
    TempFolder temp;
    writeTestTable(temp / "KyroErrorCodes.xml");
    // Long enough that a part of the line would show.
    const KyroDebugLog debug(Kyro::kVendorKyroInt, TStr(std::string(300, 'd').c_str()));
    LogCase debugLog(temp / "KyroDebug.log", temp / "KyroErrorCodes.xml", debug, false, "\t");
    expectReached(failEveryKindOfCall(debugLog.operation()),
                  {FaultPoint::FileOpen, FaultPoint::FileWrite, FaultPoint::NamedMutexOpen});

    KyroPerfLogData data;
    data.marker = "FAULTS.START";
    const KyroPerfLog perf(Kyro::kVendorKyroInt, data);
    LogCase perfLog(temp / "KyroPerfLog.csv", temp / "KyroErrorCodes.xml", perf, true, ",");
    expectReached(failEveryKindOfCall(perfLog.operation()),
                  {FaultPoint::FileOpen, FaultPoint::FileWrite, FaultPoint::NamedMutexOpen});
}

// ---- the XML loaders --------------------------------------------------------------------

// Each loader only opens its file: it loads, or stays unloaded (the custom environment
// reporting its file's failure).
TEST(FaultInjection, XmlLoadersLoadOrStayUnloaded)
{
    std::string ignored;
    if (platform::environmentVariable("NORVELDT_KYRO_THINCLIENT_ENV", &ignored))
        GTEST_SKIP() << "the thin client's file would be read instead";
    TempFolder temp;
    writeFileBytes(temp / "KyroIntRes.xml", "<KYROSTRINGTABLE><STRING ID=\"IDS_BUTTON_OK\">"
                                            "<CAPTION>OK</CAPTION></STRING></KYROSTRINGTABLE>");
    writeTestTable(temp / "KyroErrorCodes.xml");
    writeFileBytes(temp / "custom.xml", "<KYROCUSTOMENV>"
                   "<PLATFORM OS=\"Windows\"><KEY ID=\"K\"><STRING>v</STRING></KEY></PLATFORM>"
                   "<PLATFORM OS=\"Linux\"><KEY ID=\"K\"><STRING>v</STRING></KEY></PLATFORM>"
                   "</KYROCUSTOMENV>");
    ScopedVariable custom("NORVELDT_KYRO_CUSTOM_ENV", (temp / "custom.xml").utf8());
    const std::function<bool()> loads[] = {
        [&] {
            CKyroIntResHandler handler;
            const bool loaded = handler.load(temp.path());
            EXPECT_EQ(handler.getString("IDS_BUTTON_OK"), loaded ? "OK" : "");
            return loaded;
        },
        [&] {
            KyroErrorTable table(temp / "KyroErrorCodes.xml");
            const bool loaded = table.Load();
            EXPECT_EQ(table.IsLoaded(), loaded);
            EXPECT_EQ(table.GetErrorDescription(1, 5),
                      loaded ? "The companion could not be reached" : "");
            return loaded;
        },
        [] {
            CKyroUtilCustomEnv environment;
            const int status = environment.load();
            const bool loaded = status == CKyroUtilCustomEnv::kLoaded;
            EXPECT_TRUE(loaded || status == CKyroUtilCustomEnv::kCustomFileFailed) << status;
            const TStr value = environment.getValue("K");
            EXPECT_TRUE(loaded ? value == "v" : value.isEmpty());
            return loaded;
        },
    };
    for (const auto& load : loads)
        expectReached(failEveryKindOfCall(Operation{[] {}, load, [](bool) {}}), {FaultPoint::FileOpen});
}

}  // namespace
