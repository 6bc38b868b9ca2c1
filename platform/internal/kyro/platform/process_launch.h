// Starting child processes, and what they inherit from this one: its handles and its
// environment.
//
// A launched child gets exactly three handles: its standard input on one anonymous pipe and
// its standard output and error together on another (or on the null device, see
// ChildOutput). Nothing else this process holds is
// passed on (a handle list on Windows; close-on-exec and a close of every higher descriptor
// on POSIX). The child's pipe ends are closed here as soon as it has started; the parent's
// ends go to the caller, who closes them with closePipeEnd().
//
// Texts are UTF-8. Program paths use "\" separators, as everywhere in the library; the
// POSIX backend turns them into "/" at the system call.
#ifndef KYRO_PLATFORM_PROCESS_LAUNCH_H
#define KYRO_PLATFORM_PROCESS_LAUNCH_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kyro::platform {

// One end of an anonymous pipe: a HANDLE on Windows, a file descriptor on POSIX.
using PipeEnd = std::intptr_t;
constexpr PipeEnd kNoPipeEnd = -1;

struct LaunchedProcess {
    std::uint32_t processId = 0;
    PipeEnd input = kNoPipeEnd;   // writes reach the child's standard input
    PipeEnd output = kNoPipeEnd;  // reads the child's standard output and error
};

// Where the child's standard output and error go.
enum class ChildOutput {
    Pipe,     // a pipe whose reading end the caller gets (LaunchedProcess::output)
    Discard   // the null device: writes always succeed and go nowhere; output stays empty.
              // For a child whose output nobody reads: on a pipe whose reader has gone a
              // POSIX child's write would end it (SIGPIPE), and a full pipe would block it.
};

enum class LaunchResult {
    Started,
    PipeFailed,     // a pipe could not be made
    ProcessFailed   // the program could not be started (missing, not executable, ...)
};

// Starts `application` (the full path of the program; no search) without a console window.
// `commandLine` is the whole command line the child sees, its own name first. On Windows
// it is handed over as it is; on POSIX it is split into arguments at blanks, where double
// quotes group words and are dropped (no escapes: "\" is an ordinary character).
// On anything but Started, `*out` is left empty and nothing stays open.
// On POSIX the ended children this backend started are reaped at each launch and at
// releaseEndedChildren(), so none lingers as a zombie for longer.
LaunchResult launchProcess(const char* application, const char* commandLine,
                           LaunchedProcess* out, ChildOutput output = ChildOutput::Pipe);

// Closes a pipe end from launchProcess(); kNoPipeEnd is ignored.
void closePipeEnd(PipeEnd end);

// Reads what is there (blocking until something is): the bytes read, 0 once every writer
// has gone, -1 on failure.
long readPipe(PipeEnd end, void* buffer, std::size_t size);

// Collects the exit status of the children launchProcess() started that have ended, so
// they leave no zombie. Windows keeps no such state: a no-op there.
void releaseEndedChildren();

// The number of handles (descriptors) this process holds; -1 when it cannot be told.
// GetProcessHandleCount on Windows (counted by probing where it reports nothing, as under
// Wine), the entries of /proc/self/fd on POSIX. Meant for leak checks.
int openHandleCount();

// The full path of this process's program, "\" separators; empty when unknown.
std::string executablePath();

// The runtime's environment, as children inherit it. Values are UTF-8 (the wide runtime
// calls on Windows, so any character survives). environmentVariable() is false when the
// variable is not set; a variable set to the empty text is set, where the system allows it
// (the Windows runtime removes a variable set to the empty text).
bool environmentVariable(const char* name, std::string* value);
// Sets the variable, or removes it when `value` is null. False on failure.
bool setEnvironmentVariable(const char* name, const char* value);

}  // namespace kyro::platform

#endif
