// CKyroIntError: an error of this library itself, or one it passes on from another
// component. In place of the "VendorID" and "VendorError" lines of KyroErrorBase it writes
//
//   KyroIntError=<code> [<description of the code under component 1>]
//
// followed by the two vendor lines only when the vendor is not this library (1).
//
// Internal: the library's subsystems record their failures with it (see
// kyro/diagnostics/library_diagnostics.h); it is not part of kyroint's exported interface.
#ifndef KYRO_DIAGNOSTICS_CKYROINTERROR_H
#define KYRO_DIAGNOSTICS_CKYROINTERROR_H

#include "kyro/diagnostics/KyroErrorBase.h"

class CKyroIntError : public KyroErrorBase {
public:
    // The library's own statuses, described under component 1 in KyroErrorCodes.xml.
    enum Status : int {
        kUnknownWriter = 1,            // a packet was addressed to a writer that is not there
        kRequestNotSent = 2,           // a request could not be handed to the companion
        kCompanionUnreachable = 5,     // the companion could not be started or reached
        kPacketNotCreated = 9,         // a request or reply packet could not be made
        kPolicyNotAccepted = 19,       // the privacy policy was answered without consent
        kStringTableNotLoaded = 30,    // the resource string table could not be loaded
        kSettingsNotLocked = 31,       // user settings were not saved: their lock could not be had
        kConsentNotSaved = 32          // an answer to the privacy policy could not be kept
    };

    // Status and internal code are both `code`.
    CKyroIntError(Kyro::VendorID vendorID, int code, const TStr& thrownFile, int thrownLine,
                  const TStr& vendorVersion);
    ~CKyroIntError() override;

    int getInternalCode() const { return internalCode; }

protected:
    void dumpErrorInfo(KyroLogger* logger) const override;

    int internalCode;
};

#endif
