// The user settings loader from arbitrary file contents, then a save and a second load.
// Checked: no crash, hang or leak; what a store wrote it reads back with the value it set,
// and it never writes a file that does not read back; consent is read from anything safely.
#include "fuzz_check.h"

#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/int/privacy_consent.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = kyro_fuzz::writeInput("settings.xml", data, size);
    if (path.empty())
        return 0;
    const TStr input(path.c_str()), output((path + ".saved").c_str());
    CKyroUtilSettingsFile settings(false);
    const bool loaded = settings.load(input);
    TStr value;
    const bool found = settings.getValue("PrivacyPolicyConsent", "Kyro", value);
    FUZZ_CHECK((loaded || !found) && (found || value.isEmpty()));
    // Saved unless its printed form would not read back (the parser takes damage it cannot write).
    if (loaded && settings.setValue("Fuzz", "Key", "value <&>") && settings.save(output)) {
        CKyroUtilSettingsFile reread(false);
        FUZZ_CHECK(reread.load(output) && reread.getValue("Fuzz", "Key", value) && value == "value <&>");
    }
    bool consented = false;
    const kyrointutil::KyroProductIdentity product{"Kyro", "Kyro"};
    FUZZ_CHECK(kyrointutil::readPrivacyPolicyConsent(product, &consented, input) || !consented);
    return 0;
}
