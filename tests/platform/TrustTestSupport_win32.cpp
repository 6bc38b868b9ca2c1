// Windows: the user's "AuthRoot" store, changed through its registry provider (removals
// through the system store do not last under Wine), and WinINet's proxy in Internet Settings.
#include "TrustTestSupport.h"

#include "FileBytes.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

const wchar_t kStore[] = L"AuthRoot";
const wchar_t kStoreKey[] = L"Software\\Microsoft\\SystemCertificates\\AuthRoot";
const wchar_t kInternetSettings[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::vector<BYTE> derOf(const std::string& pem)
{
    DWORD size = 0;
    if (pem.empty() ||
        !::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        return {};
    std::vector<BYTE> der(size);
    if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr))
        return {};
    der.resize(size);
    return der;
}

HCERTSTORE openUserStore()
{
    return ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                           CERT_SYSTEM_STORE_CURRENT_USER, kStore);
}

// Removes the certificate from the store if it is there.
void removeFrom(HCERTSTORE store, const std::vector<BYTE>& der)
{
    const PCCERT_CONTEXT wanted = ::CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (wanted == nullptr)
        return;
    const PCCERT_CONTEXT found = ::CertFindCertificateInStore(
        store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
    if (found != nullptr)
        ::CertDeleteCertificateFromStore(found);   // releases `found`
    ::CertFreeCertificateContext(wanted);
}

// A registry value as it was, put back (or removed again) later.
struct SavedValue {
    explicit SavedValue(const wchar_t* valueName) : name(valueName) {}

    const wchar_t* name;
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> data;

    void save(HKEY key)
    {
        DWORD size = 0;
        present = ::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
        data.resize(size);
        if (present && size > 0)
            present = ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) ==
                      ERROR_SUCCESS;
    }
    void restore(HKEY key) const
    {
        if (present)
            ::RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
        else
            ::RegDeleteValueW(key, name);
    }
};

}  // namespace

static std::string testCertificate(const std::string& name)
{
    return readFileBytes(TStr(KYRO_TEST_SOURCE_DIR "/data/trust/") + name.c_str());
}

struct TestTrustStore::State {
    std::vector<std::vector<BYTE>> added;
    std::vector<BYTE> savedSecurity;   // the store key's access list while it is taken away

    // Takes out what we put in, and any test certificate an earlier run left behind.
    void removeAll()
    {
        restoreAccess();
        const HCERTSTORE store = openUserStore();
        if (store == nullptr)
            return;
        for (const std::vector<BYTE>& der : added)
            removeFrom(store, der);
        added.clear();
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(
                 std::filesystem::u8path(KYRO_TEST_SOURCE_DIR "/data/trust"), error)) {
            if (entry.path().extension() == ".pem")
                removeFrom(store, derOf(readFileBytes(TStr(entry.path().u8string().c_str()))));
        }
        ::CertCloseStore(store, 0);
    }

    void restoreAccess()
    {
        if (savedSecurity.empty())
            return;
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, kStoreKey, 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
            ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION,
                                reinterpret_cast<PSECURITY_DESCRIPTOR>(savedSecurity.data()));
            ::RegCloseKey(key);
        }
        savedSecurity.clear();
    }
};

TestTrustStore::TestTrustStore() : m_state(new State)
{
    m_state->removeAll();
}

TestTrustStore::~TestTrustStore()
{
    m_state->removeAll();
}

bool TestTrustStore::hold(const std::vector<std::string>& certificates)
{
    m_state->removeAll();
    const HCERTSTORE store = openUserStore();
    if (store == nullptr)
        return false;
    bool held = true;
    for (const std::string& name : certificates) {
        std::vector<BYTE> der = derOf(testCertificate(name));
        held = held && !der.empty() &&
               ::CertAddEncodedCertificateToStore(
                   store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                   static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        if (!der.empty())
            m_state->added.push_back(std::move(der));
    }
    ::CertCloseStore(store, 0);
    return held;
}

bool TestTrustStore::makeUnopenable()
{
    m_state->removeAll();
    // The store key with an empty access list: opening it for writing is refused.
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kStoreKey, 0, nullptr, 0, READ_CONTROL | WRITE_DAC,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    ::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> saved(size);
    bool done = size > 0 && ::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION,
                                                 saved.data(), &size) == ERROR_SUCCESS;
    if (done) {
        SECURITY_DESCRIPTOR descriptor;
        ACL empty;
        done = ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               ::InitializeAcl(&empty, sizeof empty, ACL_REVISION) &&
               ::SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE) &&
               ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
        if (done)
            m_state->savedSecurity = std::move(saved);
    }
    ::RegCloseKey(key);
    return done;
}

struct UnreachableNetwork::State {
    SOCKET socket = INVALID_SOCKET;
    bool started = false;
    bool active = false;
    HKEY settings = nullptr;
    SavedValue values[3] = {SavedValue(L"ProxyEnable"), SavedValue(L"ProxyServer"),
                            SavedValue(L"ProxyOverride")};
};

UnreachableNetwork::UnreachableNetwork(bool silent) : m_state(new State)
{
    WSADATA data;
    m_state->started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (!m_state->started)
        return;
    // Bound but not listening: refused. Listening: taken, and never accepted.
    m_state->socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (m_state->socket == INVALID_SOCKET ||
        ::bind(m_state->socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_state->socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        (silent && ::listen(m_state->socket, 16) != 0))
        return;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_state->settings,
                          nullptr) != ERROR_SUCCESS) {
        m_state->settings = nullptr;
        return;
    }
    for (SavedValue& value : m_state->values)
        value.save(m_state->settings);
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
        for (const SavedValue& value : m_state->values)
            value.restore(m_state->settings);
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
