#include "kyro/platform/trust_store.h"

#include "windows_support.h"

#include <wincrypt.h>

#include <string>

namespace kyro::platform {

TrustStoreLookup findCertificateByDisplayName(const char* storeName, const char* displayName)
{
    HCERTSTORE store = nullptr;
    try {
        const std::wstring name = win32::widen(storeName);
        const std::wstring wanted = win32::widen(displayName);

        store = ::CertOpenSystemStoreW(0, name.c_str());
        if (store == nullptr)
            return TrustStoreLookup::StoreNotOpened;

        bool found = false;
        PCCERT_CONTEXT certificate = nullptr;
        // Each call releases the certificate it is handed; the one we stop at is ours.
        while ((certificate = ::CertEnumCertificatesInStore(store, certificate)) != nullptr) {
            wchar_t text[256];
            const DWORD length = ::CertGetNameStringW(
                certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, text, 256);
            if (length <= 1)   // only the terminator: no name
                continue;
            if (wanted == text) {
                ::CertFreeCertificateContext(certificate);
                found = true;
                break;
            }
        }
        ::CertCloseStore(store, 0);
        return found ? TrustStoreLookup::Found : TrustStoreLookup::NotFound;
    } catch (...) {
        // Nothing between the open and the close throws; the guard is for the texts.
        if (store != nullptr)
            ::CertCloseStore(store, 0);
        return TrustStoreLookup::Failed;
    }
}

}  // namespace kyro::platform
