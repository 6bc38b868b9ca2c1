// The custom environment file: an XML file, named by an environment variable, that
// redirects the library's folders (see kyro/util/locations.h).
//
//   <KYROCUSTOMENV>
//     <PLATFORM OS="Windows">
//       <KEY ID="KYRO_LOG_FILE_LOCATION"><STRING>$LOGROOT\kyro</STRING></KEY>
//     </PLATFORM>
//   </KYROCUSTOMENV>
//
// "NORVELDT_KYRO_THINCLIENT_ENV" names the file; when it is not set,
// "NORVELDT_KYRO_CUSTOM_ENV" does. The file is read once, on first use; values may name
// environment variables as "$NAME" (up to the next "\" or the end).
#ifndef KYRO_UTIL_CKYROUTILCUSTOMENV_H
#define KYRO_UTIL_CKYROUTILCUSTOMENV_H

#include "kyro/util/TStr.h"

#include <mutex>

class CKyroUtilCustomEnv {
public:
    // Statuses of load().
    enum {
        kNotAttempted = -1,
        kLoaded = 0,
        kNoVariable = 1,
        kThinClientFileFailed = 2,
        kCustomFileFailed = 3
    };

    CKyroUtilCustomEnv();
    virtual ~CKyroUtilCustomEnv();
    CKyroUtilCustomEnv(const CKyroUtilCustomEnv&) = delete;
    CKyroUtilCustomEnv& operator=(const CKyroUtilCustomEnv&) = delete;

    // Reads the file the variables name (again, when called again); the new status.
    int load();
    // The value of key `name` for this platform, "$" references expanded; empty when the
    // name is empty, no file is loaded or the file does not give the key.
    TStr getValue(const TStr& name);
    // Whether a file is loaded (reading it first if nothing has read it yet).
    bool isLoaded();
    // 0, 2 or 3 as the (first) load ended; 1 for everything else.
    int loadStatus();

    // The process-wide instance, built when the library loads.
    static CKyroUtilCustomEnv& instance();

private:
    struct Document;

    int loadLocked();
    void loadOnce();
    TStr lookUp(const TStr& name) const;

    std::mutex m_lock;
    TStr m_platformName;
    Document* m_document;
    bool m_loaded = false;
    bool m_needsLoad = true;
    int m_status = kNotAttempted;
};

// Expands "$NAME" references in `value` from the process environment, printing
// "Environment variable NAME cannot be found" for each unset one. Exposed for tests.
TStr expandEnvironmentReferences(const TStr& value);

#endif
