#include "kyro/diagnostics/KyroLogger.h"

#include "kyro/platform/known_folders.h"
#include "kyro/platform/process_launch.h"
#include "kyro/util/KyroMutex.h"
#include "kyro/util/TPath.h"
#include "kyro/util/locations.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <new>
#include <string>

// The error logger's members are exported from here.
template class CKyroUtilSingleton<KyroLogger>;

const char* const KyroDebugLogger::KYRO_DEBUG_MODE = "KYRO_DEBUG_MODE";
const char* const KyroPerfLogger::KYRO_PERF_LOG = "KYRO_PERF_LOG";

namespace {

constexpr int kLogMutexWaitMs = 10000;
// A lock() that comes back false at once (the previous owner ended while holding the
// mutex, which KyroMutex then gives back) is tried again, a few times, within the wait.
constexpr int kLockAttempts = 8;

// The process-wide logger of instance() and close().
std::mutex g_instanceLock;
std::unique_ptr<KyroLogger> g_instance;

// Waits for `mutex` up to `timeoutMs` in all.
bool lockWithin(KyroMutex& mutex, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int remaining = timeoutMs;
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        if (mutex.lock(remaining))
            return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        remaining = static_cast<int>(left);
    }
    return false;
}

bool environmentHas(const char* name)
{
    std::string value;
    return kyro::platform::environmentVariable(name, &value);
}

// The user folder's file `name`, the folder created on the way (see the header).
TStr userFilePath(const char* name)
{
    const std::string system = kyro::platform::localAppDataFolder();
    TPath folder = system.empty() ? TPath("") : TPath((system + "\\Norveldt\\Kyro\\").c_str());
    if (!folder.isEmpty()) {
        folder.createDirectories();
        if (folder.exists() && folder.charAt(folder.charCount() - 1) != '\\')
            folder += "\\";
    }
    return folder + name;
}

}  // namespace

// --- KyroLogger --------------------------------------------------------------------------

KyroLogger::KyroLogger() : m_logFile(TStr("")), m_errorTable(TStr("")), m_sync(nullptr)
{
    loadErrorTable();
}

KyroLogger::KyroLogger(const TStr& fileName)
    : m_logFile(fileName), m_errorTable(TStr("")), m_sync(nullptr)
{
    if (!fileName.isEmpty())
        loadErrorTable();
}

KyroLogger::KyroLogger(bool loadTable) : m_logFile(TStr("")), m_errorTable(TStr("")), m_sync(nullptr)
{
    if (loadTable)
        loadErrorTable();
}

KyroLogger::~KyroLogger()
{
    delete m_sync;
}

KyroLogger* KyroLogger::instance()
{
    std::lock_guard<std::mutex> guard(g_instanceLock);
    if (!g_instance)
        g_instance.reset(new (std::nothrow) KyroLogger());
    return g_instance.get();
}

void KyroLogger::close()
{
    std::unique_ptr<KyroLogger> closing;
    {
        std::lock_guard<std::mutex> guard(g_instanceLock);
        closing = std::move(g_instance);
    }
}

KyroLogger* KyroLogger::instance_m()
{
    return &CKyroUtilSingleton<KyroLogger>::instance();
}

KyroErrorTable& KyroLogger::errorTable()
{
    return m_errorTable;
}

KyroDelimitedFile& KyroLogger::logFile()
{
    return m_logFile;
}

TStr KyroLogger::getHeader() const
{
    return m_logFile.getCurrentSection("\t");
}

TStr KyroLogger::getLogFileName() const
{
    return m_logFile.getFilename();
}

void KyroLogger::setLogFileName(const TStr& name)
{
    if (!name.isEmpty())
        m_logFile.setFilename(name);
}

void KyroLogger::startLogging()
{
    m_logFile.updateCurrentSection(false);
}

void KyroLogger::startLoggingWMilliSecs()
{
    m_logFile.updateCurrentSection(true);
}

bool KyroLogger::loadErrorTable()
{
    TStr path = getLocation(kLocationErrorTable, "");
    if (path.isEmpty())
        return false;
    // A location of the custom environment file may use "/" throughout.
    const char last = path.utf8()[path.length() - 1];
    if (last != '\\' && last != '/')
        path += "\\";
    path += "KyroErrorCodes.xml";
    m_errorTable.SetPathName(path);
    return m_errorTable.Load();
}

bool KyroLogger::initSynchronizeObject()
{
    const TStr fileName = m_logFile.getFilename();
    if (fileName.isEmpty() || m_sync == nullptr)
        return false;
    // The name is worked out again only when the file has changed.
    if (fileName != m_mutexFileName) {
        TStr folder = fileName;
        const TStr lastComponent = folder.cutLast("\\");
        m_mutexName = lastComponent.isEmpty() ? TStr("") : lastComponent + ".Mutex";
        m_mutexFileName = fileName;
    }
    return !m_mutexName.isEmpty() && m_sync->create(m_mutexName);
}

void KyroLogger::log(KyroLoggable* const record)
{
    if (record == nullptr)
        return;
    if (m_sync == nullptr)
        m_sync = new (std::nothrow) KyroMutex();
    const bool synchronised = initSynchronizeObject();
    if (synchronised)
        lockWithin(*m_sync, kLogMutexWaitMs);   // written anyway when the wait fails
    try {
        if (m_logFile.open(false) && m_logFile.beginRecord()) {
            record->dumpTechSupport(this);
            m_logFile.endRecord();
        }
    } catch (...) {
        // Out of memory, or a host's record that throws: what the record wrote goes, and
        // the file and the mutex are still given back.
        m_logFile.dropRecord();
    }
    m_logFile.close();
    if (synchronised)
        m_sync->unlock();
    // The handle goes with the record; the object is kept for the next one.
    if (m_sync != nullptr)
        m_sync->close();
}

void KyroLogger::log(const KyroLoggable& record)
{
    log(const_cast<KyroLoggable*>(&record));
}

// --- KyroDebugLogger ---------------------------------------------------------------------

KyroDebugLogger::KyroDebugLogger() : KyroLogger(false), enabled(false), logFilePath("")
{
    initDebugLogFilePath();
    checkIfDebugLogIsEnabled();
}

KyroDebugLogger::~KyroDebugLogger() = default;

void KyroDebugLogger::log(KyroLoggable* const record)
{
    if (record == nullptr || !enabled)
        return;
    KyroLogger::log(record);
}

void KyroDebugLogger::initDebugLogFilePath()
{
    logFilePath = userFilePath("KyroDebug.log");
    if (!logFilePath.isEmpty())
        logFile().setFilename(logFilePath);
}

void KyroDebugLogger::checkIfDebugLogIsEnabled()
{
    if (environmentHas(KYRO_DEBUG_MODE))
        enabled = true;
}

bool KyroDebugLogger::isDebugLogEnabled() const
{
    return enabled;
}

// --- KyroPerfLogger ----------------------------------------------------------------------

KyroPerfLogger::KyroPerfLogger() : KyroLogger(false), enabled(false), logFilePath("")
{
    initPerfLogFilePath();
    checkIfPerfLogIsEnabled();
}

KyroPerfLogger::~KyroPerfLogger() = default;

void KyroPerfLogger::log(KyroLoggable* const record)
{
    if (record == nullptr || !enabled)
        return;
    KyroLogger::log(record);
}

void KyroPerfLogger::initPerfLogFilePath()
{
    logFilePath = userFilePath("KyroPerfLog.csv");
    if (!logFilePath.isEmpty())
        logFile().setFilename(logFilePath);
}

void KyroPerfLogger::checkIfPerfLogIsEnabled()
{
    if (environmentHas(KYRO_PERF_LOG))
        enabled = true;
}

bool KyroPerfLogger::isPerfLogEnabled() const
{
    return enabled;
}
