// The GTK windows are a module of their own (libkyrogtkwindows.so beside Vex.exe), loaded
// when the first window is wanted: a companion that shows no window never maps GTK and the
// sixty-odd libraries it needs, which would cost every start about 15 ms.
#ifndef KYRO_PLATFORM_GTK_MODULE_H
#define KYRO_PLATFORM_GTK_MODULE_H

#include "kyro/platform/dialog_windows.h"

namespace kyro::platform::gtk {

// The module's windows, one entry per call of dialog_windows.h.
struct ModuleEntries {
    bool (*available)();
    int (*showError)(const ErrorWindow&);
    int (*showChoice)(const ChoiceWindow&);
    int (*showPolicy)(const PolicyWindow&);
    WaitWindowId (*showWait)(const WaitWindow&);
    void (*closeWait)(WaitWindowId);
};

// Raised whenever ModuleEntries or the window structures change: a module left over from
// another build answers no entries rather than misreading them.
constexpr int kModuleVersion = 1;
constexpr const char* kModuleFileName = "libkyrogtkwindows.so";
constexpr const char* kModuleEntryName = "kyroGtkWindowsEntries";
using ModuleEntryFunction = const ModuleEntries* (*)(int version);

}  // namespace kyro::platform::gtk

#endif
