#include "kyro/diagnostics/KyroErrorBase.h"

#include "kyro/diagnostics/KyroLogger.h"

#include <cstring>
#include <utility>

namespace {

const char kThrownFile[] = "File";
const char kThrownLine[] = "Line";
const char kVendorError[] = "VendorError";
const char kVendorId[] = "VendorID";
const char kFatalError[] = "Fatal error";

// Keys as TStr, made once: every error record writes them. (Never destroyed, so records
// logged while the process ends still find them.)
const TStr& thrownFileKey()
{
    static const TStr* key = new TStr(kThrownFile);
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

// `value` in decimal into `out` (room for 12 characters); returns the length.
std::size_t formatDecimal(char* out, int value)
{
    char reversed[12];
    std::size_t count = 0;
    // Worked on the negative side, which holds every int.
    long long rest = value < 0 ? value : -static_cast<long long>(value);
    do {
        reversed[count++] = static_cast<char>('0' - rest % 10);
        rest /= 10;
    } while (rest != 0);
    std::size_t length = 0;
    if (value < 0)
        out[length++] = '-';
    while (count > 0)
        out[length++] = reversed[--count];
    return length;
}

const TStr& fatalError()
{
    static const TStr* text = new TStr(kFatalError);
    return *text;
}

}  // namespace

const char* const KyroErrorBase::THROWN_FILE = kThrownFile;
const char* const KyroErrorBase::THROWN_LINE = kThrownLine;
const char* const KyroErrorBase::REASON_FATAL_ERROR = kFatalError;
const char* const KyroErrorBase::VENDOR_ERROR = kVendorError;
const char* const KyroErrorBase::VENDOR_ID = kVendorId;

KyroErrorBase::KyroErrorBase(Kyro::VendorID vendorID, int vendorStatusID, const TStr& thrownFile,
                             int thrownLine, const TStr& vendorVersion)
    : KyroLoggable(fatalError()),
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
    // The base name, unless there is none (an empty thrown file, or one that ends with a
    // backslash): then the thrown file as it is.
    const char* file = thrownFile.utf8();
    const char* baseName = std::strrchr(file, '\\');
    if (baseName != nullptr && baseName[1] != '\0')
        file = baseName + 1;
    // Both pairs on one line, "File=<name>,Line=<number>", put together in one buffer.
    char number[16];
    const std::size_t digits = formatDecimal(number, thrownLine);
    const std::size_t fileLength = std::strlen(file);
    const std::size_t keyLength = sizeof(kThrownLine) - 1;
    TStr value;
    if (char* out = value.buffer(static_cast<int>(fileLength + 2 + keyLength + digits))) {
        std::memcpy(out, file, fileLength);
        out += fileLength;
        *out++ = ',';
        std::memcpy(out, kThrownLine, keyLength);
        out += keyLength;
        *out++ = '=';
        std::memcpy(out, number, digits);
        out[digits] = '\0';
    }
    logger->logFile().write(thrownFileKey(), value);
}

void KyroErrorBase::dumpErrorInfo(KyroLogger* logger) const
{
    if (logger == nullptr)
        return;
    const KyroErrorTable& table = logger->errorTable();
    // (Without a table there is nothing to look up.)
    const TStr vendorName = table.IsLoaded() ? table.GetVendorName(vendorID) : TStr();
    logger->logFile().write(vendorIdKey(), vendorName.isEmpty()
                                               ? getVendorIDStr()
                                               : addDescription(getVendorIDStr(), vendorName));
    const TStr description = table.IsLoaded() ? table.GetErrorDescription(vendorID, vendorStatusID) : TStr();
    logger->logFile().write(vendorErrorKey(), description.isEmpty()
                                                  ? getVendorStatusStr()
                                                  : addDescription(getVendorStatusStr(), description));
}

void KyroErrorBase::dumpVendorVersionInfo(KyroLogger* logger) const
{
    // Written only when both the version and the vendor's name are known.
    if (logger == nullptr || vendorVersion.isEmpty() || !logger->errorTable().IsLoaded())
        return;
    const TStr vendorName = logger->errorTable().GetVendorName(vendorID);
    if (!vendorName.isEmpty())
        logger->logFile().write(vendorName, vendorVersion);
}
