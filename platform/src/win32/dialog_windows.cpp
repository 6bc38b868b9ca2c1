// Placeholder until the windows are drawn: nothing can be shown.
#include "kyro/platform/dialog_windows.h"

namespace kyro::platform {

bool dialogWindowsAvailable() { return false; }
int showErrorWindow(const ErrorWindow&) { return kNoWindow; }
int showChoiceWindow(const ChoiceWindow&) { return kNoWindow; }
int showPolicyWindow(const PolicyWindow&) { return kNoWindow; }
WaitWindowId showWaitWindow(const WaitWindow&) { return nullptr; }
void closeWaitWindow(WaitWindowId) {}

}  // namespace kyro::platform
