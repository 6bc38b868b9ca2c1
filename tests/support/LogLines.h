// Helpers of the diagnostics tests: the lines a record adds, and the user folder of the logs.
#ifndef KYRO_TESTS_DIAGNOSTICS_LOGLINES_H
#define KYRO_TESTS_DIAGNOSTICS_LOGLINES_H

#include "kyro/diagnostics/KyroLoggable.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/util/TPath.h"

#include "ScopedVariable.h"
#include "TempFolder.h"

#include <string>
#include <vector>

// The host facts every record carries, as the records hold them.
struct HostFacts {
    static std::string hostName();
    static std::string platformOS();
};

// Stamps `logger` (with milliseconds when `precise`), logs `record` and returns the lines it
// added, each without its stamp and the `separator` after it ("\t"; "," for performance
// lines); a line without the stamp comes whole, prefixed with "UNSTAMPED:".
std::vector<std::string> logLines(KyroLogger& logger, const KyroLoggable& record,
                                  const char* separator = "\t", bool precise = false);

// The user folder the debug and performance loggers use now.
std::string userFolder();

// Points the user folder into `temp` where a variable can (POSIX); on Windows the loggers'
// files are renamed before anything is written.
class UserFolderInTemp {
public:
    explicit UserFolderInTemp(const TempFolder& temp);

private:
    ScopedVariable m_variable;
};

// The error table the record tests use, written to `path`:
//   vendor 1 "Kyro Integration Library": 5 "The companion could not be reached"
//   vendor 2 "Vex Companion": 3 "The dialog failed"
void writeTestTable(const TPath& path);

#endif
