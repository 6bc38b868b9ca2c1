// The custom environment file (the one NORVELDT_KYRO_CUSTOM_ENV names) from arbitrary contents.
// Checked: it loads or fails, and a failed one answers with empty text; every answer, "$"
// references included (one refers to itself), is UTF-8 of bounded length.
#include "fuzz_check.h"

#include "kyro/util/CKyroUtilCustomEnv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = kyro_fuzz::writeInput("custom_env.xml", data, size);
    static const bool prepared = [&path] {
        unsetenv("NORVELDT_KYRO_THINCLIENT_ENV");
        setenv("NORVELDT_KYRO_CUSTOM_ENV", path.c_str(), 1);
        setenv("KYRO_FUZZ_ROOT", "C:\\Fuzz Root", 1);
        setenv("KYRO_FUZZ_SELF", "x$KYRO_FUZZ_SELF", 1);
        return std::freopen("/dev/null", "w", stdout) != nullptr;   // unset references are named there
    }();
    if (path.empty() || !prepared)
        return 0;
    CKyroUtilCustomEnv environment;
    const int status = environment.load();
    FUZZ_CHECK(status == CKyroUtilCustomEnv::kLoaded || status == CKyroUtilCustomEnv::kCustomFileFailed);
    for (const char* key : {"KYRO_COMMON_BIN_LOCATION", "KYRO_LOG_FILE_LOCATION", "KYRO_ERROR_TABLE_LOCATION", "A", ""}) {
        const TStr value = environment.getValue(TStr(key));
        FUZZ_CHECK(status == CKyroUtilCustomEnv::kLoaded || value.isEmpty());
        // Expansion stops at 64 KiB; one substitution may pass it by the variable's length.
        FUZZ_CHECK(kyro_fuzz::isUtf8(value) && static_cast<std::size_t>(value.length()) <= 64 * 1024 + 64);
    }
    return 0;
}
