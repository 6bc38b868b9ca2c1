// The pipe framework's two message sinks: the trace sink and the error report.
//
// The framework hands every trace line ("Packet Marshalled:...", "PROCESS: ...") to
// trace() and every error message to reportError(), already formatted. By default both
// discard what they get: they print nothing and change nothing. Two ways to watch them:
//
//  - An observer: setMessageObserver(observer, context) installs a function that receives
//    each line (with its kind) from then on; setMessageObserver(nullptr, nullptr) removes
//    it. Installing and removing are thread-safe, and once either call returns the old
//    observer is not running and will not be called again. Lines are delivered one at a
//    time, on the thread that produced them. A line the observer itself produces (by
//    tracing from inside the callback) is not delivered again. Meant for tests and for
//    hosts that want the lines in their own log.
//  - A file: when the environment variable KYRO_PIPE_TRACE_FILE names a file, each line is
//    appended to it as "[<process id>] <line>" and a line end. The file is opened and
//    closed per line, so several processes (a host and its companion) can share one file.
//    The variable is read at every line; unset it and the lines stop.
//
// The sinks never fail and never throw; what they cost beyond the observer's own work is
// one environment lookup per line when nobody watches, and one small file append when the
// variable is set.
#ifndef KYRO_PIPE_VEXMESSAGES_H
#define KYRO_PIPE_VEXMESSAGES_H

#include "kyro/util/TStr.h"

#include <cstdint>

namespace kyro::pipe {

enum class MessageKind {
    Trace,   // from trace()
    Error    // from reportError()
};

using MessageObserver = void (*)(MessageKind kind, const TStr& line, void* context);

// The environment variable that names the file receiving the lines.
extern const char* const kMessageFileVariable;

// A trace line, passed on unchanged.
void trace(const TStr& text);
// A trace line made of a "%1" format and its argument, composed only when someone watches
// (packets trace every line they marshal or read).
void trace(const char* format, const TStr& argument);

// "Error ", a space and the text (so two spaces follow "Error").
void reportError(const TStr& text);
// "Error ", the code in signed decimal, a space and the text: 0xF0000007 is -268435449.
void reportError(std::int32_t code, const TStr& text);

// Installs (or, with null, removes) the observer; see above.
void setMessageObserver(MessageObserver observer, void* context);

}  // namespace kyro::pipe

#endif
