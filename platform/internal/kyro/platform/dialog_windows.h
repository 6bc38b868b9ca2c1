// The companion's windows: the dialogs a person sees and answers. Built into Vex.exe only
// (library kyrodialogwindows), never into the shared library a host loads.
//
// Windows: task dialogs (comctl32 6, which Vex.exe's manifest asks for) and small windows
// of our own, images decoded with WIC. Linux: GTK 3 on a thread of its own that runs
// GTK's main loop; every call below hands its work to that thread.
//
// Every show call may come from any thread and from several threads at once; each
// blocking call returns when the person has answered (or the window could not be shown).
// Texts are UTF-8. Windows come to the front, centred on the screen that holds the pointer.
// Long texts wrap and scroll inside a window that never grows beyond its screen.
#ifndef KYRO_PLATFORM_DIALOG_WINDOWS_H
#define KYRO_PLATFORM_DIALOG_WINDOWS_H

#include <cstdint>
#include <string>

namespace kyro::platform {

// Whether windows can be shown at all (on Linux: a display could be opened). The first
// call decides; later calls answer the same.
bool dialogWindowsAvailable();

// Icon codes, as the requests carry them: 1 information, 2 question, 3 warning, 4 error,
// anything else none.
enum DialogIcon { kIconNone = 0, kIconInformation = 1, kIconQuestion = 2, kIconWarning = 3,
                  kIconError = 4 };

// What the show calls answer besides a button index.
constexpr int kWindowClosed = -1;   // closed without a choice (Esc, the close box)
constexpr int kNoWindow = -2;       // no window could be shown

// An error or notice: the title as the main instruction, the text below it, the detail
// (when not empty) behind an expandable control labelled `detailsLabel`, one button
// `okButton`.
struct ErrorWindow {
    std::string caption;        // the window title
    std::string title;          // the main instruction
    std::string text;           // below the title, always shown; may be empty
    std::string detail;         // empty: no details control
    std::string detailsLabel;   // the details control's label ("Details")
    std::string okButton;       // "OK"
    int icon = kIconNone;
};
// Waits until the person has closed it: 0, or kNoWindow.
int showErrorWindow(const ErrorWindow& window);

// A question with two buttons carrying the texts given.
struct ChoiceWindow {
    std::string caption;
    std::string title;
    std::string buttons[2];
    int focusButton = 0;        // the button with the keyboard focus (0 or 1; else 0)
    int icon = kIconNone;
};
// The index of the button chosen (0 or 1), kWindowClosed, or kNoWindow.
int showChoiceWindow(const ChoiceWindow& window);

// The privacy policy: the branding image at the top, then the hero image (each only when
// its path is not empty and the file can be decoded: PNG, JPEG or BMP, scaled down to fit;
// a missing, unreadable or oversized image is left out), the heading, the policy text
// (scrolling), and the two buttons.
constexpr std::uint64_t kMaxImageFileBytes = std::uint64_t{64} << 20;
constexpr std::uint32_t kMaxImageSide = 16384;
constexpr std::uint64_t kMaxImagePixels = 25000000;
struct PolicyWindow {
    std::string caption;
    std::string heading;
    std::string text;
    std::string agreeButton;
    std::string declineButton;
    std::string brandingImagePath;
    std::string heroImagePath;
};
// 1 agreed, 0 declined or closed, kNoWindow.
int showPolicyWindow(const PolicyWindow& window);

// Please-wait: a small topmost window without a close box, a text and a moving progress
// bar. Not blocking: shown until closeWaitWindow().
struct WaitWindow {
    std::string caption;
    std::string text;
};
using WaitWindowId = void*;
// The window's id, or null when no window could be shown.
WaitWindowId showWaitWindow(const WaitWindow& window);
// Takes the window away and forgets the id. A null id does nothing.
void closeWaitWindow(WaitWindowId id);

}  // namespace kyro::platform

#endif
