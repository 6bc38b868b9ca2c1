// The please-wait dialog, shared by everyone in the process who waits: one use of the
// process's link to the companion (dialog_requests.h), kept while any scope is acquired,
// over which show() and hide() go unanswered, in the connection's own session. Requests
// made meanwhile (a message box while the dialog is up) share the same connection, each in
// a session of its own. Each step takes the link's turn, so a step from one thread waits
// (its windows kept alive) while another thread's request is in progress.
//
//     KyroIntWaitDialog::acquire(true);   // starts the companion now
//     ... show() when the wait gets long, hide() when it is over ...
//     KyroIntWaitDialog::release();       // the last release lets go of the link
//
// Or all of it in one call: waitWithPleaseWait(worker, delay).
#ifndef KYRO_INT_KYROINTWAITDIALOG_H
#define KYRO_INT_KYROINTWAITDIALOG_H

#include "kyro/platform/threads.h"

#include <cstdint>

class KyroIntWaitDialog {
public:
    // Counts one more user; with connectNow, takes a use of the link when it has none,
    // connecting when nobody is connected (it may stay without when the companion cannot
    // be reached).
    static void acquire(bool connectNow);
    // Counts one user less; the last one lets go of the link (which closes when nobody
    // else uses it). A release without an acquire is ignored.
    static void release();
    // Asks the companion to show the dialog, taking a use of the link first when needed. 0 on
    // success; 5 when the companion cannot be reached, 9 when the request cannot be made,
    // 2 when it could not be sent (each recorded in the error log).
    static int show();
    // Asks the companion to take it down; 0 when it has no use of the link. A failed send r
    // is recorded and returned; when the companion has gone, the use is let go.
    static int hide();

    // The current number of users.
    static std::uint32_t useCount();
};

namespace kyrointutil {

// Waits for `worker` to end while keeping the thread's windows alive: the please-wait
// dialog goes up once the wait has taken longer than delayMs, and down when the worker has
// ended. The companion is started at once, so the dialog comes quickly when it is needed.
// True when the worker ended (false when the wait itself failed).
bool waitWithPleaseWait(kyro::platform::ThreadHandle worker, std::uint32_t delayMs);

// A process-wide switch that keeps the please-wait dialog from showing.
void setPleaseWaitSuppressed(bool suppressed);

}  // namespace kyrointutil

#endif
