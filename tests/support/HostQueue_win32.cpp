#include "HostQueue.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

bool hostHasMessageQueue()
{
    return true;
}

void postQuit(int exitCode)
{
    ::PostQuitMessage(exitCode);
}

int runMessageLoop(unsigned limitMs)
{
    // A quit comes before any timer, so the timer ends the loop only when no quit is there.
    const UINT_PTR timer = ::SetTimer(nullptr, 0, limitMs, nullptr);
    MSG message;
    int exitCode = -1;
    for (;;) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            exitCode = static_cast<int>(message.wParam);
            break;
        }
        if (got == -1 || (message.message == WM_TIMER && message.wParam == timer))
            break;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ::KillTimer(nullptr, timer);
    return exitCode;
}
