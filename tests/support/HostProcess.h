// A scripted host: this program again in the child role "host" (the library reads its custom
// environment once per process), with the user's settings in <folder>\user, the companion's
// answers scripted (KYRO_VEX_ANSWERS) and its requests logged to <folder>\requests.log.
#ifndef KYRO_TESTS_HOSTPROCESS_H
#define KYRO_TESTS_HOSTPROCESS_H

#include "TempFolder.h"

#include "kyro/int/privacy_consent.h"
#include "kyro/util/TPath.h"

#include <set>
#include <string>
#include <vector>

extern const kyrointutil::KyroProductIdentity kHostProduct;

// An operation of the host, given what follows its name after "/" ("requests/1000").
using HostOperation = int (*)(const std::string& argument);
struct HostOperationRegistration {
    HostOperationRegistration(const char* name, HostOperation run);
};
#define KYRO_HOST_OPERATION(name)                                                          \
    static int kyroHostOperation_##name(const std::string& argument);                      \
    static HostOperationRegistration kyroHostOperationRegistration_##name(                  \
        #name, kyroHostOperation_##name);                                                   \
    static int kyroHostOperation_##name([[maybe_unused]] const std::string& argument)

// What the host printed: "<operation>=<result>\n" for each (and any other line it printed)
// in `results`; how long each took; the kinds of error report the pipe framework made.
struct HostRun {
    std::string results;
    std::vector<std::string> lines;
    std::vector<long long> times;
    std::set<std::string> reports;
    std::string output;   // everything, for failure messages
};

// Runs the operations ("error,message,...") in a host of `folder` whose companion answers
// by `script` and lives in `binaries` (this program's own folder when null; none when
// empty). The host's error log is <folder>\errors.log.
HostRun runHost(const TempFolder& folder, const std::string& operations, const char* script,
                const TStr* binaries = nullptr);

// "<status>@<raising file>" of every library record in an error log, in order.
std::vector<std::string> libraryRecords(const TStr& log);

#endif
