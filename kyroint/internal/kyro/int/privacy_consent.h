// Whether the user consented to the privacy policy, per product, kept in the user's
// settings file (section "PrivacyPolicyConsent", the product's qualifier as key, "1" or "0").
#ifndef KYRO_INT_PRIVACY_CONSENT_H
#define KYRO_INT_PRIVACY_CONSENT_H

#include "kyro/util/TPath.h"
#include "kyro/util/TStr.h"

namespace kyrointutil {

// A product as the caller names it; the qualifier is the key its consent is kept under.
struct KyroProductIdentity {
    TStr name;
    TStr qualifier;
};

// The user's settings file: the user-settings location (kLocationUserSettings) followed by
// "KyroUserSettings.xml". Empty when the location is not known.
TPath userSettingsPath();

// True when an answer is on record, with `*consented` false only for the value "0" (blanks
// around it ignored). An answer kept under an earlier key form, name ":" qualifier or else
// ":" qualifier, is found too, and written again under the qualifier alone (the old entry
// stays), so that whoever consented under it is not asked again. False, leaving
// `*consented` false, when the file cannot be read or holds no answer.
bool readPrivacyPolicyConsent(const KyroProductIdentity& identity, bool* consented);
bool readPrivacyPolicyConsent(const KyroProductIdentity& identity, bool* consented,
                              const TPath& settingsPath);

// Records the answer ("1" or "0"). True when the file was saved; otherwise the failure is
// recorded in the error log (CKyroIntError kConsentNotSaved).
bool writePrivacyPolicyConsent(const KyroProductIdentity& identity, bool consented);
bool writePrivacyPolicyConsent(const KyroProductIdentity& identity, bool consented,
                               const TPath& settingsPath);

}  // namespace kyrointutil

#endif
