// The loggers: each writes records (KyroLoggable) as lines of a delimited file.
//
//   KyroLogger        the error logger: writes to the file a caller names, and owns the
//                     error table that error records describe themselves with. The
//                     process-wide one is KyroLogger::instance_m().
//   KyroDebugLogger   "KyroDebug.log" in the user folder, only while the environment
//                     variable "KYRO_DEBUG_MODE" is set (to anything, "0" included).
//   KyroPerfLogger    "KyroPerfLog.csv" in the user folder, only while "KYRO_PERF_LOG" is.
//
// The user folder is the local application-data folder followed by "\Norveldt\Kyro\"
// (kyro/platform/known_folders.h); it is created by the debug and performance loggers'
// constructors. No location override moves these two files.
//
// A record:
//
//     KyroLogger* logger = KyroLogger::instance_m();
//     logger->startLogging();                 // the stamp: process id, date, time
//     logger->log(error);
//
// Each record opens the file, writes all its lines and closes the file again, under the
// named mutex "<file name's last component>.Mutex", waited for up to 10000 ms, so records
// of several processes (and of several logger objects) sharing a file never interleave.
// A mutex that cannot be had in time does not stop the record. Nothing stays open between
// records. A record goes nowhere before the file has a name or the section a stamp. The
// file holds a record whole or not at all (KyroDelimitedFile::beginRecord), and a record
// after one cut short by a killed writer starts on a line of its own.
//
// Calls on one logger object must not overlap: the stamp, the file and the mutex are its
// members. Threads that share instance_m() take turns around startLogging() and log().
#ifndef KYRO_DIAGNOSTICS_KYROLOGGER_H
#define KYRO_DIAGNOSTICS_KYROLOGGER_H

#include "kyro/diagnostics/KyroDelimitedFile.h"
#include "kyro/diagnostics/KyroErrorTable.h"
#include "kyro/diagnostics/KyroLoggable.h"
#include "kyro/export.h"
#include "kyro/util/CKyroUtilCleanup.h"
#include "kyro/util/TStr.h"

class KyroMutex;

class KYRO_EXPORT KyroLogger {
public:
    // No file name; the error table is loaded.
    KyroLogger();
    // The error table is loaded when the name is not empty.
    explicit KyroLogger(const TStr& fileName);
    // No file name; the error table is loaded only when asked for.
    explicit KyroLogger(bool loadTable);
    virtual ~KyroLogger();
    KyroLogger(const KyroLogger&) = delete;
    KyroLogger& operator=(const KyroLogger&) = delete;

    // Writes one record (see above). Nothing for a null record.
    virtual void log(KyroLoggable* const record);
    // The pointer form, through the virtual table: a subclass's switch applies to both.
    virtual void log(const KyroLoggable& record);

    // A process-wide logger, made on first use; close() deletes it and the next
    // instance() makes a new one (which loads its error table again).
    static KyroLogger* instance();
    static void close();
    // The process-wide error logger (CKyroUtilSingleton<KyroLogger>), destroyed when the
    // library is unloaded. Distinct from instance().
    static KyroLogger* instance_m();

    KyroErrorTable& errorTable();
    KyroDelimitedFile& logFile();

    // The current stamp, parts joined by tabs; empty before the first stamp.
    TStr getHeader() const;
    TStr getLogFileName() const;
    // Another file for the next records; an empty name is ignored.
    void setLogFileName(const TStr& name);

    // Stamps the next record: process id, date and time in seconds...
    void startLogging();
    // ... or with milliseconds, for performance markers.
    void startLoggingWMilliSecs();

protected:
    // Loads "KyroErrorCodes.xml" from the error-table location (kLocationErrorTable).
    // False when there is no location or the file does not load.
    bool loadErrorTable();

private:
    // Opens the named mutex of the current file name; false when there is none.
    bool initSynchronizeObject();

    KyroDelimitedFile m_logFile;
    KyroErrorTable m_errorTable;
    KyroMutex* m_sync;   // made by the first record; its handle is open only while log() runs
    // The mutex name worked out for the file name beside it.
    TStr m_mutexFileName;
    TStr m_mutexName;
};

// Exported with its members, so hosts reach the library's one error logger through it.
extern template class KYRO_EXPORT CKyroUtilSingleton<KyroLogger>;

class KYRO_EXPORT KyroDebugLogger : public KyroLogger {
public:
    static const char* const KYRO_DEBUG_MODE;   // "KYRO_DEBUG_MODE"

    // The user folder's "KyroDebug.log"; enabled when KYRO_DEBUG_MODE is set now.
    KyroDebugLogger();
    ~KyroDebugLogger() override;

    using KyroLogger::log;
    // Writes only while enabled.
    void log(KyroLoggable* const record) override;

    // Creates the user folder and names the file in it (a bare file name, relative to the
    // current folder, when the system names no user folder).
    void initDebugLogFilePath();
    // Switches on when KYRO_DEBUG_MODE is set now; never switches off.
    void checkIfDebugLogIsEnabled();
    bool isDebugLogEnabled() const;

protected:
    bool enabled;
    TStr logFilePath;
};

class KYRO_EXPORT KyroPerfLogger : public KyroLogger {
public:
    static const char* const KYRO_PERF_LOG;   // "KYRO_PERF_LOG"

    // The user folder's "KyroPerfLog.csv"; enabled when KYRO_PERF_LOG is set now.
    KyroPerfLogger();
    ~KyroPerfLogger() override;

    using KyroLogger::log;
    void log(KyroLoggable* const record) override;

    void initPerfLogFilePath();
    void checkIfPerfLogIsEnabled();
    bool isPerfLogEnabled() const;

protected:
    bool enabled;
    TStr logFilePath;
};

#endif
