#include "kyro/diagnostics/CKyroIntError.h"

#include "kyro/diagnostics/KyroLogger.h"

CKyroIntError::CKyroIntError(Kyro::VendorID vendorID, int code, const TStr& thrownFile,
                             int thrownLine, const TStr& vendorVersion)
    : KyroErrorBase(vendorID, code, thrownFile, thrownLine, vendorVersion), internalCode(code)
{
}

CKyroIntError::~CKyroIntError() = default;

void CKyroIntError::dumpErrorInfo(KyroLogger* logger) const
{
    if (logger == nullptr)
        return;
    const KyroErrorTable& table = logger->errorTable();
    const TStr description =
        table.IsLoaded() ? table.GetErrorDescription(Kyro::kVendorKyroInt, internalCode) : TStr();
    logger->logFile().write("KyroIntError", addDescription(TStr("%1").arg(internalCode), description));
    if (vendorID != Kyro::kVendorKyroInt)
        KyroErrorBase::dumpErrorInfo(logger);
}
