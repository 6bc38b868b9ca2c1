// The custom environment file's loader and lookup from arbitrary file contents (written to
// the file NORVELDT_KYRO_CUSTOM_ENV names). Checked: no crash, hang or leak; the status is
// loaded or failed, and a file that did not load answers every key with empty text; every
// answer is UTF-8 of bounded length, "$" references included (one refers to itself).
#include "fuzz_check.h"

#include "kyro/util/CKyroUtilCustomEnv.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = kyro_fuzz::scratchFile("custom_env.xml");
    static const bool prepared = [] {
        unsetenv("NORVELDT_KYRO_THINCLIENT_ENV");
        setenv("NORVELDT_KYRO_CUSTOM_ENV", path.c_str(), 1);
        setenv("KYRO_FUZZ_ROOT", "C:\\Fuzz Root", 1);
        setenv("KYRO_FUZZ_SELF", "x$KYRO_FUZZ_SELF", 1);
        return std::freopen("/dev/null", "w", stdout) != nullptr;   // unset references are named there
    }();
    (void)prepared;
    if (!kyro_fuzz::writeInput(path, data, size))
        return 0;
    const kyro_fuzz::AllocationBalance balance;
    CKyroUtilCustomEnv environment;
    const int status = environment.load();
    FUZZ_CHECK(status == CKyroUtilCustomEnv::kLoaded || status == CKyroUtilCustomEnv::kCustomFileFailed);
    FUZZ_CHECK(environment.isLoaded() == (status == CKyroUtilCustomEnv::kLoaded) && environment.loadStatus() == status);
    for (const char* key : {"KYRO_COMMON_BIN_LOCATION", "KYRO_COMMON_LIB_LOCATION", "KYRO_COMMON_LOCALIZED_DATA_LOCATION",
                            "KYRO_COMMON_DATA_LOCATION", "KYRO_LOG_FILE_LOCATION", "KYRO_ERROR_TABLE_LOCATION",
                            "KYRO_USER_SETTINGS_FILE_LOCATION", "KYRO_APPLICATION_KYRO_RESOURCE_LOCATION",
                            "KYRO_APPLICATION_ERROR_LOG_FILE", "A"}) {
        const TStr value = environment.getValue(TStr(key));
        FUZZ_CHECK(status == CKyroUtilCustomEnv::kLoaded || value.isEmpty());
        // Expansion stops at 64 KiB; one substitution may pass it by the variable's length.
        FUZZ_CHECK(kyro_fuzz::isUtf8(value) && static_cast<std::size_t>(value.length()) <= 64 * 1024 + 64);
    }
    FUZZ_CHECK(environment.getValue(TStr()).isEmpty());
    return 0;
}
