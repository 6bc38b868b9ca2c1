// KyroLoggable: one thing a logger writes (an error, a debug message, a performance
// marker). A record writes itself: the logger stamps its file's section, opens the file
// and calls dumpTechSupport(), which writes the record's lines through logger->logFile()
// and, for errors, looks names and descriptions up in logger->errorTable().
//
// Every record carries a reason. The host facts (computer name and system version) are
// gathered once per process, by the first record built, and shared by all records.
// Records are plain values: built on the stack, logged and dropped.
#ifndef KYRO_DIAGNOSTICS_KYROLOGGABLE_H
#define KYRO_DIAGNOSTICS_KYROLOGGABLE_H

#include "kyro/diagnostics/KyroVendorID.h"
#include "kyro/export.h"
#include "kyro/util/TStr.h"

class KyroLogger;

class KYRO_EXPORT KyroLoggable {
public:
    // Writes the record's lines; nothing without a logger.
    virtual void dumpTechSupport(KyroLogger* logger) const = 0;
    virtual void setReason(const TStr& reason);
    virtual TStr getReason() const;
    virtual ~KyroLoggable();

protected:
    // Stores the reason and gathers the host facts if they are still missing.
    explicit KyroLoggable(const TStr& reason);
    // Copies the reason only.
    KyroLoggable(const KyroLoggable& other);
    KyroLoggable& operator=(const KyroLoggable& other);

    // "Reason"=reason, unless the reason is empty.
    virtual void dumpHeaderInfo(KyroLogger* logger) const;
    // "ComputerName"=host, then "OS"=system text, each on its own line, also when empty.
    virtual void dumpSystemInfo(KyroLogger* logger) const;
    // Empties the reason.
    virtual void clear();

    // Fills msHostName and msPlatformOS unless both are set already. A system text that
    // cannot be read stays empty, so the next record tries again.
    static void setSystemInformation();
    // The host facts as records write them: copies taken under the gathering's lock while
    // another thread may still be filling them in.
    static void systemInformation(TStr* hostName, TStr* platformOS);

    static const char* const REASON;          // "Reason"
    static const char* const COMPUTER_NAME;   // "ComputerName"
    static const char* const OS;              // "OS"

    // The computer name; the system version as "major.minor.build.service pack" (with no
    // service pack the text ends with the dot).
    static TStr msHostName;
    static TStr msPlatformOS;

    TStr reason;
};

#endif
