// The system trust store searched by display name, and the one-time open of a web address
// (through a proxy of the test's own: no test reaches the real network).
#include "kyro/platform/trust_store.h"
#include "kyro/platform/web_request.h"

#include "TrustTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using kyro::platform::TrustStoreLookup;
using kyro::platform::WebRequestResult;

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
        {"gte-root.pem", "", missing},
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
        {"name-utf8.pem", "Kyro Pruefwurzel", missing},
    };
    TestTrustStore store;
    for (const auto& row : rows) {
        ASSERT_TRUE(store.hold({row.file})) << row.file;
        EXPECT_EQ(kyro::platform::findCertificateByDisplayName("AuthRoot", row.name.c_str()),
                  row.expected)
            << row.file << " looked up as \"" << row.name << "\"";
    }
}

TEST(WebRequest, OnlyHttpsIsOpenedAndASilentPeerIsGivenUpAtTheLimit)
{
    const struct { bool silent; const char* address; WebRequestResult result; } rows[] = {
        {false, "http://signin.norveldt.com/", WebRequestResult::AddressFailed},
        {false, "not an address", WebRequestResult::AddressFailed},
        {false, "https://signin.norveldt.com/", WebRequestResult::AddressFailed},
        {true, "https://signin.norveldt.com/", WebRequestResult::TimedOut},
    };
    kyro::platform::WebRequestWait wait;
    wait.limitMs = 500;
    for (const auto& row : rows) {
        const UnreachableNetwork network(row.silent);
        ASSERT_TRUE(network.active());
        EXPECT_TRUE(kyro::platform::openWebAddress("KyroTest/1.0", row.address, wait) == row.result)
            << row.address;
    }
}
