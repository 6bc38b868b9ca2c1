// Host processes with a companion, for the tests of dialog requests: the test program runs
// itself in a child role (a fresh process, because the library reads its custom
// environment file once per process), with a custom environment file that puts the user's
// settings in <folder>\user and names the companion's folder, a script for the companion's
// answers, and the companion's request log in <folder>\requests.log.
#ifndef KYRO_TESTS_HOSTPROCESS_H
#define KYRO_TESTS_HOSTPROCESS_H

#include "TempFolder.h"

#include "kyro/util/TPath.h"

#include <string>
#include <vector>

// Runs `role` ("<role>:<argument>") as a host whose companion answers by `script` (see the
// companion's KYRO_VEX_ANSWERS) and lives in `binaries`: this program's own folder, where
// Vex.exe is built, when null; no companion folder at all when empty. The host's output,
// or "<not run>" when it could not be started.
std::string runHost(const TempFolder& folder, const std::string& role, const char* script,
                    const TStr* binaries = nullptr);

// In the host: the test's folder, where its error log belongs (<folder>\errors.log).
TPath hostTestFolder();

// "<status>@<raising file>" of every library record in an error log, in order.
std::vector<std::string> libraryRecords(const TStr& log);

#endif
