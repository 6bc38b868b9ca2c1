// TProcess: starts a program without a console window, its standard input on a pipe and
// its standard output and error on the null device. The conduit starts the companion with
// it.
//
// The process record holds the program, its arguments, the started process's id and this
// process's end of the input pipe. The library never writes to that pipe; it keeps its end
// open while the record lives (so the child's input stays open) and closes it when the
// record goes: on destruction, assign() and a new launch(). The child's end is closed here
// as soon as the child has started. Nobody would read the child's output: on a pipe whose
// reader has gone, a write would end the child (SIGPIPE) on POSIX, so the output goes
// where a write always succeeds. (The record's "stdout" entry therefore holds no end.)
//
// What launch() starts:
//  1. Application: the record's program.
//  2. Command line: the program's file name (the text after its last "\", the whole
//     program without one; never quoted), then the arguments, joined by TStr's join rule
//     with " ": nothing is added when the arguments are empty, and the space is not
//     doubled when one side already has it.
// With the environment variable KYRO_USE_SQUISH set (even to an empty text), the record
// is made to start that variable's program instead, with the requested program in double
// quotes, a space and the requested arguments as its arguments.
#ifndef KYRO_PIPE_TPROCESS_H
#define KYRO_PIPE_TPROCESS_H

#include <cstdint>

// TStr's header comes after the class on purpose. MinGW GCC gives the dllexport of the
// first polymorphic class it meets in a translation unit (TStr) to the type information of
// every later class of the same shape, so TProcess's would leave kyroint.dll as well.
class TStr;

class TProcess {
public:
    // launch() results. Callers treat anything but kStarted as failure.
    static constexpr int kStarted = -1;
    static constexpr int kNoRecord = -3;
    static constexpr int kLaunchFailed = -5;   // a pipe or the process could not be made

    // The environment variable that wraps every launch in another program.
    static const char* const kSquishVariable;

    TProcess();   // no record: launch() gives kNoRecord
    // A record for the program and arguments, after the KYRO_USE_SQUISH rule. Nothing starts.
    TProcess(const TStr& program, const TStr& arguments);
    // The same with the wrapping program given, as if KYRO_USE_SQUISH held `squishProgram`
    // (null: as if it were not set).
    TProcess(const TStr& program, const TStr& arguments, const char* squishProgram);
    virtual ~TProcess();

    // The record owns pipe ends, so a process is never copied; assign() is the one way to
    // take over another's identity.
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    // Drops this record (closing its pipe ends) and makes a new one that holds only the
    // other's process id: no program, arguments or pipes. When the other has no record,
    // neither has this one afterwards.
    void assign(const TProcess& other);

    int launch();
    std::uint32_t processId() const;   // 0 before a launch and without a record

    bool hasRecord() const { return m_record != nullptr; }
    // Whether the record starts a wrapping program (KYRO_USE_SQUISH) rather than the
    // requested one: then the started process is the wrapper, not the program it wraps.
    bool isWrapped() const;
    // The record's program and arguments (null texts without a record).
    TStr program() const;
    TStr arguments() const;
    // What launch() passes as the application and the command line.
    TStr applicationName() const;
    TStr commandLine() const;

private:
    struct Record;
    void makeRecord(const TStr& program, const TStr& arguments, const char* squishProgram);
    void freeRecord();

    Record* m_record;
};

#include "kyro/util/TStr.h"

#endif
