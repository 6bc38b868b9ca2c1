// The user settings loader from arbitrary file contents, then a save and a second load.
// Checked: no crash, hang or leak; what a store wrote it reads back with the value it set,
// and it never writes a file that does not read back; consent is read from anything safely.
#include "fuzz_check.h"

#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/int/privacy_consent.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string inputPath = kyro_fuzz::scratchFile("settings_in.xml");
    static const std::string outputPath = kyro_fuzz::scratchFile("settings_out.xml");
    std::remove(outputPath.c_str());
    if (!kyro_fuzz::writeInput(inputPath, data, size))
        return 0;
    const kyro_fuzz::AllocationBalance balance;
    const TStr input(inputPath.c_str()), output(outputPath.c_str());
    CKyroUtilSettingsFile settings(false);
    const bool loaded = settings.load(input);
    TStr value;
    for (const char* key : {"Kyro", ":Kyro", "Report", "a"}) {
        const bool found = settings.getValue("PrivacyPolicyConsent", key, value);
        FUZZ_CHECK((loaded || !found) && (found || value.isEmpty()));
    }
    // Saved unless its printed form would not read back (the parser accepts some damage it
    // cannot write back, such as bytes that are not UTF-8 in an unquoted attribute).
    if (loaded && settings.setValue("Fuzz", "Key", "value <&>") && settings.save(output)) {
        CKyroUtilSettingsFile reread(false);
        FUZZ_CHECK(reread.load(output) && reread.getValue("Fuzz", "Key", value) && value == "value <&>");
    }
    bool consented = false;
    const kyrointutil::KyroProductIdentity product{"Kyro", "Kyro"};
    FUZZ_CHECK(kyrointutil::readPrivacyPolicyConsent(product, &consented, input) || !consented);
    return 0;
}
