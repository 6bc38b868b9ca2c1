// Failing system calls on purpose.
//
// The platform calls that touch files, mutexes and pipes ask this table, before they go to the
// system, whether to fail. A test arms a point ("the 3rd openFile from now fails", or "every
// openFile from the 3rd on") and then drives the library above, which cannot tell the
// difference from a full disk or a refused open: the call answers exactly as the failing
// system call would, with the error code set. Nothing above platform/ knows about it.
//
// Always compiled in. While no point is armed, a call pays one relaxed atomic load. Arming,
// counting and failing are safe from any thread; the counts are process-wide.
#ifndef KYRO_PLATFORM_FAULT_INJECTION_H
#define KYRO_PLATFORM_FAULT_INJECTION_H

#include <atomic>

namespace kyro::platform {

// The calls that can be made to fail, and how each one fails. (Not named after the Win32
// calls: some of those names are macros.)
enum class FaultPoint {
    FileOpen,         // openFile(): null; errno EACCES (and ERROR_ACCESS_DENIED on Windows)
    FileWrite,        // writeFile(): a short write, as on a disk that fills up part-way:
                      // the first half of the bytes reach the stream, the rest do not;
                      // errno ENOSPC (and ERROR_DISK_FULL on Windows)
    FileReplace,      // replaceFile(): false, both files as they were; errno EIO (Windows:
                      // EACCES and ERROR_ACCESS_DENIED, as when a reader holds the target
                      // for too long)
    NamedMutexOpen,   // namedMutexOpen(): kNoNamedMutex; errno EACCES (Windows:
                      // ERROR_ACCESS_DENIED, as for a mutex of that name made by another user)
    PipeCreate,       // createInboundPipe(): kNoPipe; error EMFILE (Windows:
                      // ERROR_NO_SYSTEM_RESOURCES), as in a process out of handles
};
constexpr int kFaultPointCount = 5;

enum class FaultRepeat {
    Once,        // only the nth call fails
    FromThenOn   // the nth call and every one after it fail
};

// Counts the calls of `point` afresh from now on and makes the `nth` of them fail (1: the
// very next call). An nth of 0 or less only counts. Other points keep their settings.
void armFault(FaultPoint point, long nth, FaultRepeat repeat = FaultRepeat::Once);

// Every point back to normal: no call fails and nothing is counted any more. The counts of
// the last arming stay readable until the next armFault().
void disarmFaults();

// The calls of `point` since it was armed, failed ones included.
long faultPointCalls(FaultPoint point);

// The calls of `point` made to fail since it was armed.
long faultsInjected(FaultPoint point);

namespace fault_detail {
// A bit per armed point; zero on the normal path.
extern std::atomic<unsigned> g_armedPoints;
bool countAndDecide(FaultPoint point);
}  // namespace fault_detail

// For the backends, first thing in each call of `point`: true when this call is to fail.
// The backend then sets the error code and answers as the failing system call would.
inline bool failThisCall(FaultPoint point)
{
    return fault_detail::g_armedPoints.load(std::memory_order_relaxed) != 0 &&
           fault_detail::countAndDecide(point);
}

}  // namespace kyro::platform

#endif
