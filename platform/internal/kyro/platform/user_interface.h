// The little window-system work the library and its companion do.
//
// The library never draws a window of its own: it keeps the host's windows responsive while
// it waits, and lets the companion bring its dialog to the front. The companion shows its
// dialogs through showMessageDialog(). On POSIX there is no window system to talk to: the
// calls do nothing and a dialog cannot be shown.
#ifndef KYRO_PLATFORM_USER_INTERFACE_H
#define KYRO_PLATFORM_USER_INTERFACE_H

#include "kyro/platform/threads.h"

#include <cstdint>

namespace kyro::platform {

// Lets any process bring a window to the front (AllowSetForegroundWindow(ASFW_ANY)).
void allowSetForegroundWindow();

// Handles every window message waiting for this thread (PeekMessageW, TranslateMessage,
// DispatchMessageW). Returns how many there were. A WM_QUIT is never dispatched: while a
// ModalWait lives on the thread it is kept aside and the pump goes on; otherwise it is
// posted again for the thread's own loop, and the pump stops there.
int pumpWindowMessages();

// A wait of the library that pumps the thread's messages, as a modal loop does: the host's
// loop must still end after it. A WM_QUIT that pumpWindowMessages() meets meanwhile is
// posted again (PostQuitMessage, with its exit code) when the thread's outermost ModalWait
// ends. Nests; one thread's waits do not touch another's. Nothing to do on POSIX.
class ModalWait {
public:
    ModalWait();
    ~ModalWait();
    ModalWait(const ModalWait&) = delete;
    ModalWait& operator=(const ModalWait&) = delete;
};

enum class ThreadWait {
    Ended,      // the thread has ended
    Input,      // window input arrived for this thread
    TimedOut,
    Failed
};

// Waits for the thread to end, for window input to this thread, or for timeoutMs
// (kWaitForever: no limit): MsgWaitForMultipleObjectsEx with QS_ALLINPUT. On POSIX no input
// ever arrives.
ThreadWait waitForThreadOrInput(ThreadHandle thread, std::uint32_t timeoutMs);

// What showMessageDialog() shows. Texts are UTF-8; an empty button text leaves the button
// out. icon: 0 none, 1 information, 2 question, 3 warning, 4 error.
struct MessageDialog {
    const char* caption = "";
    const char* text = "";
    const char* buttons[3] = {"", "", ""};
    int focusButton = 0;
    int icon = 0;
};

// Shows a modal message dialog and waits for the person. The index of the button chosen, or
// -1 when no dialog could be shown (no window system, or the dialog was closed otherwise).
int showMessageDialog(const MessageDialog& dialog);

}  // namespace kyro::platform

#endif
