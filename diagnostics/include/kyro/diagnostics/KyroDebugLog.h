// KyroDebugLog: one message for the debug log, shown with the display name of the
// component that sends it. Its one line (after the section, all separated by tabs):
//
//   <display name> TAB <message> TAB
//
// The display name is chosen when the record is built (see Kyro::VendorID); neither the
// reason nor the host facts are written.
#ifndef KYRO_DIAGNOSTICS_KYRODEBUGLOG_H
#define KYRO_DIAGNOSTICS_KYRODEBUGLOG_H

#include "kyro/diagnostics/KyroLoggable.h"

class KYRO_EXPORT KyroDebugLog : public KyroLoggable {
public:
    // No message, component 0, display name "None".
    KyroDebugLog();
    KyroDebugLog(Kyro::VendorID componentID, TStr debugLogInfo);
    KyroDebugLog(const KyroDebugLog& other);
    KyroDebugLog& operator=(const KyroDebugLog& other);
    ~KyroDebugLog() override;

    void dumpTechSupport(KyroLogger* logger) const override;

    // Stores the identifier only: the display name stays the one chosen at construction.
    void setComponentID(Kyro::VendorID componentID);
    Kyro::VendorID getComponentID() const;
    void setDebugLogInfo(const TStr& debugLogInfo);
    TStr getDebugLogInfo() const;

protected:
    // Empties reason, message and display name; component 0.
    void clear() override;
    // The display name from the current identifier.
    void setComponentIDStr();

    TStr debugLogInfo;
    Kyro::VendorID componentID;
    TStr componentIDStr;
};

#endif
