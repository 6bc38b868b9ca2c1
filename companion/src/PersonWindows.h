// The windows a person sees: each dialog request that nobody scripted becomes a window
// (kyro/platform/dialog_windows.h) on a thread of its own, so the companion goes on serving
// other clients while the person decides; the please-wait indication is a window per
// session that asked for it.
//
// What the person's choice answers:
//   "ErrorDialog" (both selectors)   a reply without "selected_button", once closed
//   "MessageBox"                     "selected_button" 0 or 1, the button chosen; -1 when
//                                    closed without a choice (Esc, the close box)
//   "PrivacyPolicyDialog"            "selected_button" 3 for Agree (consent), 2 for Decline
//                                    or closing
// Where no window can be shown (no display), the default answers apply and the debug log
// says so once.
#ifndef KYRO_COMPANION_PERSONWINDOWS_H
#define KYRO_COMPANION_PERSONWINDOWS_H

#include "CompanionScript.h"

#include "kyro/pipe/VexPipePacket.h"
#include "kyro/pipe/VexPipeSession.h"

namespace kyro::companion {

// The values "selected_button" carries.
constexpr int kMessageBoxClosed = -1;
constexpr int kPolicyConsent = 3;
constexpr int kPolicyDeclined = 2;

// What nobody in front of the companion would answer: a message box its focused button,
// the privacy policy no consent, everything else a plain reply.
Answer defaultAnswer(const VexPipePacket& request);

// A window for one request, answered on a thread of its own.
class PersonDialog {
public:
    // Starts showing the window `request` asks for. Null when no thread could be started.
    static PersonDialog* start(const VexPipePacket& request);
    ~PersonDialog();   // waits for the thread, which has ended once done() is true
    PersonDialog(const PersonDialog&) = delete;
    PersonDialog& operator=(const PersonDialog&) = delete;

    // Whether the person has answered, or no window could be shown.
    bool done() const;
    // Once done(): the person's answer, or the default answer when nothing was shown.
    Answer answer() const;

    struct State;

private:
    explicit PersonDialog(State* state);
    State* m_state;
};

// Shows ("waiting" "True") or takes away ("False") the please-wait window of `session`.
void updateWaitWindow(VexPipeSession* session, const VexPipePacket& request);
// Takes away the windows whose session has ended (its client is gone or said goodbye).
void closeOrphanedWaitWindows();
// Takes away every please-wait window (the companion is ending).
void closeAllWaitWindows();
// Whether a please-wait window is up.
bool hasWaitWindows();

}  // namespace kyro::companion

#endif
