// What the host tells the library about itself, process-wide: the locale text its dialog
// requests carry, a hook the library calls while it waits for the companion (so the host
// can do its own idle work), and a hook told when a dialog goes up and comes down.
//
// Set them before the requests start; they may be changed at any time from any thread.
#ifndef KYRO_INT_HOST_CONTEXT_H
#define KYRO_INT_HOST_CONTEXT_H

#include "kyro/util/TStr.h"

namespace kyrointutil {

using IdleHook = void (*)(void* context);
// `state` points to the dialog's state: kDialogShown, then kDialogClosed. The library owns
// it; it is valid for the call only (a hook that needs it later copies the value).
using DialogStateHook = void (*)(int* state, void* context);

constexpr int kDialogShown = 1;
constexpr int kDialogClosed = 2;

// The locale text sent with every request ("de_DE", ...); empty until set.
void setLocale(const TStr& locale);
TStr locale();

// A null hook removes the hook. The idle hook may itself ask for a dialog: it is sent beside
// the waiting one, over the same connection (dialog_requests.h); a hook that does so
// guards itself against being called again from that dialog's own wait.
void setIdleHook(IdleHook hook, void* context);
void setDialogStateHook(DialogStateHook hook, void* context);

// Calls the hooks when they are set.
void callIdleHook();
void callDialogStateHook(int state);

}  // namespace kyrointutil

#endif
