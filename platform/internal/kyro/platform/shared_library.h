// Loading a shared library at run time (LoadLibraryW, dlopen).
#ifndef KYRO_PLATFORM_SHARED_LIBRARY_H
#define KYRO_PLATFORM_SHARED_LIBRARY_H

#include <cstdint>

namespace kyro::platform {

using LibraryHandle = std::intptr_t;
constexpr LibraryHandle kNoLibrary = 0;

// Loads the library at `path` ("\" separators); kNoLibrary on failure.
LibraryHandle loadLibrary(const char* path);
// The address of an exported name, or null.
void* librarySymbol(LibraryHandle library, const char* name);
// Drops this load of the library. True on success.
bool unloadLibrary(LibraryHandle library);
// Whether the library at `path`, named as it was loaded, is loaded in this process.
bool isLibraryLoaded(const char* path);

}  // namespace kyro::platform

#endif
