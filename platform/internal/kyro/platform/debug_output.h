// Messages for whoever watches the process with a debugger: the library's quiet reports of
// things that do not stop it (the root certificate upkeep, for one).
//
// Windows: each message goes to OutputDebugStringW, where a debugger or a debug-output
// viewer shows it.
//
// Every platform: when the environment variable KYRO_DEBUG_OUTPUT names a file, each
// message is also appended to it as one line, the UTF-8 text and "\n". The file is opened
// in append mode for each message and closed again, so several processes can share one
// file and their lines never interleave. Only an ordinary file is written (a FIFO, a
// terminal or a device is left alone), it is created when missing, and a failure is never
// reported. On POSIX a "\" in the variable counts as "/", as in every library path.
//
// POSIX has no debugger channel: without KYRO_DEBUG_OUTPUT the message is dropped. Nothing
// ever reaches the host's standard output or error.
#ifndef KYRO_PLATFORM_DEBUG_OUTPUT_H
#define KYRO_PLATFORM_DEBUG_OUTPUT_H

namespace kyro::platform {

// The environment variable naming the file that collects the messages as well.
extern const char* const kDebugOutputFileVariable;   // "KYRO_DEBUG_OUTPUT"

// Hands one UTF-8 message to the debugger output (null counts as empty). Never fails, never
// throws, and leaves the system's last-error value (errno) as it found it.
void writeDebugOutput(const char* utf8Text);

}  // namespace kyro::platform

#endif
