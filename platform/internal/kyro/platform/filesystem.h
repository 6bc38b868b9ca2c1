// Files and folders by path text.
//
// Paths are UTF-8 text with "\" separators, as everywhere in the library. The Windows
// backend hands them to the wide Win32 and runtime calls as UTF-16; the POSIX backend
// turns every "\" into "/" at the system call.
#ifndef KYRO_PLATFORM_FILESYSTEM_H
#define KYRO_PLATFORM_FILESYSTEM_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace kyro::platform {

enum class PathKind {
    Missing,    // nothing there, or the attributes cannot be read
    File,       // a regular file
    Directory,
    Other       // a device, socket, pipe and the like
};

// What the path names (GetFileAttributesW on Windows, stat on POSIX).
PathKind pathKind(const char* path);

// Creates one folder for the current user only (mode 0700 on POSIX; on Windows it takes the
// access list its parent passes on); its parent must exist. True when the call created it.
bool makeDirectory(const char* path);

// Deletes a file. 0 on success, -1 on failure, like _wunlink.
int removeFile(const char* path);

// The names of the entries of the folder (not "." and ".."), in no particular order. False
// when it cannot be read.
bool listFolder(const char* folder, std::vector<std::string>* names);

// Deletes the file at `path` only when it is a plain file of the current user's account:
// a link (a reparse point on Windows) is neither followed nor deleted, and a folder,
// device, pipe or a file of another account stays. Windows also leaves a file that is open
// without shared deletion (a file still being written). True when it was deleted.
bool removeOwnPlainFile(const char* path);

// Opens a file with a runtime mode ("w", "a+", "rb", ...). Text modes turn "\n" into the
// platform's line end (kTextLineEnd). The stream is never inherited by child processes.
// Only regular files are opened: a folder, device, pipe or socket is refused (and a pipe
// never holds the open up). A mode that writes ("w", "a", "+") never follows a symbolic
// link (a reparse point on Windows) at the path and refuses a file with several names
// (hard links), so a link planted in a folder others can write cannot send our bytes
// elsewhere; "w" empties the file only once it is known to be a plain file of its own.
// A file the call creates is its user's only: mode 0600 on POSIX, on Windows an access
// list for the user, SYSTEM and Administrators. Reading modes follow links. Null on
// failure.
std::FILE* openFile(const char* path, const char* mode);

// Opens an existing plain file for binary reading ("rb"). Anything else at the path (a
// folder, a FIFO, a device, a pipe) is refused without ever waiting on it: POSIX opens it
// without blocking and checks the opened file (fstat), so a file swapped in after a check
// by path cannot slip through; Windows refuses whatever is not a disk file (GetFileType)
// and never lets a pipe's server act as the caller. The stream is never inherited by child
// processes. Null on failure.
std::FILE* openPlainFileForReading(const char* path);

// Writes `size` bytes to the stream (fwrite). Returns the bytes taken: fewer than `size`
// only when the write failed (errno set), and then a part of them may be in the stream
// already, as when a disk fills up part-way.
std::size_t writeFile(std::FILE* stream, const void* data, std::size_t size);

// The length in bytes of the file behind the stream, as the system has it (bytes still in
// the stream's buffer are not counted); -1 when it cannot be told.
long long fileLength(std::FILE* stream);

// Reads up to `size` bytes at `offset` of the file behind the stream, as stored (no line
// end translation), without moving the stream or touching its buffer (bytes still in the
// buffer are not seen). The stream must have been opened for reading too ("a+", "r").
// Returns the bytes read: fewer at the end of the file, 0 on failure.
std::size_t readFileAt(std::FILE* stream, long long offset, void* buffer, std::size_t size);

// Writes the stream's buffer out (a failure there is not reported), then cuts the file
// behind it to its first `length` bytes and puts the stream's position at that end. True
// when the file was cut.
bool truncateFile(std::FILE* stream, long long length);

// Creates a new, empty file for binary writing ("wb") that is its user's only (as for
// openFile()), at a path where nothing may exist yet: an existing file, folder or link,
// even a dangling one, makes it fail (O_CREAT | O_EXCL | O_NOFOLLOW; CREATE_NEW on
// Windows). For temporary files with fresh names. Null on failure, with errno EEXIST when
// something is at the path.
std::FILE* createNewFile(const char* path);

// Puts `source` in the place of `target` in one step: readers see the old file or the new
// one, never a mixture. `target` may exist (it is replaced) or not. Both must be on one
// volume. A target that another program holds open without sharing deletion is retried for
// up to a second (Windows). True on success.
bool replaceFile(const char* source, const char* target);

// Writes the stream's buffers through to the disk (fflush, then _commit / fsync), so that
// a file put in place afterwards is whole even after a power cut. True on success.
bool flushToDisk(std::FILE* stream);

// The bytes a "\n" becomes in a file opened in text mode.
extern const char* const kTextLineEnd;

}  // namespace kyro::platform

#endif
