// Dialog requests: the library never draws a window; it asks its companion Vex.exe to show
// the dialog and waits for the answer, keeping the host's windows alive meanwhile.
//
// Each request starts the companion when it is not running, connects, sends one request,
// waits for the reply, says goodbye ("system.cndTerm") and closes. Every failure is recorded
// in the error log as a CKyroIntError of the library (status 5: the companion could not be
// reached, or went without answering; 19: the privacy policy was not accepted). Nothing
// throws.
#ifndef KYRO_INT_DIALOG_REQUESTS_H
#define KYRO_INT_DIALOG_REQUESTS_H

#include "kyro/int/privacy_consent.h"
#include "kyro/util/TStr.h"

class VexPipeNamedConduit;

namespace kyrointutil {

// A connected conduit to the companion, which the caller closes and deletes; null when the
// companion's folder (location kind 0) is not known or it cannot be started or reached.
// Makes sure of the root certificate the companion's online service needs first.
VexPipeNamedConduit* openCompanionConduit();

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
