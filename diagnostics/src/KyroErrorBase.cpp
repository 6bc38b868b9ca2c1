#include "kyro/diagnostics/KyroErrorBase.h"

#include "kyro/diagnostics/KyroLogger.h"

const char* const KyroErrorBase::THROWN_FILE = "File";
const char* const KyroErrorBase::THROWN_LINE = "Line";
const char* const KyroErrorBase::REASON_FATAL_ERROR = "Fatal error";
const char* const KyroErrorBase::VENDOR_ERROR = "VendorError";
const char* const KyroErrorBase::VENDOR_ID = "VendorID";

KyroErrorBase::KyroErrorBase(Kyro::VendorID vendorID, int vendorStatusID, const TStr& thrownFile,
                             int thrownLine, const TStr& vendorVersion)
    : KyroLoggable(REASON_FATAL_ERROR),
      thrownFile(thrownFile),
      thrownLine(thrownLine),
      vendorID(vendorID),
      vendorStatusID(vendorStatusID),
      vendorVersion(vendorVersion)
{
}

KyroErrorBase::KyroErrorBase(const KyroErrorBase& other) = default;
KyroErrorBase& KyroErrorBase::operator=(const KyroErrorBase& other) = default;
KyroErrorBase::~KyroErrorBase() = default;

TStr KyroErrorBase::getThrownFile() const
{
    return thrownFile;
}

void KyroErrorBase::setThrownFile(const TStr& file)
{
    thrownFile = file;
}

int KyroErrorBase::getThrownLine() const
{
    return thrownLine;
}

void KyroErrorBase::setThrownLine(int line)
{
    thrownLine = line;
}

Kyro::VendorID KyroErrorBase::getVendorID() const
{
    return vendorID;
}

void KyroErrorBase::setVendorID(Kyro::VendorID id)
{
    vendorID = id;
}

int KyroErrorBase::getVendorStatusID() const
{
    return vendorStatusID;
}

void KyroErrorBase::setVendorStatusID(int status)
{
    vendorStatusID = status;
}

TStr KyroErrorBase::getVendorVersion() const
{
    return vendorVersion;
}

void KyroErrorBase::setVendorVersion(const TStr& version)
{
    vendorVersion = version;
}

TStr KyroErrorBase::getVendorIDStr() const
{
    return TStr("%1").arg(static_cast<int>(vendorID));
}

TStr KyroErrorBase::getVendorStatusIDStr() const
{
    return TStr("%1").arg(vendorStatusID);
}

TStr KyroErrorBase::getVendorStatusStr() const
{
    return getVendorStatusIDStr();
}

TStr KyroErrorBase::addDescription(const TStr& text, const TStr& description) const
{
    if (description.isEmpty())
        return text;
    return text + " [" + description + "]";
}

void KyroErrorBase::clear()
{
    KyroLoggable::clear();
    thrownFile = "";
    thrownLine = -1;
    vendorID = Kyro::kVendorNone;
    vendorStatusID = 0;
    vendorVersion = "";
}

void KyroErrorBase::dumpTechSupport(KyroLogger* logger) const
{
    dumpHeaderInfo(logger);
    dumpSystemInfo(logger);
    dumpGeneralInfo(logger);
    dumpErrorInfo(logger);
    dumpVendorVersionInfo(logger);
}

void KyroErrorBase::dumpGeneralInfo(KyroLogger* logger) const
{
    if (logger == nullptr)
        return;
    // The base name, unless there is none (an empty thrown file, or one that ends with
    // "\"): then the thrown file as it is.
    TStr file = thrownFile;
    if (!thrownFile.isEmpty()) {
        TStr folder = thrownFile;
        const TStr baseName = folder.cutLast("\\");
        if (!baseName.isEmpty())
            file = baseName;
    }
    KyroDelimitedFile::PairList pairs = {{THROWN_FILE, file},
                                         {THROWN_LINE, TStr("%1").arg(thrownLine)}};
    logger->logFile().write(pairs);
}

void KyroErrorBase::dumpErrorInfo(KyroLogger* logger) const
{
    if (logger == nullptr)
        return;
    const KyroErrorTable& table = logger->errorTable();
    logger->logFile().write(VENDOR_ID, addDescription(getVendorIDStr(), table.GetVendorName(vendorID)));
    logger->logFile().write(VENDOR_ERROR, addDescription(getVendorStatusStr(),
                                                         table.GetErrorDescription(vendorID, vendorStatusID)));
}

void KyroErrorBase::dumpVendorVersionInfo(KyroLogger* logger) const
{
    if (logger == nullptr)
        return;
    const TStr vendorName = logger->errorTable().GetVendorName(vendorID);
    if (!vendorVersion.isEmpty() && !vendorName.isEmpty())
        logger->logFile().write(vendorName, vendorVersion);
}
