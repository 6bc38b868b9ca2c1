// The companion's side of the GTK windows: loads their module on the first call and hands
// each call on. Without the module (not installed, or GTK's libraries missing) no window is
// available, as without a display.
#include "gtk_module.h"

#include "../posix/posix_support.h"
#include "kyro/platform/process_launch.h"

#include <dlfcn.h>
#include <string>

namespace kyro::platform {

namespace {

const gtk::ModuleEntries* loadModule()
{
    const std::string self = posix::nativePath(executablePath().c_str());
    const std::string::size_type slash = self.rfind('/');
    if (slash == std::string::npos)
        return nullptr;
    const std::string path = self.substr(0, slash + 1) + gtk::kModuleFileName;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
        return nullptr;
    const auto entry =
        reinterpret_cast<gtk::ModuleEntryFunction>(::dlsym(module, gtk::kModuleEntryName));
    const gtk::ModuleEntries* entries = entry != nullptr ? entry(gtk::kModuleVersion) : nullptr;
    // Kept for the process's life once in use: its GTK thread runs until the process ends.
    if (entries == nullptr)
        ::dlclose(module);
    return entries;
}

const gtk::ModuleEntries* module()
{
    static const gtk::ModuleEntries* const entries = loadModule();
    return entries;
}

}  // namespace

bool dialogWindowsAvailable()
{
    return module() != nullptr && module()->available();
}

int showErrorWindow(const ErrorWindow& window)
{
    return module() != nullptr ? module()->showError(window) : kNoWindow;
}

int showChoiceWindow(const ChoiceWindow& window)
{
    return module() != nullptr ? module()->showChoice(window) : kNoWindow;
}

int showPolicyWindow(const PolicyWindow& window)
{
    return module() != nullptr ? module()->showPolicy(window) : kNoWindow;
}

WaitWindowId showWaitWindow(const WaitWindow& window)
{
    return module() != nullptr ? module()->showWait(window) : nullptr;
}

void closeWaitWindow(WaitWindowId id)
{
    if (module() != nullptr)
        module()->closeWait(id);
}

}  // namespace kyro::platform
