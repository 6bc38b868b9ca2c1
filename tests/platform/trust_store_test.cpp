// The system trust store searched by display name (the web request is the root certificate's).
#include "kyro/platform/trust_store.h"

#include "TrustTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using kyro::platform::TrustStoreLookup;

TEST(TrustStore, FindsACertificateByItsSimpleDisplayNameExactly)
{
    const std::string root = "GTE CyberTrust Global Root";
    const TrustStoreLookup found = TrustStoreLookup::Found, missing = TrustStoreLookup::NotFound;
    const struct {
        const char* file;
        std::string name;
        TrustStoreLookup expected;
    } rows[] = {
        {"gte-root.pem", "GTE CyberTrust Global", missing},
        {"gte-root.pem", root + " ", missing},
        {"gte-root-other-case.pem", "GTE Cybertrust Global Root", found},
        // The common name first, then the unit, the organisation, the e-mail address.
        {"name-from-unit.pem", root, found},
        {"name-from-common-name.pem", "Kyro Test Named Root", found},
        {"name-from-email.pem", "roots@example.com", found},
        {"name-from-email.pem", "US", missing},
        {"name-from-alt-name.pem", "roots@example.org", found},   // the alternative name's
        {"name-printable.pem", root, found},                      // every text encoding
        {"name-bmp.pem", root, found},
        {"name-utf8.pem", u8"Kyro Pr\u00fcfwurzel", found},
    };
    TestTrustStore store;
    for (const auto& row : rows) {
        ASSERT_TRUE(store.hold({row.file})) << row.file;
        EXPECT_EQ(kyro::platform::findCertificateByDisplayName("AuthRoot", row.name.c_str()),
                  row.expected)
            << row.file << " looked up as \"" << row.name << "\"";
    }
}
