#include "kyro/diagnostics/KyroLoggable.h"

#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/platform/system_info.h"

#include <atomic>
#include <mutex>
#include <string>

namespace {
const char kReason[] = "Reason";
const char kComputerName[] = "ComputerName";
const char kOS[] = "OS";
}  // namespace

const char* const KyroLoggable::REASON = kReason;
const char* const KyroLoggable::COMPUTER_NAME = kComputerName;
const char* const KyroLoggable::OS = kOS;

TStr KyroLoggable::msHostName;
TStr KyroLoggable::msPlatformOS;

namespace {

// The host facts are written while records are built on any thread. Until both are known
// they change only under this lock, and readers copy them under it; once both are known
// they never change again and are read directly.
std::mutex& hostFactsLock()
{
    static std::mutex lock;
    return lock;
}

std::atomic<bool> g_hostFactsComplete{false};

// Keys as TStr, made once: every record writes them. (Never destroyed, so records logged
// while the process ends still find them.)
const TStr& reasonKey()
{
    static const TStr* key = new TStr(kReason);
    return *key;
}

const TStr& computerNameKey()
{
    static const TStr* key = new TStr(kComputerName);
    return *key;
}

const TStr& osKey()
{
    static const TStr* key = new TStr(kOS);
    return *key;
}

}  // namespace

KyroLoggable::KyroLoggable(const TStr& reason) : reason(reason)
{
    setSystemInformation();
}

KyroLoggable::KyroLoggable(const KyroLoggable& other) : reason(other.reason)
{
}

KyroLoggable& KyroLoggable::operator=(const KyroLoggable& other)
{
    reason = other.reason;
    return *this;
}

KyroLoggable::~KyroLoggable() = default;

void KyroLoggable::setReason(const TStr& text)
{
    reason = text;
}

TStr KyroLoggable::getReason() const
{
    return reason;
}

void KyroLoggable::clear()
{
    reason = "";
}

void KyroLoggable::setSystemInformation()
{
    if (g_hostFactsComplete.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> guard(hostFactsLock());
    if (!msHostName.isEmpty() && !msPlatformOS.isEmpty()) {
        g_hostFactsComplete.store(true, std::memory_order_release);
        return;
    }
    msHostName = TStr(kyro::platform::computerName().c_str());
    kyro::platform::OsVersion version;
    if (!kyro::platform::osVersion(&version))
        return;
    msPlatformOS = TStr("%1.%2.%3.%4")
                       .arg(TStr(std::to_string(version.major).c_str()))
                       .arg(TStr(std::to_string(version.minor).c_str()))
                       .arg(TStr(std::to_string(version.build).c_str()))
                       .arg(TStr(version.servicePack.c_str()));
    if (!msHostName.isEmpty() && !msPlatformOS.isEmpty())
        g_hostFactsComplete.store(true, std::memory_order_release);
}

void KyroLoggable::systemInformation(TStr* hostName, TStr* platformOS)
{
    if (g_hostFactsComplete.load(std::memory_order_acquire)) {
        *hostName = msHostName;
        *platformOS = msPlatformOS;
        return;
    }
    std::lock_guard<std::mutex> guard(hostFactsLock());
    *hostName = msHostName;
    *platformOS = msPlatformOS;
}

void KyroLoggable::dumpHeaderInfo(KyroLogger* logger) const
{
    if (logger == nullptr || reason.isEmpty())
        return;
    logger->logFile().write(reasonKey(), reason);
}

void KyroLoggable::dumpSystemInfo(KyroLogger* logger) const
{
    if (logger == nullptr)
        return;
    if (g_hostFactsComplete.load(std::memory_order_acquire)) {
        logger->logFile().write(computerNameKey(), msHostName);
        logger->logFile().write(osKey(), msPlatformOS);
        return;
    }
    TStr hostName;
    TStr platformOS;
    systemInformation(&hostName, &platformOS);
    logger->logFile().write(computerNameKey(), hostName);
    logger->logFile().write(osKey(), platformOS);
}
