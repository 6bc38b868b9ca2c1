// The custom environment file's loader and lookup from arbitrary file contents: the bytes
// are written to a file that NORVELDT_KYRO_CUSTOM_ENV names, loaded, and every key the
// library asks for is looked up. Properties checked: nothing crashes, hangs or leaks; the
// status is 0 or 3 and a file that did not load answers every key with empty text; every
// answer is UTF-8 text of bounded length, "$" references included (one of the variables
// refers to itself, so expansion has to stop).
#include "fuzz_check.h"

#include "kyro/util/CKyroUtilCustomEnv.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string& environmentPath()
{
    static const std::string path = kyro_fuzz::scratchFile("custom_env.xml");
    return path;
}

void prepareProcess()
{
    static const bool done = [] {
        unsetenv("NORVELDT_KYRO_THINCLIENT_ENV");
        setenv("NORVELDT_KYRO_CUSTOM_ENV", environmentPath().c_str(), 1);
        setenv("KYRO_FUZZ_ROOT", "C:\\Fuzz Root", 1);
        setenv("KYRO_FUZZ_SELF", "x$KYRO_FUZZ_SELF", 1);
        // Unset references are named on standard output; keep the fuzzer's console quiet.
        std::freopen("/dev/null", "w", stdout);
        return true;
    }();
    (void)done;
}

const char* const kKeys[] = {"KYRO_COMMON_BIN_LOCATION",
                             "KYRO_COMMON_LIB_LOCATION",
                             "KYRO_COMMON_LOCALIZED_DATA_LOCATION",
                             "KYRO_COMMON_DATA_LOCATION",
                             "KYRO_LOG_FILE_LOCATION",
                             "KYRO_ERROR_TABLE_LOCATION",
                             "KYRO_USER_SETTINGS_FILE_LOCATION",
                             "KYRO_APPLICATION_KYRO_RESOURCE_LOCATION",
                             "KYRO_APPLICATION_ERROR_LOG_FILE",
                             "A"};

// Expansion stops at 64 KiB; one substitution may pass it by the variable's length.
constexpr std::size_t kLongestAnswer = 64 * 1024 + 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    prepareProcess();
    if (!kyro_fuzz::writeInput(environmentPath(), data, size))
        return 0;

    kyro_fuzz::AllocationBalance balance;
    {
        CKyroUtilCustomEnv environment;
        const int status = environment.load();
        FUZZ_CHECK(status == CKyroUtilCustomEnv::kLoaded ||
                   status == CKyroUtilCustomEnv::kCustomFileFailed);
        FUZZ_CHECK(environment.isLoaded() == (status == CKyroUtilCustomEnv::kLoaded));
        FUZZ_CHECK(environment.loadStatus() == status);
        for (const char* key : kKeys) {
            const TStr value = environment.getValue(TStr(key));
            FUZZ_CHECK(status == CKyroUtilCustomEnv::kLoaded || value.isEmpty());
            FUZZ_CHECK(kyro_fuzz::isUtf8(value));
            FUZZ_CHECK(static_cast<std::size_t>(value.length()) <= kLongestAnswer);
        }
        FUZZ_CHECK(environment.getValue(TStr()).isEmpty());
    }
    return 0;
}
