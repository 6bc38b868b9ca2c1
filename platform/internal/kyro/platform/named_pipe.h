// Named pipes between the library and its companion process: the byte pipes the message
// framework runs on.
//
// A pipe has a UTF-8 name of the Windows form "\\.\pipe\<path>". A server creates inbound
// instances of a name and reads from them; a client opens the name for writing. Each side
// of a connection reads on its own inbound pipe, so every pipe carries bytes one way only,
// from the client that opened it to the server instance that took the client.
//
// Windows: named pipes in byte mode, opened for overlapped I/O so that every blocking call
// can be released from another thread. Inbound instances reject remote clients and carry
// an access list for the current user and SYSTEM only; clients allow identification, not
// impersonation. No handle is inheritable.
//
// POSIX: one Unix domain stream socket per pipe name, a socket file in the per-user
// runtime folder (pipeRuntimeFolder()). The instances of a name in one process share its
// listening socket and each takes one accepted connection; one process at a time can serve
// a name. The file goes when the last instance of its name is closed; files that ended
// processes left behind are replaced, and swept when a process first listens. Writing to
// a pipe whose reader has gone never raises SIGPIPE.
//
// Handles are opaque numbers, never 0 and never kNoPipe. Any call may block in one thread
// while closePipe() runs in another: the blocked call is released at once and reports the
// handle closed (InvalidHandle, or Closed for waitForClient). The system's own handle is
// let go only when the last call using it has returned, so it can never be reused under a
// running call, and a closed handle answers InvalidHandle, never for some other pipe.
#ifndef KYRO_PLATFORM_NAMED_PIPE_H
#define KYRO_PLATFORM_NAMED_PIPE_H

#include <cstdint>
#include <string>

namespace kyro::platform {

using PipeHandle = std::intptr_t;
constexpr PipeHandle kNoPipe = -1;

// What a read or a write came to. The Win32 error each case stands for is given; `error`
// in PipeResult carries the system's own code (GetLastError, errno).
enum class PipeStatus {
    Ok,             // bytes moved; a read that is Ok has at least one byte
    Listening,      // read on an inbound instance no client has opened yet (536); at once
    Broken,         // the other side has gone (read: 109, after everything it wrote was
                    // read; write: 109, 232)
    Disconnected,   // this server instance was disconnected (233) and is not listening
    InvalidHandle,  // not an open pipe handle, or closed meanwhile (6)
    EndOfData,      // a read succeeded with zero bytes (Windows, when the writer wrote a
                    // zero-byte block); never on POSIX
    OtherError      // anything else; see `error`
};

struct PipeResult {
    PipeStatus status = PipeStatus::InvalidHandle;
    std::uint32_t bytes = 0;  // bytes read or written, also when a write stopped half-way
    std::uint32_t error = 0;  // the system's error code; 0 when Ok
};

// Server: creates a new inbound instance of `name`, which starts out listening. Windows:
// CreateNamedPipeW(PIPE_ACCESS_INBOUND, byte type and read mode, blocking, 255 instances,
// 4096-byte buffers, default time-out 0). POSIX: fails with EADDRINUSE when another
// process serves the name. kNoPipe on failure, with the system's code in *error.
PipeHandle createInboundPipe(const char* name, std::uint32_t* error = nullptr);

enum class PipeConnectResult {
    Connected,  // a client has opened this instance (also one that did so before the call)
    Closed,     // the handle was closed, before or during the wait
    Failed      // see *error
};

// Server: blocks until a client opens this instance (ConnectNamedPipe). A client that has
// opened the instance and gone again before the call still counts as Connected; the next
// read then reports Broken. On an instance that was disconnected, this listens again.
// Closing the handle from another thread ends the wait with Closed: that is how a server
// stops listening.
PipeConnectResult waitForClient(PipeHandle pipe, std::uint32_t* error = nullptr);

// Client: whether `name` exists and an instance can take a client (WaitNamedPipeW). No
// such pipe: false at once. Windows waits up to `timeoutMs` while every instance is busy
// (0 is the pipe's default time-out). On POSIX clients queue at the listening socket, so
// an instance is never busy and the answer comes at once.
bool waitForPipe(const char* name, std::uint32_t timeoutMs);

// Client: waits up to `timeoutMs` for `name` to exist (0: only looks), ending as soon as
// it appears; whether it exists now. POSIX watches the runtime folder (inotify); Windows
// has no notice of a pipe's creation and looks every millisecond.
bool waitForPipeToAppear(const char* name, std::uint32_t timeoutMs);

// Client: opens `name` for writing (CreateFileW(GENERIC_WRITE, FILE_SHARE_READ,
// OPEN_EXISTING)). kNoPipe when there is no such pipe (Windows 2, POSIX ENOENT or
// ECONNREFUSED), every instance is busy (231), or access is denied; *error gets the code.
PipeHandle openPipeForWriting(const char* name, std::uint32_t* error = nullptr);

// Reads up to `size` bytes from a server instance: blocks until at least one byte has
// arrived, the client has gone, or the instance is disconnected or closed. An instance no
// client has opened yet answers Listening at once: reading never waits for a client
// (waitForClient does). A client handle cannot be read (OtherError).
PipeResult pipeRead(PipeHandle pipe, void* buffer, std::uint32_t size);

// Writes all `count` bytes on a client handle, blocking while the pipe is full. Broken
// when the server instance has gone or was disconnected. A server instance cannot be
// written (OtherError).
PipeResult pipeWrite(PipeHandle pipe, const void* bytes, std::uint32_t count);

// Whatever a finished write has written is in the pipe for the reader already, so this
// only checks the handle: true while it is open. Windows runs FlushFileBuffers on a
// server instance (which returns at once) and nothing on a client handle, where
// FlushFileBuffers would wait, unreleasably, until the server has read every byte.
bool pipeFlush(PipeHandle pipe);

// Server: ends the connection of this instance (DisconnectNamedPipe). A read blocked on
// it in another thread returns Disconnected, and so do later reads until waitForClient()
// listens again; the client's writes fail with Broken. False when no client is connected
// (the instance keeps listening) and for client handles.
bool pipeDisconnect(PipeHandle pipe);

// Closes the handle and releases every call blocked on it (see above). A client of a
// server instance then gets Broken. kNoPipe and 0 are ignored.
void closePipe(PipeHandle pipe);

// The folder of the POSIX backend's socket and lock files, "\" separators: created when
// missing, mode 0700, owned by the user, never a symbolic link. Taken from XDG_RUNTIME_DIR
// when that is set and usable, else a folder in TMPDIR (or /tmp) named after the user id;
// when another user has taken that name, a folder in the user's home (see named_pipe.cpp),
// which every process of the user then keeps to. Empty when no safe folder can be had.
// Windows keeps its names in the system: always empty there.
std::string pipeRuntimeFolder();

}  // namespace kyro::platform

#endif
