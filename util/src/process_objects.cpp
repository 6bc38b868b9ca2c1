// The process-wide objects of the runtime, built by static initialisation when the library
// is loaded and destroyed in reverse order when it is unloaded:
//
//   1. the custom environment object (reads its file on first use),
//   2. the locale manager (learns the installed locales now),
//   3. the clean-up registry: at unload it goes first and destroys every registered
//      singleton, newest first, while the two objects above still exist.
//
// They live in this one file so that their order is the order of the definitions below.
#include "kyro/util/CKyroUtilCleanup.h"
#include "kyro/util/CKyroUtilCustomEnv.h"
#include "kyro/util/CKyroUtilLocaleMgr.h"

namespace {

CKyroUtilCustomEnv g_customEnvironment;
CKyroUtilLocaleMgr g_localeManager;

struct CleanupRegistry {
    CleanupRegistry()
    {
        if (CKyroUtilObjectManager::global() == nullptr)
            new CKyroUtilObjectManager(true);
    }
    ~CleanupRegistry() { destroyGlobal(); }
} g_cleanupRegistry;

}  // namespace

CKyroUtilCustomEnv& CKyroUtilCustomEnv::instance()
{
    return g_customEnvironment;
}

CKyroUtilLocaleMgr& CKyroUtilLocaleMgr::instance()
{
    return g_localeManager;
}
