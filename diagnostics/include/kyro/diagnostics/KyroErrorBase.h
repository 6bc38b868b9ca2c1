// KyroErrorBase: an error record: where it was raised, which component reported it and
// with which status. Its lines, in order (each after the section):
//
//   Reason=<reason>                      only when the reason is not empty
//   ComputerName=<host>
//   OS=<system text>
//   File=<base name>,Line=<line>         one line; the base name is the text after the
//                                        thrown file's last "\" (the whole thrown file
//                                        when that is empty)
//   VendorID=<id> [<vendor name>]        the bracket only when the error table names it
//   VendorError=<status> [<description>]
//   <vendor name>=<vendor version>       only when both are known
#ifndef KYRO_DIAGNOSTICS_KYROERRORBASE_H
#define KYRO_DIAGNOSTICS_KYROERRORBASE_H

#include "kyro/diagnostics/KyroLoggable.h"

class KYRO_EXPORT KyroErrorBase : public KyroLoggable {
public:
    static const char* const THROWN_FILE;          // "File"
    static const char* const THROWN_LINE;          // "Line"
    static const char* const REASON_FATAL_ERROR;   // "Fatal error"
    static const char* const VENDOR_ERROR;         // "VendorError"
    static const char* const VENDOR_ID;            // "VendorID"

    // Reason "Fatal error".
    KyroErrorBase(Kyro::VendorID vendorID, int vendorStatusID, const TStr& thrownFile,
                  int thrownLine, const TStr& vendorVersion);
    KyroErrorBase(const KyroErrorBase& other);
    KyroErrorBase& operator=(const KyroErrorBase& other);
    ~KyroErrorBase() override;

    // Header, system, general, error and vendor-version lines, each through the virtual
    // table, so a subclass may replace any of them.
    void dumpTechSupport(KyroLogger* logger) const override;

    TStr getThrownFile() const;
    void setThrownFile(const TStr& thrownFile);
    int getThrownLine() const;
    void setThrownLine(int thrownLine);
    Kyro::VendorID getVendorID() const;
    void setVendorID(Kyro::VendorID vendorID);
    int getVendorStatusID() const;
    void setVendorStatusID(int vendorStatusID);
    TStr getVendorVersion() const;
    void setVendorVersion(const TStr& vendorVersion);

    // The identifiers in decimal.
    TStr getVendorIDStr() const;
    TStr getVendorStatusIDStr() const;
    // The status as the "VendorError" line shows it; the decimal status by default.
    virtual TStr getVendorStatusStr() const;

protected:
    // "VendorID" and "VendorError" lines.
    virtual void dumpErrorInfo(KyroLogger* logger) const;
    // The "File"/"Line" line.
    virtual void dumpGeneralInfo(KyroLogger* logger) const;
    // The vendor name = vendor version line.
    virtual void dumpVendorVersionInfo(KyroLogger* logger) const;

    // Empties reason, thrown file and vendor version; line -1, vendor 0, status 0.
    void clear() override;

    // `text`, or `text [description]` when there is a description.
    TStr addDescription(const TStr& text, const TStr& description) const;

    TStr thrownFile;
    int thrownLine;
    Kyro::VendorID vendorID;
    int vendorStatusID;
    TStr vendorVersion;
};

#endif
