// The system's store of trusted certificates, searched for a certificate by its name.
//
// A certificate's simple display name is the one the Windows certificate dialogs show
// (CertGetNameStringW with CERT_NAME_SIMPLE_DISPLAY_TYPE): the subject's first common name,
// else its first organizational unit, else its first organization, else its first e-mail
// address attribute; else the first e-mail address (rfc822Name) of the subject alternative
// name extension; else the subject's first attribute. A certificate whose name is empty
// has none and never matches.
//
// Windows: the named system store of the current user (CertOpenSystemStoreW with no
// cryptographic provider), every certificate in it, names of up to 255 characters.
//
// POSIX: the trust store OpenSSL verifies against, read with OpenSSL's own rules. The
// bundle file named by SSL_CERT_FILE, else OpenSSL's default file; and the hashed
// certificate folders ("<8 hex digits>.<n>" files) named by SSL_CERT_DIR (a ":" list), else
// OpenSSL's default folder. The certificates are the PEM "CERTIFICATE", "X509 CERTIFICATE"
// and "TRUSTED CERTIFICATE" blocks of those files; a file reached twice (the links of a
// hashed folder, a bundle inside the folder) counts once. There is one such store, so the
// store name is not used. It cannot be opened when neither the file nor any folder can be
// read, or when libcrypto cannot be loaded (it is loaded at the first search, so that
// loading this library does not pay for it).
#ifndef KYRO_PLATFORM_TRUST_STORE_H
#define KYRO_PLATFORM_TRUST_STORE_H

namespace kyro::platform {

enum class TrustStoreLookup {
    StoreNotOpened,   // the store could not be opened
    Found,            // a certificate with that name is in the store
    NotFound,         // the store was searched and holds none
    Failed            // the search broke off (out of memory, a system fault)
};

// Looks in the system store `storeName` (UTF-8) for a certificate whose simple display name
// is `displayName` (UTF-8), compared exactly: whole text, letter case counts.
TrustStoreLookup findCertificateByDisplayName(const char* storeName, const char* displayName);

}  // namespace kyro::platform

#endif
