#include "kyro/int/dialog_requests.h"

#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/library_diagnostics.h"
#include "kyro/int/host_context.h"
#include "kyro/int/root_certificate.h"
#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/pipe/VexPipePacket.h"
#include "kyro/pipe/VexPipeSession.h"
#include "kyro/platform/user_interface.h"
#include "kyro/util/locations.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <new>
#include <thread>

namespace kyrointutil {
namespace {

const char* const kCompanionProgram = "Vex.exe";
const int kPolicyAccepted = 3;
// How long a companion that shows itself running (its presence lock is held) may turn
// connections away before the request gives up on it, and how often it is tried meanwhile.
const auto kTurnedAwayPatience = std::chrono::milliseconds(2000);
const int kConnectRetryDelayMs = 25;
const int kTurnPumpIntervalMs = 100;

void idleTick(void*, std::uint32_t)
{
    pumpMessages();
}

void idleWork(void*)
{
    pumpMessages();
}

// Whose turn it is at the link. Recursive: a request from the host's idle hook, during
// another request's wait on the same thread, takes its turn again.
std::recursive_timed_mutex& linkTurn()
{
    static std::recursive_timed_mutex* const turn = new std::recursive_timed_mutex;
    return *turn;
}

// The connection that new uses get (guarded by the turn); null when there is none.
CompanionConnection*& currentConnection()
{
    static CompanionConnection* current = nullptr;
    return current;
}

// Everything from the bracket's begin to its end: the host's windows are pumped and its
// dialog-state hook told while the companion has the dialog up. A nested request leaves
// the idle callback of the request it is nested in as it found it.
int transmitInDialog(VexPipeNamedConduit* conduit, VexPipePacket* request, VexPipePacket* reply)
{
    const VexPipeConduit::IdleCallback previous = conduit->setIdleCallback(&idleTick, nullptr);
    callDialogStateHook(kDialogShown);
    const int result = conduit->transmit(request, reply, 0);
    conduit->setIdleCallback(previous, nullptr);
    callDialogStateHook(kDialogClosed);
    return result;
}

// Sends `request` in a session of its own on the link's conduit and waits for its reply
// there. 0 when the reply came.
int transmitInSession(VexPipeNamedConduit* conduit, VexPipePacket* request, VexPipePacket* reply)
{
    VexPipeSession* session = conduit->newSession();
    if (session == nullptr)
        return 1;
    session->shareConnection(0);
    request->setSessionNumber(static_cast<int>(session->number()));
    const int result = transmitInDialog(conduit, request, reply);
    // The companion lets go of its side when told ("system.ssnTerm", answered). Where it
    // never answered, it has gone or never had the request: the session just ends here.
    session->terminate(result == 0 && session->peerNumber() != 0);
    session->release();
    return result;
}

// The common procedure: a use of the link, the request in a session of its own inside the
// bracket. True when the reply came. False, with the record "the companion could not be
// reached", when no conduit could be opened, or when the request could not be sent or the
// companion went without answering it.
bool request(VexPipePacket* request, VexPipePacket* reply)
{
    CompanionLink::Turn turn;
    CompanionLink::Use link;
    bool answered = false;
    if (link.conduit() != nullptr) {
        answered = transmitInSession(link.conduit(), request, reply) == 0;
        if (!answered)
            link.forgetIfLost();
    }
    if (!answered)
        kyro::diagnostics::recordLibraryError(CKyroIntError::kCompanionUnreachable, __FILE__,
                                              __LINE__);
    return answered;
}

}  // namespace

TStr companionProgram()
{
    const TStr folder = getLocation(kLocationBinaries, TStr(""));
    if (folder.isEmpty())
        return TStr();
    TStr program(folder);
    program += kCompanionProgram;
    return program;
}

void keepCompanionServiceRoot()
{
    // The upkeep may wait for the network a while: the host's windows and idle hook are
    // served meanwhile, as during the dialog's own wait.
    keepRootCertificate(&idleWork, nullptr);
}

VexPipeNamedConduit* connectToCompanion(const TStr& program)
{
    const TStr prefix = VexPipeNamedConduit::makePipePrefix(kCompanionProgram);
    CompanionLink::Turn turn;
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

VexPipeNamedConduit* openCompanionConduit()
{
    const kyro::platform::ModalWait modal;
    const TStr program = companionProgram();
    keepCompanionServiceRoot();
    if (program.isEmpty())
        return nullptr;
    return connectToCompanion(program);
}

struct CompanionConnection {
    VexPipeNamedConduit* conduit;
    std::uint32_t uses;
};

CompanionLink::Turn::Turn()
{
    while (!linkTurn().try_lock_for(std::chrono::milliseconds(kTurnPumpIntervalMs)))
        pumpMessages();
}

CompanionLink::Turn::~Turn()
{
    linkTurn().unlock();
}

CompanionLink::Use::Use() : m_connection(nullptr)
{
    Turn turn;
    CompanionConnection*& current = currentConnection();
    // A connection whose companion has gone stays with the uses that have it, and is
    // closed when the last of them goes.
    if (current != nullptr && current->conduit->connectionLost())
        current = nullptr;
    if (current == nullptr) {
        VexPipeNamedConduit* conduit = openCompanionConduit();
        if (conduit == nullptr)
            return;
        current = new (std::nothrow) CompanionConnection{conduit, 0};
        if (current == nullptr) {
            conduit->close(true, true, true);
            delete conduit;
            return;
        }
    }
    m_connection = current;
    ++m_connection->uses;
}

CompanionLink::Use::~Use()
{
    if (m_connection == nullptr)
        return;
    Turn turn;
    if (--m_connection->uses > 0)
        return;
    if (currentConnection() == m_connection)
        currentConnection() = nullptr;
    m_connection->conduit->close(true, true, true);
    delete m_connection->conduit;
    delete m_connection;
}

VexPipeNamedConduit* CompanionLink::Use::conduit() const
{
    return m_connection != nullptr ? m_connection->conduit : nullptr;
}

bool CompanionLink::Use::forgetIfLost()
{
    if (m_connection == nullptr)
        return false;
    Turn turn;
    if (!m_connection->conduit->connectionLost())
        return false;
    if (currentConnection() == m_connection)
        currentConnection() = nullptr;
    return true;
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
