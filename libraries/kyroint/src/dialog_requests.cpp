#include "kyro/int/dialog_requests.h"

#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/library_diagnostics.h"
#include "kyro/int/host_context.h"
#include "kyro/int/root_certificate.h"
#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/pipe/VexPipePacket.h"
#include "kyro/platform/user_interface.h"
#include "kyro/util/locations.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

namespace kyrointutil {
namespace {

const char* const kCompanionProgram = "Vex.exe";
const int kCompanionLocation = 0;
const int kPolicyAccepted = 3;
// How long a companion that shows itself running (its presence lock is held) may turn
// connections away before the request gives up on it, and how often it is tried meanwhile.
const auto kTurnedAwayPatience = std::chrono::milliseconds(2000);
const int kConnectRetryDelayMs = 25;
const int kTurnPumpIntervalMs = 100;

// The companion answers a host on one pipe, named for the host's process id, and the
// newest conduit's handshake decides which of the host's conduits that is. So the threads
// of a host take turns: a request holds its turn from its connection to its close, and a
// connection alone (the please-wait dialog's) holds it while it connects. A thread waiting
// for its turn keeps its windows alive. The same thread may take its turn again.
class DialogTurn {
public:
    DialogTurn()
    {
        while (!lock().try_lock_for(std::chrono::milliseconds(kTurnPumpIntervalMs)))
            pumpMessages();
    }
    ~DialogTurn() { lock().unlock(); }
    DialogTurn(const DialogTurn&) = delete;
    DialogTurn& operator=(const DialogTurn&) = delete;

private:
    static std::recursive_timed_mutex& lock()
    {
        static std::recursive_timed_mutex* const turn = new std::recursive_timed_mutex;
        return *turn;
    }
};

void idleTick(void*, std::uint32_t)
{
    pumpMessages();
}

// Everything from the bracket's begin to its end: the host's windows are pumped and its
// dialog-state hook told while the companion has the dialog up.
int transmitInDialog(VexPipeNamedConduit* conduit, VexPipePacket* request, VexPipePacket* reply)
{
    conduit->setIdleCallback(&idleTick, nullptr);
    callDialogStateHook(kDialogShown);
    const int result = conduit->transmit(request, reply, 0);
    conduit->setIdleCallback(nullptr, nullptr);
    callDialogStateHook(kDialogClosed);
    return result;
}

void closeConduit(VexPipeNamedConduit* conduit)
{
    conduit->close(true, true, true);
    delete conduit;
}

// The common procedure: connect, send and wait inside the bracket, close. True when the
// reply came. False, with the record "the companion could not be reached", when no conduit
// could be opened, or when the request could not be sent or the companion went without
// answering it.
bool request(VexPipePacket* request, VexPipePacket* reply)
{
    DialogTurn turn;
    VexPipeNamedConduit* conduit = openCompanionConduit();
    bool answered = false;
    if (conduit != nullptr) {
        answered = transmitInDialog(conduit, request, reply) == 0;
        closeConduit(conduit);
    }
    if (!answered)
        kyro::diagnostics::recordLibraryError(CKyroIntError::kCompanionUnreachable, __FILE__,
                                              __LINE__);
    return answered;
}

}  // namespace

VexPipeNamedConduit* openCompanionConduit()
{
    const TStr folder = getLocation(kCompanionLocation, TStr(""));
    // The upkeep opens a web address and may wait for the network for a minute; when it
    // did not bring the root the first time, it will not the next, so a process tries once.
    static std::atomic<bool> updateTried{false};
    if (!checkC7Certificate() && !updateTried.exchange(true))
        updateRootCertificate();
    if (folder.isEmpty())
        return nullptr;
    TStr program(folder);
    program += kCompanionProgram;
    const TStr prefix = VexPipeNamedConduit::makePipePrefix(kCompanionProgram);

    DialogTurn turn;
    const auto giveUp = std::chrono::steady_clock::now() + kTurnedAwayPatience;
    for (;;) {
        const bool wasRunning = VexPipeNamedConduit::isServerRunning(prefix);
        VexPipeNamedConduit* conduit = VexPipeNamedConduit::connectToServer(
            TPath(program), prefix, VexPipeNamedConduit::kDefaultTimeout);
        // A running companion that turned us away was between two clients for an instant
        // (its one listening pipe taken), or was ending: it took the connection with it,
        // or had closed its pipes already and holds its presence lock until the system has
        // torn it down, which takes a while on a loaded machine. Later tries find it ready,
        // or gone, and start a new one. One that could not be started will not start the
        // next time either.
        if (conduit != nullptr || !wasRunning || std::chrono::steady_clock::now() >= giveUp)
            return conduit;
        std::this_thread::sleep_for(std::chrono::milliseconds(kConnectRetryDelayMs));
    }
}

void pumpMessages()
{
    kyro::platform::pumpWindowMessages();
    callIdleHook();
}

bool showErrorDialog(const TStr& caption, const TStr& title, const TStr& detail, int icon)
{
    VexPipePacket packet("kyro.ErrorDialog", VexPipePacket::kWait);
    packet.setString("selector", "ErrorDialogBase");
    packet.setString("locale", locale());
    packet.setString("caption", caption);
    packet.setString("title", title);
    packet.setInt("icon", icon);
    if (detail.isEmpty()) {
        packet.setString("enable_description", "False");
    } else {
        packet.setString("enable_description", "True");
        packet.setString("detail", detail);
    }
    VexPipePacket reply;
    return request(&packet, &reply);
}

bool showInsufficientMemory()
{
    VexPipePacket packet("kyro.ErrorDialog", VexPipePacket::kWait);
    packet.setString("selector", "InsufficientMemory");
    packet.setString("locale", locale());
    VexPipePacket reply;
    return request(&packet, &reply);
}

int showMessageBox(const TStr& caption, const TStr& title, int icon, const TStr& button0,
                   const TStr& button1, int focusIndex)
{
    VexPipePacket packet("vex.MessageBox", VexPipePacket::kWait);
    packet.setString("caption", caption);
    packet.setString("title", title);
    packet.setString("locale", locale());
    packet.setInt("icon", icon);
    packet.setString("button_0", button0);
    packet.setString("button_1", button1);
    packet.setInt("focus_button_index", focusIndex);
    VexPipePacket reply;
    if (!request(&packet, &reply))
        return 0;
    return reply.getInt("selected_button");
}

int showPrivacyPolicy(const KyroProductIdentity& product, const TStr& brandingImagePath,
                      const TStr& heroImagePath)
{
    bool consented = false;
    if (readPrivacyPolicyConsent(product, &consented) && consented)
        return 0;

    VexPipePacket packet("kyro.PrivacyPolicyDialog", VexPipePacket::kWait);
    packet.setString("locale", locale());
    if (!brandingImagePath.isEmpty())
        packet.setString("product_branding_image_pathname", brandingImagePath);
    if (!heroImagePath.isEmpty())
        packet.setString("hero_image_pathname", heroImagePath);
    VexPipePacket reply;
    // No answer is no refusal: the user was never asked to the end.
    if (!request(&packet, &reply))
        return CKyroIntError::kCompanionUnreachable;
    if (reply.getInt("selected_button") == kPolicyAccepted) {
        writePrivacyPolicyConsent(product, true);
        return 0;
    }
    kyro::diagnostics::recordLibraryError(CKyroIntError::kPolicyNotAccepted, __FILE__, __LINE__);
    return CKyroIntError::kPolicyNotAccepted;
}

}  // namespace kyrointutil
