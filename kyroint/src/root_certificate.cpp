#include "kyro/int/root_certificate.h"

#include "kyro/platform/debug_output.h"
#include "kyro/platform/trust_store.h"
#include "kyro/platform/web_request.h"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace kyrointutil {

const char* const kCertificateStore = "AuthRoot";
const char* const kCertificateName = "GTE CyberTrust Global Root";
const char* const kIdentityServiceAddress = "https://signin.norveldt.com/";
const char* const kIdentityServiceAgent = "KyroInt/15.0";
// A request that has not been answered in 10 s is not going to help this launch; the next
// may try again a minute later.
const RootUpkeepTiming kRootUpkeepTiming = {10000, 60000};

using kyro::platform::writeDebugOutput;

namespace {

std::atomic<std::uint32_t> g_requestLimitMs{kRootUpkeepTiming.requestLimitMs};
std::atomic<std::uint32_t> g_retryIntervalMs{kRootUpkeepTiming.retryIntervalMs};

// When the last update began, in milliseconds of the steady clock; none yet at first.
const std::int64_t kNeverUpdated = INT64_MIN;
std::atomic<std::int64_t> g_lastUpdate{kNeverUpdated};

std::int64_t steadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Claims the next update for the calling thread: false while the last one began less than
// the retry interval ago.
bool updateIsDue()
{
    const std::int64_t now = steadyMilliseconds();
    const auto interval = static_cast<std::int64_t>(g_retryIntervalMs.load());
    std::int64_t last = g_lastUpdate.load();
    while (last == kNeverUpdated || now - last >= interval) {
        if (g_lastUpdate.compare_exchange_weak(last, now))
            return true;
    }
    return false;
}

}  // namespace

RootUpkeepTiming setRootUpkeepTiming(const RootUpkeepTiming& timing)
{
    const RootUpkeepTiming before = {g_requestLimitMs.exchange(timing.requestLimitMs),
                                     g_retryIntervalMs.exchange(timing.retryIntervalMs)};
    return before;
}

bool checkC7Certificate()
{
    using kyro::platform::TrustStoreLookup;
    switch (kyro::platform::findCertificateByDisplayName(kCertificateStore, kCertificateName)) {
    case TrustStoreLookup::StoreNotOpened:
        writeDebugOutput("KyRO: checkC7Certificate - Unable to open certificate store !!!");
        return false;
    case TrustStoreLookup::Found:
        writeDebugOutput("KyRO: checkC7Certificate - Found required certificate in the store.");
        return true;
    case TrustStoreLookup::NotFound:
        writeDebugOutput(
            "KyRO: checkC7Certificate - Unable to find required certiface in the store.");
        return false;
    case TrustStoreLookup::Failed:
        break;
    }
    writeDebugOutput("KyRO: checkC7Certificate - Exception caught while performing operation !!!");
    return false;
}

bool updateRootCertificate()
{
    return updateRootCertificate(g_requestLimitMs.load(), nullptr, nullptr);
}

bool updateRootCertificate(std::uint32_t limitMs, UpkeepIdle idle, void* context)
{
    using kyro::platform::WebRequestResult;
    writeDebugOutput("KyRO: updateRootCertificate - Updating certificate for Corvel 'PRODUCTION'...");
    kyro::platform::WebRequestWait wait;
    wait.limitMs = limitMs;
    wait.idle = idle;
    wait.context = context;
    switch (kyro::platform::openWebAddress(kIdentityServiceAgent, kIdentityServiceAddress, wait)) {
    case WebRequestResult::SessionFailed:
        writeDebugOutput("KyRO: updateRootCertificate - Connection Failed or Syntax error");
        return false;
    case WebRequestResult::AddressFailed:
    case WebRequestResult::TimedOut:
        writeDebugOutput("KyRO: updateRootCertificate - Failed to open URL !!!");
        return false;
    case WebRequestResult::Opened:
        break;
    }
    writeDebugOutput("KyRO: updateRootCertificate - Done updating Corvel certificate.");
    return true;
}

void keepRootCertificate(UpkeepIdle idle, void* context)
{
    if (!checkC7Certificate() && updateIsDue())
        updateRootCertificate(g_requestLimitMs.load(), idle, context);
}

}  // namespace kyrointutil
