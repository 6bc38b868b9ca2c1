#include "kyro/int/library_start_up.h"

#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/diagnostics/KyroPerfLog.h"
#include "kyro/util/CKyroUtilCustomEnv.h"
#include "kyro/util/locations.h"

#include <cstdio>

namespace kyrointutil {

namespace {

void logMarker(KyroPerfLogger& logger, const char* marker)
{
    KyroPerfLogData data;
    data.field1 = "";
    data.field2 = "";
    data.field3 = "";
    data.field4 = "";
    data.marker = marker;
    KyroPerfLog record(Kyro::kVendorKyroInt, data);
    logger.startLoggingWMilliSecs();
    logger.log(record);
}

}  // namespace

bool startUpCustomEnvironment()
{
    switch (CKyroUtilCustomEnv::instance().loadStatus()) {
    case CKyroUtilCustomEnv::kThinClientFileFailed:
        std::printf("KyroInt Error: The NORVELDT_KYRO_THINCLIENT_ENV XML file could not be loaded\n");
        std::fflush(stdout);
        return false;
    case CKyroUtilCustomEnv::kCustomFileFailed:
        std::printf("KyroInt Error: The NORVELDT_KYRO_CUSTOM_ENV XML file could not be loaded\n");
        std::fflush(stdout);
        return false;
    case CKyroUtilCustomEnv::kLoaded:
        addLibraryFolderToPath();
        return true;
    default:
        return true;
    }
}

bool startUpLibrary()
{
    KyroPerfLogger perfLogger;
    logMarker(perfLogger, "KYROINITIALIZE.START");
    const bool started = startUpCustomEnvironment();
    logMarker(perfLogger, "KYROINITIALIZE.STOP");
    return started;
}

}  // namespace kyrointutil
