#include "kyro/int/KyroIntWaitDialog.h"

#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/library_diagnostics.h"
#include "kyro/int/dialog_requests.h"
#include "kyro/int/host_context.h"
#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/pipe/VexPipePacket.h"
#include "kyro/platform/user_interface.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>

namespace {

// Shared by every waiting thread of the process; requests over the conduit take turns.
struct WaitState {
    std::recursive_mutex lock;
    VexPipeNamedConduit* conduit = nullptr;
    std::uint32_t uses = 0;
};

WaitState& state()
{
    static WaitState* const instance = new WaitState;
    return *instance;
}

std::atomic<bool> g_suppressed{false};

void closeSharedConduit(WaitState& wait)
{
    if (wait.conduit != nullptr) {
        wait.conduit->close(true, true, true);
        delete wait.conduit;
        wait.conduit = nullptr;
    }
}

// Sends "kyro.PleaseWaitDialog" without waiting for an answer. 9 when the packets cannot
// be made, else transmit's result.
int sendWaiting(WaitState& wait, bool waiting)
{
    std::unique_ptr<VexPipePacket> request(
        new (std::nothrow) VexPipePacket("kyro.PleaseWaitDialog", VexPipePacket::kNoWait));
    std::unique_ptr<VexPipePacket> reply(new (std::nothrow) VexPipePacket);
    if (!request || !reply) {
        kyro::diagnostics::recordLibraryError(CKyroIntError::kPacketNotCreated, __FILE__,
                                              __LINE__);
        return CKyroIntError::kPacketNotCreated;
    }
    request->setString("locale", kyrointutil::locale());
    request->setString("waiting", waiting ? "True" : "False");
    const int result = wait.conduit->transmit(request.get(), reply.get(), 0);
    // A companion that has gone is not coming back on this conduit: the next show()
    // connects afresh.
    if (result != 0 && wait.conduit->connectionLost())
        closeSharedConduit(wait);
    return result;
}

}  // namespace

void KyroIntWaitDialog::acquire(bool connectNow)
{
    WaitState& wait = state();
    std::lock_guard<std::recursive_mutex> guard(wait.lock);
    ++wait.uses;
    if (connectNow && wait.conduit == nullptr)
        wait.conduit = kyrointutil::openCompanionConduit();
}

void KyroIntWaitDialog::release()
{
    WaitState& wait = state();
    std::lock_guard<std::recursive_mutex> guard(wait.lock);
    if (wait.uses == 0)
        return;
    if (--wait.uses == 0)
        closeSharedConduit(wait);
}

int KyroIntWaitDialog::show()
{
    WaitState& wait = state();
    std::lock_guard<std::recursive_mutex> guard(wait.lock);
    if (wait.conduit == nullptr)
        wait.conduit = kyrointutil::openCompanionConduit();
    if (wait.conduit == nullptr) {
        kyro::diagnostics::recordLibraryError(CKyroIntError::kCompanionUnreachable, __FILE__,
                                              __LINE__);
        return CKyroIntError::kCompanionUnreachable;
    }
    const int result = sendWaiting(wait, true);
    if (result == CKyroIntError::kPacketNotCreated)
        return result;
    if (result != 0) {
        kyro::diagnostics::recordLibraryError(CKyroIntError::kRequestNotSent, __FILE__,
                                              __LINE__);
        return CKyroIntError::kRequestNotSent;
    }
    return 0;
}

int KyroIntWaitDialog::hide()
{
    WaitState& wait = state();
    std::lock_guard<std::recursive_mutex> guard(wait.lock);
    if (wait.conduit == nullptr)
        return 0;
    const int result = sendWaiting(wait, false);
    if (result == CKyroIntError::kPacketNotCreated)
        return result;
    if (result != 0)
        kyro::diagnostics::recordLibraryError(result, __FILE__, __LINE__);
    return result;
}

std::uint32_t KyroIntWaitDialog::useCount()
{
    WaitState& wait = state();
    std::lock_guard<std::recursive_mutex> guard(wait.lock);
    return wait.uses;
}

namespace kyrointutil {

void setPleaseWaitSuppressed(bool suppressed)
{
    g_suppressed.store(suppressed);
}

bool waitWithPleaseWait(kyro::platform::ThreadHandle worker, std::uint32_t delayMs)
{
    using Clock = std::chrono::steady_clock;
    namespace platform = kyro::platform;
    KyroIntWaitDialog::acquire(true);
    const Clock::time_point start = Clock::now();
    bool delayOver = false;
    bool ended = false;
    for (;;) {
        const auto elapsed = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        const std::uint32_t timeout =
            delayOver ? platform::kWaitForever
                      : static_cast<std::uint32_t>(elapsed >= delayMs ? 0 : delayMs - elapsed);
        const platform::ThreadWait outcome = platform::waitForThreadOrInput(worker, timeout);
        if (outcome == platform::ThreadWait::Ended) {
            ended = true;
            break;
        }
        if (outcome == platform::ThreadWait::Failed)
            break;
        if (!delayOver && (outcome == platform::ThreadWait::TimedOut || elapsed > delayMs)) {
            delayOver = true;
            if (!g_suppressed.load())
                KyroIntWaitDialog::show();
        }
        if (outcome == platform::ThreadWait::Input)
            pumpMessages();
    }
    KyroIntWaitDialog::hide();
    KyroIntWaitDialog::release();
    return ended;
}

}  // namespace kyrointutil
