// Windows backend: the message pump and a message box with the dialog's own button texts.
#include "kyro/platform/user_interface.h"

#include "windows_support.h"

#include <string>

namespace kyro::platform {

void allowSetForegroundWindow()
{
    ::AllowSetForegroundWindow(ASFW_ANY);
}

namespace {

// The thread's ModalWaits, and the quit that came during them. Plain values: a thread that
// ends has no wait left to finish.
thread_local int t_modalWaits = 0;
thread_local bool t_quitHeld = false;
thread_local int t_quitExitCode = 0;

}  // namespace

int pumpWindowMessages()
{
    int handled = 0;
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ++handled;
        if (message.message == WM_QUIT) {
            const int exitCode = static_cast<int>(message.wParam);
            if (t_modalWaits == 0) {
                // Peeked again at once otherwise: the host's loop has it.
                ::PostQuitMessage(exitCode);
                break;
            }
            t_quitHeld = true;
            t_quitExitCode = exitCode;
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return handled;
}

ModalWait::ModalWait()
{
    ++t_modalWaits;
}

ModalWait::~ModalWait()
{
    if (--t_modalWaits == 0 && t_quitHeld) {
        t_quitHeld = false;
        ::PostQuitMessage(t_quitExitCode);
    }
}

ThreadWait waitForThreadOrInput(ThreadHandle thread, std::uint32_t timeoutMs)
{
    HANDLE handle = reinterpret_cast<HANDLE>(thread);
    switch (::MsgWaitForMultipleObjectsEx(1, &handle, timeoutMs, QS_ALLINPUT,
                                          MWMO_INPUTAVAILABLE)) {
    case WAIT_OBJECT_0:
        return ThreadWait::Ended;
    case WAIT_OBJECT_0 + 1:
        return ThreadWait::Input;
    case WAIT_TIMEOUT:
        return ThreadWait::TimedOut;
    default:
        return ThreadWait::Failed;
    }
}

namespace {

// A task dialog would take the button texts as they are, but it lives in comctl32 version 6,
// which needs a manifest; a message box with a matching layout does not. Buttons are mapped
// by their count: one is OK, two are Yes/No, three are Yes/No/Cancel. The text of each
// button leads the message, so the choice stays clear whatever the system calls its buttons.
UINT layoutFor(int buttons, int focus)
{
    UINT type = buttons >= 3 ? MB_YESNOCANCEL : buttons == 2 ? MB_YESNO : MB_OK;
    if (focus == 1)
        type |= MB_DEFBUTTON2;
    else if (focus == 2)
        type |= MB_DEFBUTTON3;
    return type;
}

UINT iconFor(int icon)
{
    switch (icon) {
    case 1: return MB_ICONINFORMATION;
    case 2: return MB_ICONQUESTION;
    case 3: return MB_ICONWARNING;
    case 4: return MB_ICONERROR;
    default: return 0;
    }
}

}  // namespace

int showMessageDialog(const MessageDialog& dialog)
{
    int buttons = 0;
    std::string text = dialog.text == nullptr ? "" : dialog.text;
    for (const char* button : dialog.buttons) {
        if (button == nullptr || *button == '\0')
            break;
        if (buttons == 0)
            text += "\n";
        text += "\n";
        text += std::to_string(buttons + 1) + ". " + button;
        ++buttons;
    }
    const int answer = ::MessageBoxW(nullptr, win32::widen(text.c_str()).c_str(),
                                     win32::widen(dialog.caption).c_str(),
                                     layoutFor(buttons, dialog.focusButton) |
                                         iconFor(dialog.icon) | MB_SETFOREGROUND | MB_TOPMOST);
    switch (answer) {
    case IDOK:
    case IDYES: return 0;
    case IDNO: return 1;
    case IDCANCEL: return buttons >= 3 ? 2 : -1;
    default: return -1;
    }
}

}  // namespace kyro::platform
