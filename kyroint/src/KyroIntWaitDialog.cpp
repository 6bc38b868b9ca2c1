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
#include <new>

namespace {

using kyrointutil::CompanionLink;

// Shared by every waiting thread of the process. The count is kept apart, so that counting
// never waits for the link; the use of the link changes only during the link's turn.
struct WaitState {
    std::atomic<std::uint32_t> uses{0};
    CompanionLink::Use* link = nullptr;
};

WaitState& state()
{
    static WaitState* const instance = new WaitState;
    return *instance;
}

std::atomic<bool> g_suppressed{false};

// During the turn: a use of the link for the please-wait dialog, when it has none.
void holdLink(WaitState& wait)
{
    if (wait.link != nullptr)
        return;
    wait.link = new (std::nothrow) CompanionLink::Use;
    if (wait.link != nullptr && wait.link->conduit() == nullptr) {
        delete wait.link;
        wait.link = nullptr;
    }
}

// During the turn: lets go of the use (the last use of the link closes it).
void dropLink(WaitState& wait)
{
    delete wait.link;
    wait.link = nullptr;
}

// Sends "kyro.PleaseWaitDialog" without waiting for an answer, in the connection's own
// session. 9 when the packets cannot be made, else transmit's result.
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
    const int result = wait.link->conduit()->transmit(request.get(), reply.get(), 0);
    // A companion that has gone is not coming back on this connection: the next show()
    // connects afresh.
    if (result != 0 && wait.link->forgetIfLost())
        dropLink(wait);
    return result;
}

}  // namespace

void KyroIntWaitDialog::acquire(bool connectNow)
{
    WaitState& wait = state();
    ++wait.uses;
    if (connectNow) {
        CompanionLink::Turn turn;
        // Unless every scope has been released meanwhile.
        if (wait.uses.load() > 0)
            holdLink(wait);
    }
}

void KyroIntWaitDialog::release()
{
    WaitState& wait = state();
    std::uint32_t uses = wait.uses.load();
    do {
        if (uses == 0)
            return;
    } while (!wait.uses.compare_exchange_weak(uses, uses - 1));
    if (uses == 1) {
        CompanionLink::Turn turn;
        // Unless a scope has been acquired again meanwhile.
        if (wait.uses.load() == 0)
            dropLink(wait);
    }
}

int KyroIntWaitDialog::show()
{
    WaitState& wait = state();
    CompanionLink::Turn turn;
    holdLink(wait);
    if (wait.link == nullptr) {
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
    CompanionLink::Turn turn;
    if (wait.link == nullptr)
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
    return state().uses.load();
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
    // The host's quit, should it come meanwhile, is its loop's once the wait is over.
    const platform::ModalWait modal;
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
