// How the library records its own failures.
//
// Internal: for the library's subsystems, not part of kyroint's exported interface.
#ifndef KYRO_DIAGNOSTICS_LIBRARY_DIAGNOSTICS_H
#define KYRO_DIAGNOSTICS_LIBRARY_DIAGNOSTICS_H

#include "kyro/diagnostics/CKyroIntError.h"

namespace kyro::diagnostics {

// Stamps and writes `record` with the process-wide error logger (KyroLogger::instance_m()).
// Threads of the library take turns here, so one thread's stamp never goes with another's
// record. (Hosts that use instance_m() themselves are not held back by this.) False when
// the logger's file has no name yet, so the record went nowhere.
bool recordLibraryError(const KyroLoggable& record);

// Names the process-wide error logger's file (an empty name is ignored), taking turns with
// the records above.
void setErrorLogFileName(const TStr& name);

// The same for a CKyroIntError of the library itself: component 1, status `code`, the
// library's version, raised at `thrownFile` (any "/" read as "\") and `thrownLine`.
// Typically recordLibraryError(CKyroIntError::kCompanionUnreachable, __FILE__, __LINE__).
void recordLibraryError(int code, const char* thrownFile, int thrownLine);

// The library's version text, "15.0.73.0".
const char* libraryVersion();

}  // namespace kyro::diagnostics

#endif
