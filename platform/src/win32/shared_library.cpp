#include "kyro/platform/shared_library.h"

#include "windows_support.h"

namespace kyro::platform {

LibraryHandle loadLibrary(const char* path)
{
    return reinterpret_cast<LibraryHandle>(::LoadLibraryW(win32::widen(path).c_str()));
}

void* librarySymbol(LibraryHandle library, const char* name)
{
    if (library == kNoLibrary)
        return nullptr;
    return reinterpret_cast<void*>(
        ::GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

bool unloadLibrary(LibraryHandle library)
{
    return library != kNoLibrary && ::FreeLibrary(reinterpret_cast<HMODULE>(library)) != 0;
}

bool isLibraryLoaded(const char* path)
{
    return ::GetModuleHandleW(win32::widen(path).c_str()) != nullptr;
}

}  // namespace kyro::platform
