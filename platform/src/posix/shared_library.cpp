#include "kyro/platform/shared_library.h"

#include "posix_support.h"

#include <dlfcn.h>

namespace kyro::platform {

LibraryHandle loadLibrary(const char* path)
{
    return reinterpret_cast<LibraryHandle>(
        ::dlopen(posix::nativePath(path).c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* librarySymbol(LibraryHandle library, const char* name)
{
    if (library == kNoLibrary)
        return nullptr;
    return ::dlsym(reinterpret_cast<void*>(library), name);
}

bool unloadLibrary(LibraryHandle library)
{
    return library != kNoLibrary && ::dlclose(reinterpret_cast<void*>(library)) == 0;
}

bool isLibraryLoaded(const char* path)
{
    // RTLD_NOLOAD finds a loaded library without loading it.
    void* handle = ::dlopen(posix::nativePath(path).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return false;
    ::dlclose(handle);
    return true;
}

}  // namespace kyro::platform
