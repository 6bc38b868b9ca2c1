// The user settings loader from arbitrary file contents: the bytes are written to a file
// and loaded as KyroUserSettings.xml would be, then saved and loaded again. Properties
// checked: nothing crashes, hangs or leaks; what a store wrote it reads back, with the
// value it set, and it never writes a file that does not read back; consent is read from whatever the file holds without harm.
#include "fuzz_check.h"

#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/int/privacy_consent.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string& inputPath()
{
    static const std::string path = kyro_fuzz::scratchFile("settings_in.xml");
    return path;
}

const std::string& outputPath()
{
    static const std::string path = kyro_fuzz::scratchFile("settings_out.xml");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::remove(outputPath().c_str());
    if (!kyro_fuzz::writeInput(inputPath(), data, size))
        return 0;

    kyro_fuzz::AllocationBalance balance;
    {
        const TStr input(inputPath().c_str());
        const TStr output(outputPath().c_str());
        CKyroUtilSettingsFile settings(false);
        const bool loaded = settings.load(input);
        TStr value;
        for (const char* key : {"Kyro", ":Kyro", "Report", "a"}) {
            const bool found = settings.getValue("PrivacyPolicyConsent", key, value);
            FUZZ_CHECK(loaded || !found);
            FUZZ_CHECK(found || value.isEmpty());
        }
        // A store is saved unless its printed form would not read back (TinyXML accepts
        // some damaged input it cannot write back, such as bytes that are not UTF-8 in an
        // unquoted attribute); then the old file stays.
        if (loaded && settings.setValue("Fuzz", "Key", "value <&>") && settings.save(output)) {
            CKyroUtilSettingsFile reread(false);
            FUZZ_CHECK(reread.load(output));
            FUZZ_CHECK(reread.getValue("Fuzz", "Key", value) && value == "value <&>");
        }

        bool consented = false;
        const kyrointutil::KyroProductIdentity product{"Kyro", "Kyro"};
        const bool found = kyrointutil::readPrivacyPolicyConsent(product, &consented, input);
        FUZZ_CHECK(found || !consented);
    }
    return 0;
}
