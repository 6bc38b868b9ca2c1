// The system trust store and the network as the root certificate tests need them, one
// implementation per platform (the build picks it). POSIX points OpenSSL's variables and
// libcurl's proxy variables at files and ports of the test's own; Windows changes the
// current user's "AuthRoot" store and proxy settings. Everything is put back when the
// object goes.
#ifndef KYRO_TESTS_RESOURCES_TRUSTTESTSUPPORT_H
#define KYRO_TESTS_RESOURCES_TRUSTTESTSUPPORT_H

#include <memory>
#include <string>
#include <vector>

// The store that kyrointutil::checkC7Certificate() and findCertificateByDisplayName() read.
// Certificates are named by their file in tests/data/trust.
class TestTrustStore {
public:
    TestTrustStore();
    ~TestTrustStore();
    TestTrustStore(const TestTrustStore&) = delete;
    TestTrustStore& operator=(const TestTrustStore&) = delete;

    // The store holds these certificates, in place of what an earlier call put there
    // (Windows: besides what the store held before, which is none under Wine). False when
    // they could not be put there.
    bool hold(const std::vector<std::string>& certificates);
    // As hold(), one certificate per file in a certificate folder where the platform's
    // store has that form as well (OpenSSL's hashed folders); elsewhere just hold().
    bool holdInFolder(const std::vector<std::string>& certificates);
    // The store cannot be opened.
    bool makeUnopenable();

    struct State;

private:
    std::unique_ptr<State> m_state;
};

// While it lives, web requests go to a proxy on this machine whose port refuses every
// connection, so nothing goes out to the network and every request fails at once; or, when
// `silent`, one that takes every connection and never answers.
class UnreachableNetwork {
public:
    explicit UnreachableNetwork(bool silent = false);
    ~UnreachableNetwork();
    UnreachableNetwork(const UnreachableNetwork&) = delete;
    UnreachableNetwork& operator=(const UnreachableNetwork&) = delete;

    // False when the proxy could not be put in place (the test must not go on).
    bool active() const;

    struct State;

private:
    std::unique_ptr<State> m_state;
};

// The text of a test certificate file.
std::string testCertificate(const std::string& name);

#endif
