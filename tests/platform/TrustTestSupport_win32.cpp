// Windows: the user's "AuthRoot" store, changed through its registry provider (removals
// through the system store do not last under Wine), and WinINet's proxy in Internet Settings.
#include "TrustTestSupport.h"

#include "FileBytes.h"

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::vector<BYTE> testCertificate(const std::string& name)
{
    const std::string pem = readFileBytes(TStr(KYRO_TEST_SOURCE_DIR "/data/trust/") + name.c_str());
    DWORD size = static_cast<DWORD>(pem.size());
    std::vector<BYTE> der(size);
    if (pem.empty() || !::CryptStringToBinaryA(pem.c_str(), size, CRYPT_STRING_BASE64HEADER,
                                               der.data(), &size, nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

HCERTSTORE openUserStore()
{
    return ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                           CERT_SYSTEM_STORE_CURRENT_USER, L"AuthRoot");
}

}  // namespace

// Takes out every test certificate at the start and the end, also those an earlier run left.
struct TestTrustStore::State {
    State() { removeAll(); }
    ~State() { removeAll(); }

    void removeAll()
    {
        const HCERTSTORE store = openUserStore();
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(
                 std::filesystem::u8path(KYRO_TEST_SOURCE_DIR "/data/trust"), error)) {
            const std::vector<BYTE> der = testCertificate(entry.path().filename().u8string());
            const PCCERT_CONTEXT wanted = der.empty() ? nullptr
                : ::CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size()));
            const PCCERT_CONTEXT found = store == nullptr || wanted == nullptr ? nullptr
                : ::CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_EXISTING, wanted, nullptr);
            if (found != nullptr)
                ::CertDeleteCertificateFromStore(found);  // releases `found`
            if (wanted != nullptr)
                ::CertFreeCertificateContext(wanted);
        }
        if (store != nullptr)
            ::CertCloseStore(store, 0);
    }
};

TestTrustStore::TestTrustStore() : m_state(new State) {}

TestTrustStore::~TestTrustStore() = default;

bool TestTrustStore::hold(const std::vector<std::string>& certificates)
{
    m_state->removeAll();
    const HCERTSTORE store = openUserStore();
    bool held = store != nullptr;
    for (const std::string& name : certificates) {
        const std::vector<BYTE> der = testCertificate(name);
        held = held && !der.empty() &&
               ::CertAddEncodedCertificateToStore(store, kEncoding, der.data(),
                                                  static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    }
    if (store != nullptr)
        ::CertCloseStore(store, 0);
    return held;
}

struct UnreachableNetwork::State {
    SOCKET socket = INVALID_SOCKET;
    bool started = false;
    bool active = false;
    HKEY settings = nullptr;
    // The proxy values as they were.
    const wchar_t* names[3] = {L"ProxyEnable", L"ProxyServer", L"ProxyOverride"};
    bool present[3] = {};
    DWORD types[3] = {};
    std::vector<BYTE> values[3];
};

UnreachableNetwork::UnreachableNetwork() : m_state(new State)
{
    WSADATA data;
    m_state->started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    // Bound but not listening: every connection is refused.
    m_state->socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (m_state->socket == INVALID_SOCKET ||
        ::bind(m_state->socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_state->socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::RegCreateKeyExW(HKEY_CURRENT_USER,
                          L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                          nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_state->settings,
                          nullptr) != ERROR_SUCCESS)
        return;
    for (int i = 0; i < 3; ++i) {
        DWORD size = 65536;
        m_state->values[i].resize(size);
        m_state->present[i] = ::RegQueryValueExW(m_state->settings, m_state->names[i], nullptr,
                                                 &m_state->types[i], m_state->values[i].data(),
                                                 &size) == ERROR_SUCCESS;
        m_state->values[i].resize(size);
    }
    const DWORD enable = 1;
    const std::wstring server = L"127.0.0.1:" + std::to_wstring(ntohs(address.sin_port));
    m_state->active =
        ::RegSetValueExW(m_state->settings, L"ProxyEnable", 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&enable), sizeof enable) == ERROR_SUCCESS &&
        ::RegSetValueExW(m_state->settings, L"ProxyServer", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(server.c_str()),
                         static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t))) ==
            ERROR_SUCCESS &&
        (::RegDeleteValueW(m_state->settings, L"ProxyOverride"), true);
}

UnreachableNetwork::~UnreachableNetwork()
{
    if (m_state->settings != nullptr) {
        for (int i = 0; i < 3; ++i) {
            if (m_state->present[i])
                ::RegSetValueExW(m_state->settings, m_state->names[i], 0, m_state->types[i],
                                 m_state->values[i].data(), static_cast<DWORD>(m_state->values[i].size()));
            else
                ::RegDeleteValueW(m_state->settings, m_state->names[i]);
        }
        ::RegCloseKey(m_state->settings);
    }
    if (m_state->socket != INVALID_SOCKET)
        ::closesocket(m_state->socket);
    if (m_state->started)
        ::WSACleanup();
}

bool UnreachableNetwork::active() const
{
    return m_state->active;
}
