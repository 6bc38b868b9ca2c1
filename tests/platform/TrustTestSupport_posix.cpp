// POSIX: the trust store is whatever OpenSSL's SSL_CERT_FILE and SSL_CERT_DIR name, and
// libcurl takes its proxy from https_proxy and HTTPS_PROXY.
#include "TrustTestSupport.h"

#include "FileBytes.h"
#include "ScopedVariable.h"
#include "TempFolder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

struct TestTrustStore::State {
    TempFolder files;
    ScopedVariable file{"SSL_CERT_FILE"};
    ScopedVariable folder{"SSL_CERT_DIR", nativePath(files / "no-such-folder").string().c_str()};
    int arrangement = 0;
};

TestTrustStore::TestTrustStore() : m_state(new State) {}

TestTrustStore::~TestTrustStore() = default;

// A fresh file each time, so that nothing of an earlier arrangement is seen.
bool TestTrustStore::hold(const std::vector<std::string>& certificates)
{
    std::string bundle = "\n";
    for (const std::string& name : certificates) {
        const std::string text = readFileBytes(TStr(KYRO_TEST_SOURCE_DIR "/data/trust/") + name.c_str());
        if (text.empty())
            return false;
        bundle += text;
    }
    const TPath path = m_state->files / ("bundle" + std::to_string(++m_state->arrangement)).c_str();
    writeFileBytes(path, bundle);
    return kyro::platform::setEnvironmentVariable("SSL_CERT_FILE", nativePath(path).string().c_str());
}

struct UnreachableNetwork::State {
    ScopedVariable proxies[4] = {ScopedVariable("https_proxy"), ScopedVariable("HTTPS_PROXY"),
                                 ScopedVariable("no_proxy"), ScopedVariable("NO_PROXY")};
    int socket = -1;
    bool active = false;
};

UnreachableNetwork::UnreachableNetwork() : m_state(new State)
{
    // Bound but not listening: every connection is refused.
    m_state->socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_state->socket < 0 ||
        ::bind(m_state->socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_state->socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    const std::string proxy = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    using kyro::platform::setEnvironmentVariable;
    m_state->active = setEnvironmentVariable("https_proxy", proxy.c_str()) &&
                      setEnvironmentVariable("HTTPS_PROXY", proxy.c_str()) &&
                      setEnvironmentVariable("no_proxy", nullptr) &&
                      setEnvironmentVariable("NO_PROXY", nullptr);
}

UnreachableNetwork::~UnreachableNetwork()
{
    if (m_state->socket >= 0)
        ::close(m_state->socket);
}

bool UnreachableNetwork::active() const
{
    return m_state->active;
}
