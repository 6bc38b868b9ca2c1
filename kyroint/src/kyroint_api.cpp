// The host's entry points (kyro/kyroint.h): each one turns C texts into the library's and
// keeps every exception on this side.
#include "kyro/kyroint.h"

#include "kyro/diagnostics/KyroDebugLog.h"
#include "kyro/diagnostics/KyroErrorBase.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/diagnostics/KyroPerfLog.h"
#include "kyro/diagnostics/library_diagnostics.h"
#include "kyro/int/CKyroIntResHandler.h"
#include "kyro/int/KyroIntWaitDialog.h"
#include "kyro/int/dialog_requests.h"
#include "kyro/int/host_context.h"
#include "kyro/int/library_start_up.h"
#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/platform/threads.h"
#include "kyro/util/CKyroUtilCustomEnv.h"
#include "kyro/util/XmlFile.h"

#include <cstring>

namespace {

// A C text as the library's; null stays null (left out of a request).
TStr text(const char* utf8)
{
    return utf8 != nullptr ? TStr(utf8) : TStr();
}

// A text a record may carry: null counts as empty, a text that is not UTF-8 as none.
bool recordText(const char* utf8)
{
    return utf8 == nullptr || kyro::util::isWellFormedUtf8(utf8);
}

Kyro::VendorID vendorOf(int vendor)
{
    return static_cast<Kyro::VendorID>(vendor);
}

template <typename Result, typename Call>
Result guarded(Result failure, Call call) noexcept
{
    try {
        return call();
    } catch (...) {
        return failure;
    }
}

template <typename Call>
void guarded(Call call) noexcept
{
    try {
        call();
    } catch (...) {
    }
}

struct Work {
    void (*function)(void*);
    void* context;
};

void runWork(void* argument)
{
    Work* work = static_cast<Work*>(argument);
    try {
        work->function(work->context);
    } catch (...) {
    }
}

}  // namespace

extern "C" {

int kyrointStartUp(void)
{
    return guarded(0, [] { return kyrointutil::startUpLibrary() ? 1 : 0; });
}

int kyrointCustomEnvironmentStatus(void)
{
    return guarded(-1, [] { return CKyroUtilCustomEnv::instance().loadStatus(); });
}

const char* kyrointVersion(void)
{
    return kyro::diagnostics::libraryVersion();
}

int kyrointSetErrorLogFile(const char* path)
{
    if (path == nullptr || *path == '\0' || !kyro::util::isWellFormedUtf8(path))
        return 0;
    return guarded(0, [path] {
        kyro::diagnostics::setErrorLogFileName(TStr(path));
        return 1;
    });
}

int kyrointLogError(int vendor, int status, const char* sourceFile, int line, const char* version)
{
    if (!recordText(sourceFile) || !recordText(version))
        return 0;
    return guarded(0, [=] {
        const KyroErrorBase error(vendorOf(vendor), status, text(sourceFile), line, text(version));
        return kyro::diagnostics::recordLibraryError(error) ? 1 : 0;
    });
}

// The debug and performance loggers are made for each call, as a host's own would be on
// its stack: each asks its switch anew, and calls from several threads need no lock.
int kyrointLogDebug(int vendor, const char* message)
{
    if (message == nullptr || !kyro::util::isWellFormedUtf8(message))
        return 0;
    return guarded(0, [=] {
        KyroDebugLogger logger;
        if (!logger.isDebugLogEnabled())
            return 0;
        const KyroDebugLog record(vendorOf(vendor), TStr(message));
        logger.startLogging();
        logger.log(record);
        return 1;
    });
}

int kyrointLogPerfMarker(int vendor, const char* marker, int withMilliseconds)
{
    if (marker == nullptr || !kyro::util::isWellFormedUtf8(marker))
        return 0;
    return guarded(0, [=] {
        KyroPerfLogger logger;
        if (!logger.isPerfLogEnabled())
            return 0;
        KyroPerfLogData data;
        data.marker = marker;
        const KyroPerfLog record(vendorOf(vendor), data);
        if (withMilliseconds != 0)
            logger.startLoggingWMilliSecs();
        else
            logger.startLogging();
        logger.log(record);
        return 1;
    });
}

int kyrointIsDebugLogEnabled(void)
{
    return guarded(0, [] { return KyroDebugLogger().isDebugLogEnabled() ? 1 : 0; });
}

int kyrointIsPerfLogEnabled(void)
{
    return guarded(0, [] { return KyroPerfLogger().isPerfLogEnabled() ? 1 : 0; });
}

void kyrointSetLocale(const char* locale)
{
    guarded([locale] { kyrointutil::setLocale(TStr(locale != nullptr ? locale : "")); });
}

void kyrointSetIdleHook(KyrointIdleHook hook, void* context)
{
    kyrointutil::setIdleHook(hook, context);
}

void kyrointSetDialogStateHook(KyrointDialogStateHook hook, void* context)
{
    kyrointutil::setDialogStateHook(hook, context);
}

void kyrointSetClientProcessId(unsigned int processId)
{
    VexPipeNamedConduit::setClientProcessId(processId);
}

int kyrointSetResourceFolder(const char* folder)
{
    return guarded(0, [folder] { return kyrointutil::setResourceFolder(text(folder)) ? 1 : 0; });
}

int kyrointGetString(const char* id, char* buffer, int size)
{
    return guarded(0, [=] {
        const TStr found = id != nullptr ? kyrointutil::resourceString(id) : TStr();
        const int length = found.length();
        if (buffer != nullptr && size > 0) {
            const int copied = length < size ? length : size - 1;
            std::memcpy(buffer, found.utf8(), static_cast<std::size_t>(copied));
            buffer[copied] = '\0';
        }
        return length;
    });
}

int kyrointShowErrorDialog(const char* caption, const char* title, const char* detail, int icon)
{
    return guarded(0, [=] {
        return kyrointutil::showErrorDialog(text(caption), text(title), text(detail), icon) ? 1 : 0;
    });
}

int kyrointShowInsufficientMemory(void)
{
    return guarded(0, [] { return kyrointutil::showInsufficientMemory() ? 1 : 0; });
}

int kyrointShowMessageBox(const char* caption, const char* title, int icon, const char* button0,
                          const char* button1, int focusIndex)
{
    return guarded(0, [=] {
        return kyrointutil::showMessageBox(text(caption), text(title), icon, text(button0),
                                           text(button1), focusIndex);
    });
}

int kyrointShowPrivacyPolicy(const char* productName, const char* productQualifier,
                             const char* brandingImagePath, const char* heroImagePath)
{
    return guarded(5, [=] {
        const kyrointutil::KyroProductIdentity product{text(productName), text(productQualifier)};
        return kyrointutil::showPrivacyPolicy(product, text(brandingImagePath),
                                              text(heroImagePath));
    });
}

void kyrointAcquireWaitDialog(int connectNow)
{
    guarded([connectNow] { KyroIntWaitDialog::acquire(connectNow != 0); });
}

void kyrointReleaseWaitDialog(void)
{
    guarded([] { KyroIntWaitDialog::release(); });
}

int kyrointShowWaitDialog(void)
{
    return guarded(5, [] { return KyroIntWaitDialog::show(); });
}

int kyrointHideWaitDialog(void)
{
    return guarded(2, [] { return KyroIntWaitDialog::hide(); });
}

int kyrointRunWithPleaseWait(void (*work)(void* context), void* context, unsigned int delayMs)
{
    if (work == nullptr)
        return 0;
    return guarded(0, [=] {
        Work job{work, context};
        const kyro::platform::ThreadHandle worker = kyro::platform::startThread(&runWork, &job);
        if (worker == kyro::platform::kNoThread)
            return 0;
        const bool ended = kyrointutil::waitWithPleaseWait(worker, delayMs);
        // The work uses `job` until it returns: never leave before it has.
        if (!ended)
            kyro::platform::waitForThread(worker, kyro::platform::kWaitForever);
        kyro::platform::releaseThread(worker);
        return 1;
    });
}

void kyrointSuppressWaitDialog(int suppressed)
{
    kyrointutil::setPleaseWaitSuppressed(suppressed != 0);
}

void kyrointPumpMessages(void)
{
    guarded([] { kyrointutil::pumpMessages(); });
}

}  // extern "C"
