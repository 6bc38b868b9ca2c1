// The system trust store and the network as the trust tests arrange them (POSIX: OpenSSL's and
// libcurl's variables; Windows: the user's "AuthRoot" store and proxy), put back at the end.
#ifndef KYRO_TESTS_TRUSTTESTSUPPORT_H
#define KYRO_TESTS_TRUSTTESTSUPPORT_H

#include <memory>
#include <string>
#include <vector>

// The store findCertificateByDisplayName() reads; certificates named by file in data/trust.
class TestTrustStore {
public:
    TestTrustStore();
    ~TestTrustStore();
    // The store holds these certificates instead of an earlier call's; false when it cannot.
    bool hold(const std::vector<std::string>& certificates);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// While it lives, web requests go to a local proxy port that refuses every connection.
class UnreachableNetwork {
public:
    UnreachableNetwork();
    ~UnreachableNetwork();
    // False when the proxy could not be put in place (the test must not go on).
    bool active() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

#endif
