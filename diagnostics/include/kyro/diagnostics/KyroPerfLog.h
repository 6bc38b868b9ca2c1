// KyroPerfLog: one performance marker. A timed operation is logged as two markers, its
// name followed by ".START" just before it and by ".STOP" just after it, each stamped with
// milliseconds (KyroLogger::startLoggingWMilliSecs). Its one line (after the section, all
// separated by ","):
//
//   <system text>,<host>,<library version>,<field1>:<field2>,<field3>:<field4>,
//   <display name>,<marker>,
//
// An empty system text, host, version or display name is written "NA".
#ifndef KYRO_DIAGNOSTICS_KYROPERFLOG_H
#define KYRO_DIAGNOSTICS_KYROPERFLOG_H

#include "kyro/diagnostics/KyroDebugLog.h"

// What a marker carries; every field "NA" until set.
struct KyroPerfLogData {
    KyroPerfLogData() : field1("NA"), field2("NA"), field3("NA"), field4("NA"), marker("NA") {}

    TStr field1;
    TStr field2;
    TStr field3;
    TStr field4;
    TStr marker;   // the event: an upper-case name and ".START" or ".STOP"
};

class KYRO_EXPORT KyroPerfLog : public KyroDebugLog {
public:
    // The fields from `data`; empty ones become "NA".
    KyroPerfLog(Kyro::VendorID componentID, const KyroPerfLogData& data);
    KyroPerfLog(const KyroPerfLog& other);
    KyroPerfLog& operator=(const KyroPerfLog& other);
    ~KyroPerfLog() override;

    void dumpTechSupport(KyroLogger* logger) const override;
    // Empties the reason and the five fields; component 0. Message and display name stay.
    void clear() override;

protected:
    TStr field1;
    TStr field2;
    TStr field3;
    TStr field4;
    TStr marker;
};

#endif
