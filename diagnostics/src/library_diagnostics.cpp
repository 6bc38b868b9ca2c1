#include "kyro/diagnostics/library_diagnostics.h"

#include "kyro/diagnostics/KyroLogger.h"

#include <mutex>

namespace kyro::diagnostics {

namespace {

// The shared error logger keeps its stamp, file and mutex in members: the library's
// threads take turns with it.
std::mutex& errorLogLock()
{
    static std::mutex lock;
    return lock;
}

}  // namespace

bool recordLibraryError(const KyroLoggable& record)
{
    std::lock_guard<std::mutex> guard(errorLogLock());
    KyroLogger* logger = KyroLogger::instance_m();
    if (logger->getLogFileName().isEmpty())
        return false;
    logger->startLogging();
    logger->log(record);
    return true;
}

void setErrorLogFileName(const TStr& name)
{
    std::lock_guard<std::mutex> guard(errorLogLock());
    KyroLogger::instance_m()->setLogFileName(name);
}

void recordLibraryError(int code, const char* thrownFile, int thrownLine)
{
    TStr file(thrownFile);
    file.replaceAll("/", "\\");
    const CKyroIntError error(Kyro::kVendorKyroInt, code, file, thrownLine, TStr(libraryVersion()));
    recordLibraryError(error);
}

const char* libraryVersion()
{
    return KYRO_VERSION_TEXT;
}

}  // namespace kyro::diagnostics
