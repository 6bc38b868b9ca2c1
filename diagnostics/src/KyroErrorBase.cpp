#include "kyro/diagnostics/KyroErrorBase.h"

#include "kyro/diagnostics/KyroLogger.h"

#include <cstring>
#include <utility>

namespace {

const char kThrownFile[] = "File";
const char kThrownLine[] = "Line";
const char kVendorError[] = "VendorError";
const char kVendorId[] = "VendorID";

// Keys as TStr, made once: every error record writes them. (Never destroyed, so records
// logged while the process ends still find them.)
const TStr& thrownFileKey()
{
    static const TStr* key = new TStr(kThrownFile);
    return *key;
}

const TStr& thrownLineKey()
{
    static const TStr* key = new TStr(kThrownLine);
    return *key;
}

const TStr& vendorErrorKey()
{
    static const TStr* key = new TStr(kVendorError);
    return *key;
}

const TStr& vendorIdKey()
{
    static const TStr* key = new TStr(kVendorId);
    return *key;
}

}  // namespace

const char* const KyroErrorBase::THROWN_FILE = kThrownFile;
const char* const KyroErrorBase::THROWN_LINE = kThrownLine;
const char* const KyroErrorBase::REASON_FATAL_ERROR = "Fatal error";
const char* const KyroErrorBase::VENDOR_ERROR = kVendorError;
const char* const KyroErrorBase::VENDOR_ID = kVendorId;

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
    return TStr(static_cast<int>(vendorID));
}

TStr KyroErrorBase::getVendorStatusIDStr() const
{
    return TStr(vendorStatusID);
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
    const char* baseName = std::strrchr(thrownFile.utf8(), '\\');
    KyroDelimitedFile::PairList pairs;
    pairs.emplace_back(thrownFileKey(),
                       baseName != nullptr && baseName[1] != '\0' ? TStr(baseName + 1) : thrownFile);
    pairs.emplace_back(thrownLineKey(), TStr(thrownLine));
    logger->logFile().write(pairs);
}

void KyroErrorBase::dumpErrorInfo(KyroLogger* logger) const
{
    if (logger == nullptr)
        return;
    const KyroErrorTable& table = logger->errorTable();
    const TStr vendorName = table.GetVendorName(vendorID);
    logger->logFile().write(vendorIdKey(), vendorName.isEmpty()
                                                    ? getVendorIDStr()
                                                    : addDescription(getVendorIDStr(), vendorName));
    const TStr description = table.GetErrorDescription(vendorID, vendorStatusID);
    logger->logFile().write(vendorErrorKey(), description.isEmpty()
                                                       ? getVendorStatusStr()
                                                       : addDescription(getVendorStatusStr(), description));
}

void KyroErrorBase::dumpVendorVersionInfo(KyroLogger* logger) const
{
    // Written only when both the version and the vendor's name are known.
    if (logger == nullptr || vendorVersion.isEmpty())
        return;
    const TStr vendorName = logger->errorTable().GetVendorName(vendorID);
    if (!vendorName.isEmpty())
        logger->logFile().write(vendorName, vendorVersion);
}
