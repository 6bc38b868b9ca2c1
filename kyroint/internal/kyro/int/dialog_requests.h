// Dialog requests: the library never draws a window; it asks its companion Vex.exe to show
// the dialog and waits for the answer, keeping the host's windows alive meanwhile.
//
// A host talks to its companion over one connection at a time (the link below), which all
// its requests and the please-wait dialog share. The first user starts the companion when
// it is not running and connects ("system.cndCnct"); each request runs in a session of its
// own on it: the request goes out in that session, its reply comes back in it, and the
// session ends with "system.ssnTerm" once the reply is in. The last user to let go says
// goodbye ("system.cndTerm") and closes, so a lone request still connects, asks and closes
// as before. A request made while the link is busy on the same thread (from the host's idle
// hook, during another request's wait) opens its own session beside the waiting one; its
// wait handles every incoming line, and each reply lands in its own session. When the
// companion goes, every request waiting on the link fails, and the next one starts afresh.
// So does a companion that is alive but silent (stopped): the handshake, a session's end
// and the goodbye wait for it at most the connection's timeout (kDefaultTimeout, 100 s),
// and then the request fails, or the close goes on, and the connection counts as lost. A
// companion that floods the host with lines is cut off the same way. A dialog itself waits
// for its person without a limit.
//
// Threads: the link runs on one thread at a time. A thread takes its turn for a whole
// request (or a please-wait step, or a connection), and may take it again while it holds it
// (nested requests); another thread waits for its turn, keeping its own windows alive and
// calling the host's idle hook meanwhile.
//
// Every failure is recorded in the error log as a CKyroIntError of the library (status 5:
// the companion could not be reached, or went without answering; 19: the privacy policy
// was not accepted). Nothing throws.
#ifndef KYRO_INT_DIALOG_REQUESTS_H
#define KYRO_INT_DIALOG_REQUESTS_H

#include "kyro/int/privacy_consent.h"
#include "kyro/platform/user_interface.h"
#include "kyro/util/TStr.h"

class VexPipeNamedConduit;

namespace kyrointutil {

// Opening a connection to the companion takes three steps, in this order; the link (below)
// runs them through openCompanionConduit() when it has no connection.
//
// 1. Where the companion is: Vex.exe in its folder (kLocationBinaries); empty when the
//    folder is not known.
TStr companionProgram();
// 2. The root certificate its online service needs (kyro/int/root_certificate.h,
//    keepRootCertificate): checked, and fetched when missing, within the upkeep's request
//    limit and at most once per retry interval, with the host's windows and idle hook
//    served meanwhile. It runs whether or not the folder is known, and whatever it finds,
//    the opening goes on.
void keepCompanionServiceRoot();
// 3. The connection: starts the companion when it is not running and connects (during the
//    link's turn: the connections of one process are made one at a time, so that the
//    companion's writer for each meets that connection's own inbound pipe). A companion
//    that shows itself running but turns the connection away is tried again for up to 2 s.
//    Null when it cannot be started or reached.
VexPipeNamedConduit* connectToCompanion(const TStr& program);
// The three steps in one modal wait (kyro/platform/user_interface.h: a quit the host's
// thread is sent meanwhile is posted again afterwards): a connected conduit to the
// companion, which the caller closes and deletes; null when the companion's folder is not
// known or it cannot be started or reached.
VexPipeNamedConduit* openCompanionConduit();

struct CompanionConnection;

// The process's link to the companion (see above).
class CompanionLink {
public:
    // The calling thread's turn at the link, for the life of the object. Waits, pumping the
    // thread's messages and calling the host's idle hook, while another thread has it; the
    // thread that has it takes it again at once. A quit the host's thread is sent meanwhile
    // is posted again once its outermost turn ends, so the host's own loop still ends.
    class Turn {
    public:
        Turn();
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

    private:
        kyro::platform::ModalWait m_wait;
    };

    // One use of the link's connection, which connects first when there is none (or the
    // one there was has been lost). conduit() is null when the companion could not be
    // reached. The last use of a connection to go closes it ("system.cndTerm") and deletes
    // its conduit. Each step takes the turn itself.
    class Use {
    public:
        Use();
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

        VexPipeNamedConduit* conduit() const;
        // After a failed send or wait: when the companion has gone, the link forgets this
        // connection, so that the next use connects afresh. This use keeps it until it goes.
        // True when it was lost.
        bool forgetIfLost();

    private:
        CompanionConnection* m_connection;
    };
};

// The conduits' idle work while a dialog is up: the thread's window messages, then the
// host's idle hook.
void pumpMessages();

// True when the companion answered. An empty detail turns the dialog's details off.
bool showErrorDialog(const TStr& caption, const TStr& title, const TStr& detail, int icon);
bool showInsufficientMemory();
// The "selected_button" of the answer; 0 when there was none or the companion could not be
// reached.
int showMessageBox(const TStr& caption, const TStr& title, int icon, const TStr& button0,
                   const TStr& button1, int focusIndex);
// 0 when consent is on record or was given now (button 3), 19 when the user chose
// otherwise, 5 when the companion could not be reached or went without answering. Empty image paths are not sent.
int showPrivacyPolicy(const KyroProductIdentity& product, const TStr& brandingImagePath,
                      const TStr& heroImagePath);

}  // namespace kyrointutil

#endif
