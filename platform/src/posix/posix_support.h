// POSIX backend: the library's "\" paths become "/" paths at the system call.
#ifndef KYRO_PLATFORM_POSIX_POSIX_SUPPORT_H
#define KYRO_PLATFORM_POSIX_POSIX_SUPPORT_H

#include <cstddef>
#include <dlfcn.h>
#include <string>

namespace kyro::platform::posix {

// The path with every "\" turned into "/". Null becomes the empty path.
std::string nativePath(const char* path);

// The per-user runtime folder of socket and lock files as a native path, made private
// when needed (pipeRuntimeFolder() in named_pipe.h). False when there is no safe one.
// This and runtimeFilePath() live in named_pipe.cpp.
bool runtimeFolder(std::string* folder);

// The file in `folder` that stands for a named object: `kind` ('p' pipe, 'l' lock), "-",
// then the name with every byte outside [A-Za-z0-9.-] escaped, so that different names
// never share a file; with a hash of the name in place of its tail when the path would be
// longer than `maxPath`. `foldCase` lowers ASCII letters first (pipe names ignore case).
// Empty when even a hashed name cannot fit.
std::string runtimeFilePath(const std::string& folder, char kind, const char* name,
                            bool foldCase, std::size_t maxPath);

// Looks `name` up in a library loaded with dlopen() and stores it as `*function`, typed as
// the function it is declared as. False when the library does not have it.
template <typename Function>
bool lookUpSymbol(void* library, const char* name, Function* function)
{
    *function = reinterpret_cast<Function>(::dlsym(library, name));
    return *function != nullptr;
}

}  // namespace kyro::platform::posix

#endif
