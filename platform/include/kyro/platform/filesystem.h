// Files and folders by path text.
//
// Paths are UTF-8 text with "\" separators, as everywhere in the library. The Windows
// backend hands them to the wide Win32 and runtime calls as UTF-16; the POSIX backend
// turns every "\" into "/" at the system call.
#ifndef KYRO_PLATFORM_FILESYSTEM_H
#define KYRO_PLATFORM_FILESYSTEM_H

#include <cstdio>

namespace kyro::platform {

enum class PathKind {
    Missing,    // nothing there, or the attributes cannot be read
    File,       // a regular file
    Directory,
    Other       // a device, socket, pipe and the like
};

// What the path names (GetFileAttributesW on Windows, stat on POSIX).
PathKind pathKind(const char* path);

// Creates one folder; its parent must exist. True when the call created it.
bool makeDirectory(const char* path);

// Deletes a file. 0 on success, -1 on failure, like _wunlink.
int removeFile(const char* path);

// Opens a file with a runtime mode ("w", "a+", "rb", ...). Text modes turn "\n" into the
// platform's line end (kTextLineEnd). The stream is never inherited by child processes.
// Null on failure.
std::FILE* openFile(const char* path, const char* mode);

// The bytes a "\n" becomes in a file opened in text mode.
extern const char* const kTextLineEnd;

}  // namespace kyro::platform

#endif
