#include "kyro/int/privacy_consent.h"

#include "kyro/diagnostics/CKyroIntError.h"
#include "kyro/diagnostics/library_diagnostics.h"
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/util/c_str.h"
#include "kyro/util/locations.h"

#include <cstring>

namespace kyrointutil {
namespace {

const char* const kConsentSection = "PrivacyPolicyConsent";
const char* const kSettingsFileName = "KyroUserSettings.xml";
// Earlier files kept the answer under name ":" qualifier, or under ":" qualifier when the
// product had no name; both are looked for, in that order.
const char* const kOldKeySeparator = ":";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

TStr trimmedValue(const TStr& value)
{
    const char* text = value.utf8();
    std::size_t begin = 0;
    std::size_t end = std::strlen(text);
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return TStr(text + begin, static_cast<int>(end - begin), kyro::cstr::kUtf8);
}

}  // namespace

TPath userSettingsPath()
{
    const TStr folder = getLocation(kLocationUserSettings, TStr(""));
    if (folder.isEmpty())
        return TPath();
    TStr path(folder);
    path += kSettingsFileName;
    return TPath(path);
}

bool readPrivacyPolicyConsent(const KyroProductIdentity& identity, bool* consented)
{
    return readPrivacyPolicyConsent(identity, consented, userSettingsPath());
}

bool readPrivacyPolicyConsent(const KyroProductIdentity& identity, bool* consented,
                              const TPath& settingsPath)
{
    if (consented == nullptr)
        return false;
    *consented = false;
    CKyroUtilSettingsFile settings(true);
    if (!settings.load(settingsPath))
        return false;

    TStr value;
    bool migrate = false;
    if (!settings.getValue(kConsentSection, identity.qualifier, value)) {
        TStr namedKey(identity.name);
        namedKey += kOldKeySeparator;
        namedKey += identity.qualifier;
        TStr bareKey(kOldKeySeparator);
        bareKey += identity.qualifier;
        if (!settings.getValue(kConsentSection, namedKey, value) &&
            !settings.getValue(kConsentSection, bareKey, value))
            return false;
        migrate = true;
    }
    value = trimmedValue(value);
    if (value.isEmpty())
        return false;
    *consented = value != "0";
    if (migrate)
        writePrivacyPolicyConsent(identity, *consented, settingsPath);
    return true;
}

bool writePrivacyPolicyConsent(const KyroProductIdentity& identity, bool consented)
{
    return writePrivacyPolicyConsent(identity, consented, userSettingsPath());
}

bool writePrivacyPolicyConsent(const KyroProductIdentity& identity, bool consented,
                               const TPath& settingsPath)
{
    CKyroUtilSettingsFile settings(true);
    const bool saved =
        settings.load(settingsPath) &&
        settings.setValue(kConsentSection, identity.qualifier, consented ? "1" : "0") &&
        settings.save(settingsPath);
    // The user would be asked again, and nobody would know why.
    if (!saved)
        kyro::diagnostics::recordLibraryError(CKyroIntError::kConsentNotSaved, __FILE__, __LINE__);
    return saved;
}

}  // namespace kyrointutil
