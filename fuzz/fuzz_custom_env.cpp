// The custom environment file's loader and lookup from arbitrary file contents: the bytes
// are written to a file that NORVELDT_KYRO_CUSTOM_ENV names, loaded, and every key the
// library asks for is looked up. Properties checked: nothing crashes, hangs or leaks; the
// status is 0 or 3 and a file that did not load answers every key with empty text; every
// answer is UTF-8 text of bounded length, "$" references included (one of the variables
// refers to itself, so expansion has to stop).
#include "fuzz_check.h"

#include "kyro/platform/process_info.h"
#include "kyro/util/CKyroUtilCustomEnv.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Never destroyed: the clean-up at exit still reads it.
const std::string& environmentPath()
{
    static const std::string* const path = new std::string([] {
        const char* folder = std::getenv("TMPDIR");
        std::string name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                           "/kyro_fuzz_custom_env_" +
                           std::to_string(kyro::platform::currentProcessId()) + ".xml";
        std::atexit([] { std::remove(environmentPath().c_str()); });
        return name;
    }());
    return *path;
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
    std::FILE* file = std::fopen(environmentPath().c_str(), "wb");
    if (file == nullptr)
        return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (!written)
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
