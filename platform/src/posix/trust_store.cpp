// The trust store OpenSSL verifies against, searched for a certificate by its simple display
// name.
//
// The search runs before every companion launch, so it must stay cheap on a full system
// store (some 150 certificates, each in a bundle and again in a hashed folder). A
// certificate is therefore not parsed as a whole: its PEM text is decoded and only the DER
// path down to the subject name is walked (and to the extensions, in the rare case that the
// subject has none of the attributes a display name is taken from). libcrypto supplies the
// store's locations, the base64 decoding and the attribute text conversion; it is loaded at
// the first search, because linking it would cost every host that loads this library
// about as much again as loading the library itself.
#include "kyro/platform/trust_store.h"

#include "posix_support.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef KYRO_LIBCRYPTO_NAME
#define KYRO_LIBCRYPTO_NAME "libcrypto.so.3"
#endif

namespace kyro::platform {

namespace {

// The few libcrypto functions the search uses, looked up once and kept: libcrypto cannot be
// unloaded anyway (it is built to stay once loaded).
struct Crypto {
    decltype(&X509_get_default_cert_file) defaultCertFile = nullptr;
    decltype(&X509_get_default_cert_dir) defaultCertDir = nullptr;
    decltype(&X509_get_default_cert_file_env) certFileVariable = nullptr;
    decltype(&X509_get_default_cert_dir_env) certDirVariable = nullptr;
    decltype(&EVP_DecodeBlock) decodeBase64 = nullptr;
    decltype(&ASN1_STRING_type_new) newString = nullptr;
    decltype(&ASN1_STRING_set) setString = nullptr;
    decltype(&ASN1_STRING_to_UTF8) stringToUtf8 = nullptr;
    decltype(&ASN1_STRING_free) freeString = nullptr;
    decltype(&CRYPTO_free) freeMemory = nullptr;

    bool loaded() const { return freeMemory != nullptr; }
};

Crypto loadCrypto()
{
    Crypto crypto;
    void* library = ::dlopen(KYRO_LIBCRYPTO_NAME, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return crypto;
    Crypto found;
    if (posix::lookUpSymbol(library, "X509_get_default_cert_file", &found.defaultCertFile) &&
        posix::lookUpSymbol(library, "X509_get_default_cert_dir", &found.defaultCertDir) &&
        posix::lookUpSymbol(library, "X509_get_default_cert_file_env", &found.certFileVariable) &&
        posix::lookUpSymbol(library, "X509_get_default_cert_dir_env", &found.certDirVariable) &&
        posix::lookUpSymbol(library, "EVP_DecodeBlock", &found.decodeBase64) &&
        posix::lookUpSymbol(library, "ASN1_STRING_type_new", &found.newString) &&
        posix::lookUpSymbol(library, "ASN1_STRING_set", &found.setString) &&
        posix::lookUpSymbol(library, "ASN1_STRING_to_UTF8", &found.stringToUtf8) &&
        posix::lookUpSymbol(library, "ASN1_STRING_free", &found.freeString) &&
        posix::lookUpSymbol(library, "CRYPTO_free", &found.freeMemory))
        crypto = found;
    // The handle stays open: the functions are used for the rest of the process.
    return crypto;
}

const Crypto& crypto()
{
    static const Crypto loaded = loadCrypto();
    return loaded;
}

// ---- DER, as far as the subject name and the extensions of a certificate ----

struct Span {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

struct Element {
    std::uint8_t tag = 0;
    Span content;
};

// Takes the next element (single-byte tag, definite length) off the front of `in`.
bool nextElement(Span* in, Element* element)
{
    if (in->size < 2)
        return false;
    const std::uint8_t* p = in->data;
    const std::uint8_t* end = in->data + in->size;
    const std::uint8_t tag = *p++;
    if ((tag & 0x1f) == 0x1f)   // high tag numbers do not occur in what we read
        return false;
    std::size_t length = *p++;
    if (length & 0x80) {
        const std::size_t bytes = length & 0x7f;
        if (bytes == 0 || bytes > 4 || static_cast<std::size_t>(end - p) < bytes)
            return false;
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            length = (length << 8) | *p++;
    }
    if (static_cast<std::size_t>(end - p) < length)
        return false;
    element->tag = tag;
    element->content = {p, length};
    in->data = p + length;
    in->size = static_cast<std::size_t>(end - (p + length));
    return true;
}

bool nextElement(Span* in, std::uint8_t tag, Element* element)
{
    return nextElement(in, element) && element->tag == tag;
}

constexpr std::uint8_t kSequence = 0x30;
constexpr std::uint8_t kSet = 0x31;
constexpr std::uint8_t kObjectId = 0x06;
constexpr std::uint8_t kOctetString = 0x04;
constexpr std::uint8_t kBoolean = 0x01;
constexpr std::uint8_t kVersionTag = 0xa0;      // [0] EXPLICIT version
constexpr std::uint8_t kExtensionsTag = 0xa3;   // [3] EXPLICIT extensions
constexpr std::uint8_t kRfc822NameTag = 0x81;   // [1] IMPLICIT IA5String in GeneralName

// The encoded object identifiers (contents only) the display name is made from, in order.
const std::uint8_t kCommonName[] = {0x55, 0x04, 0x03};
const std::uint8_t kOrganizationalUnit[] = {0x55, 0x04, 0x0b};
const std::uint8_t kOrganization[] = {0x55, 0x04, 0x0a};
const std::uint8_t kEmailAddress[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x01};
const std::uint8_t kSubjectAltName[] = {0x55, 0x1d, 0x11};

template <std::size_t N>
bool isObjectId(const Span& content, const std::uint8_t (&id)[N])
{
    return content.size == N && std::memcmp(content.data, id, N) == 0;
}

struct Certificate {
    Span subject;      // contents of the subject Name
    Span extensions;   // contents of the Extensions SEQUENCE; empty when there are none
    bool complete = false;   // the whole certificate was there, extensions included
};

// Opens a constructed element whose contents may run past the end of `in` (a certificate
// decoded only as far as its subject): `content` is what is there of them, and `cut` is set
// when that is not all.
bool enterElement(Span in, std::uint8_t tag, Span* content, bool* cut)
{
    if (in.size < 2 || in.data[0] != tag)
        return false;
    std::size_t length = in.data[1];
    std::size_t headerSize = 2;
    if (length & 0x80) {
        const std::size_t bytes = length & 0x7f;
        if (bytes == 0 || bytes > 4 || in.size < 2 + bytes)
            return false;
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            length = (length << 8) | in.data[2 + i];
        headerSize += bytes;
    }
    const std::size_t there = in.size - headerSize;
    *cut = *cut || length > there;
    *content = {in.data + headerSize, length < there ? length : there};
    return true;
}

// Walks a DER certificate, or the decoded front part of one, down to its subject name and,
// when they are there, its extensions. False when the subject is not (all) there.
bool readCertificate(Span der, Certificate* certificate)
{
    bool cut = false;
    Span outer, fields;
    if (!enterElement(der, kSequence, &outer, &cut) ||
        !enterElement(outer, kSequence, &fields, &cut))
        return false;
    Element element;
    Span rest = fields;
    if (!nextElement(&rest, &element))
        return false;
    if (element.tag == kVersionTag)
        fields = rest;
    // serialNumber, signature, issuer, validity, then the subject.
    for (int skipped = 0; skipped < 4; ++skipped) {
        if (!nextElement(&fields, &element))
            return false;
    }
    if (!nextElement(&fields, kSequence, &element))
        return false;
    certificate->subject = element.content;
    certificate->extensions = Span();
    certificate->complete = !cut;
    // subjectPublicKeyInfo, the optional unique identifiers, then the optional extensions.
    while (!cut && fields.size > 0 && nextElement(&fields, &element)) {
        if (element.tag == kExtensionsTag) {
            Element sequence;
            Span inner = element.content;
            if (nextElement(&inner, kSequence, &sequence))
                certificate->extensions = sequence.content;
            break;
        }
    }
    return true;
}

struct Value {
    int type = -1;   // the universal tag of the string, V_ASN1_*
    Span bytes;
};

// The first attribute of the name (in encoded order) with that type; any type when `id` is
// null.
template <std::size_t N>
bool findAttribute(Span name, const std::uint8_t (*id)[N], Value* value)
{
    Element rdn;
    while (name.size > 0 && nextElement(&name, kSet, &rdn)) {
        Span attributes = rdn.content;
        Element attribute;
        while (attributes.size > 0 && nextElement(&attributes, kSequence, &attribute)) {
            Span parts = attribute.content;
            Element type, content;
            if (!nextElement(&parts, kObjectId, &type) || !nextElement(&parts, &content))
                return false;
            if (id == nullptr || isObjectId(type.content, *id)) {
                value->type = content.tag;
                value->bytes = content.content;
                return true;
            }
        }
    }
    return false;
}

// The first rfc822Name of the subject alternative name extension.
bool findAltNameEmail(Span extensions, Value* value)
{
    Element extension;
    while (extensions.size > 0 && nextElement(&extensions, kSequence, &extension)) {
        Span parts = extension.content;
        Element id, element;
        if (!nextElement(&parts, kObjectId, &id) || !isObjectId(id.content, kSubjectAltName))
            continue;
        if (!nextElement(&parts, &element))
            return false;
        if (element.tag == kBoolean && !nextElement(&parts, &element))   // critical
            return false;
        Element names;
        Span octets = element.content;
        if (element.tag != kOctetString || !nextElement(&octets, kSequence, &names))
            return false;
        Span list = names.content;
        Element name;
        while (list.size > 0 && nextElement(&list, &name)) {
            if (name.tag == kRfc822NameTag) {
                value->type = V_ASN1_IA5STRING;
                value->bytes = name.content;
                return true;
            }
        }
        return false;
    }
    return false;
}

enum class NameMatch { Yes, No, NeedWhole };

// Whether the attribute's text is `wanted`. An empty text is no name and never matches.
bool valueIs(const Crypto& crypto, const Value& value, const std::string& wanted)
{
    if (value.bytes.size == 0 || wanted.empty())
        return false;
    // The common case, a name in ASCII in one of the string types that keep ASCII as it is,
    // is compared as it stands.
    switch (value.type) {
    case V_ASN1_UTF8STRING:
    case V_ASN1_NUMERICSTRING:
    case V_ASN1_PRINTABLESTRING:
    case V_ASN1_T61STRING:
    case V_ASN1_IA5STRING:
    case V_ASN1_VISIBLESTRING: {
        bool ascii = true;
        for (std::size_t i = 0; i < value.bytes.size && ascii; ++i)
            ascii = value.bytes.data[i] < 0x80;
        if (ascii)
            return value.bytes.size == wanted.size() &&
                   std::memcmp(value.bytes.data, wanted.data(), wanted.size()) == 0;
        break;
    }
    default:
        break;
    }
    if (value.bytes.size > 0x7fffffff)
        return false;
    // Anything else (BMP and universal strings, non-ASCII text) becomes UTF-8 the way
    // OpenSSL's own name printing makes it; types that are not text give none.
    bool same = false;
    ASN1_STRING* string = crypto.newString(value.type);
    if (string == nullptr)
        return false;
    unsigned char* utf8 = nullptr;
    if (crypto.setString(string, value.bytes.data, static_cast<int>(value.bytes.size)) == 1) {
        const int length = crypto.stringToUtf8(&utf8, string);
        same = length > 0 && static_cast<std::size_t>(length) == wanted.size() &&
               std::memcmp(utf8, wanted.data(), wanted.size()) == 0;
    }
    if (utf8 != nullptr)
        crypto.freeMemory(utf8, __FILE__, __LINE__);
    crypto.freeString(string);
    return same;
}

// Whether the certificate's simple display name is `wanted`; NeedWhole when that depends on
// the extensions and the certificate was read only as far as its subject.
NameMatch displayNameIs(const Crypto& crypto, const Certificate& certificate,
                        const std::string& wanted)
{
    Value value;
    if (findAttribute(certificate.subject, &kCommonName, &value) ||
        findAttribute(certificate.subject, &kOrganizationalUnit, &value) ||
        findAttribute(certificate.subject, &kOrganization, &value) ||
        findAttribute(certificate.subject, &kEmailAddress, &value))
        return valueIs(crypto, value, wanted) ? NameMatch::Yes : NameMatch::No;
    if (!certificate.complete)
        return NameMatch::NeedWhole;
    const std::uint8_t(*anyType)[3] = nullptr;
    if (findAltNameEmail(certificate.extensions, &value) ||
        findAttribute(certificate.subject, anyType, &value))
        return valueIs(crypto, value, wanted) ? NameMatch::Yes : NameMatch::No;
    return NameMatch::No;
}

// ---- PEM files ----

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Decodes the base64 body [begin, end) of a PEM block, whitespace left out, as far as its
// first `limit` characters (a multiple of 4). False when it is not valid base64; *whole
// tells whether all of it was decoded.
bool decodeBody(const Crypto& crypto, const char* begin, const char* end, std::size_t limit,
                std::string* base64, std::vector<unsigned char>* der, bool* whole)
{
    const std::size_t room = static_cast<std::size_t>(end - begin);
    base64->resize(room < limit ? room : limit);
    char* out = &(*base64)[0];
    char* const full = out + base64->size();
    const char* p = begin;
    for (; p != end && out != full; ++p) {
        // Without a branch: a space is written and then written over.
        *out = *p;
        out += isSpace(*p) ? 0 : 1;
    }
    base64->resize(static_cast<std::size_t>(out - base64->data()));
    while (p != end && isSpace(*p))
        ++p;
    *whole = p == end;
    if (base64->empty() || base64->size() % 4 != 0 || base64->size() > 0x7fffffff)
        return false;
    der->resize(base64->size() / 4 * 3);
    const int decoded =
        crypto.decodeBase64(der->data(), reinterpret_cast<const unsigned char*>(base64->data()),
                            static_cast<int>(base64->size()));
    if (decoded < 0)
        return false;
    // The decoder counts the bytes that "=" padding stands for; they are not data.
    std::size_t size = static_cast<std::size_t>(decoded);
    for (std::size_t i = base64->size(); i > 0 && (*base64)[i - 1] == '=' && size > 0; --i)
        --size;
    der->resize(size);
    return true;
}

// Whether a certificate in `pem` has the wanted name. Blocks that are not certificates, and
// certificates that cannot be decoded, are passed over as OpenSSL's own loading does.
bool pemHoldsName(const Crypto& crypto, const std::string& pem, const std::string& wanted)
{
    // Enough base64 for the subject of every root in a common system store (576 bytes of
    // DER; the longest there ends at byte 489). The rest, most of the text, is decoded only
    // when the subject is not all in it or the name depends on the extensions.
    constexpr std::size_t kFrontPart = 768;
    static const char kBegin[] = "-----BEGIN ";
    static const char kEnd[] = "-----END ";
    std::string base64;
    std::vector<unsigned char> der;
    std::size_t at = 0;
    while ((at = pem.find(kBegin, at)) != std::string::npos) {
        const std::size_t labelStart = at + sizeof kBegin - 1;
        const std::size_t labelEnd = pem.find("-----", labelStart);
        if (labelEnd == std::string::npos)
            return false;
        const std::size_t bodyStart = labelEnd + 5;
        const std::size_t bodyEnd = pem.find(kEnd, bodyStart);
        if (bodyEnd == std::string::npos)
            return false;
        at = bodyEnd + sizeof kEnd - 1;
        const std::string label = pem.substr(labelStart, labelEnd - labelStart);
        if (label != "CERTIFICATE" && label != "X509 CERTIFICATE" && label != "TRUSTED CERTIFICATE")
            continue;

        const char* begin = pem.data() + bodyStart;
        const char* end = pem.data() + bodyEnd;
        bool whole = false;
        Certificate certificate;
        NameMatch match = NameMatch::NeedWhole;
        if (decodeBody(crypto, begin, end, kFrontPart, &base64, &der, &whole) &&
            readCertificate({der.data(), der.size()}, &certificate))
            match = displayNameIs(crypto, certificate, wanted);
        if (match == NameMatch::NeedWhole && !whole &&
            decodeBody(crypto, begin, end, static_cast<std::size_t>(-1), &base64, &der, &whole) &&
            readCertificate({der.data(), der.size()}, &certificate))
            match = displayNameIs(crypto, certificate, wanted);
        if (match == NameMatch::Yes)
            return true;
    }
    return false;
}

// A file counts once however it is reached (hashed folders are links to the same files, and
// the bundle may sit in the folder too).
using FileId = std::pair<dev_t, ino_t>;

enum class FileRead { Unreadable, AlreadySeen, Read };

// `path` is taken from `folder` (a descriptor, or AT_FDCWD).
FileRead readFile(int folder, const char* path, std::vector<FileId>* seen, std::string* contents)
{
    // A trust store of this size is not a trust store; the cap keeps a stray link to a huge
    // file from taking the memory.
    constexpr off_t kLargest = 64 * 1024 * 1024;
    const int file = ::openat(folder, path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (file < 0)
        return FileRead::Unreadable;
    struct stat status;
    FileRead result = FileRead::Unreadable;
    if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= kLargest) {
        const FileId id(status.st_dev, status.st_ino);
        bool known = false;
        for (const FileId& other : *seen)
            known = known || other == id;
        if (known) {
            result = FileRead::AlreadySeen;
        } else {
            seen->push_back(id);
            contents->resize(static_cast<std::size_t>(status.st_size));
            std::size_t done = 0;
            while (done < contents->size()) {
                const ssize_t got = ::read(file, &(*contents)[done], contents->size() - done);
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    break;
                done += static_cast<std::size_t>(got);
            }
            contents->resize(done);
            result = FileRead::Read;
        }
    }
    ::close(file);
    return result;
}

// OpenSSL's hashed folder entries: eight hex digits of the subject hash, ".", a number.
bool isHashedName(const char* name)
{
    for (int i = 0; i < 8; ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    if (name[8] != '.' || name[9] == '\0')
        return false;
    for (const char* p = name + 9; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
    }
    return true;
}

// OpenSSL ignores its variables in set-user-id programs; so do we.
const char* storeVariable(const char* name)
{
    return name != nullptr ? ::secure_getenv(name) : nullptr;
}

}  // namespace

TrustStoreLookup findCertificateByDisplayName(const char* /*storeName*/, const char* displayName)
{
    try {
        const Crypto& functions = crypto();
        if (!functions.loaded())
            return TrustStoreLookup::StoreNotOpened;
        const std::string wanted = displayName != nullptr ? displayName : "";

        const char* file = storeVariable(functions.certFileVariable());
        if (file == nullptr)
            file = functions.defaultCertFile();
        const char* folders = storeVariable(functions.certDirVariable());
        if (folders == nullptr)
            folders = functions.defaultCertDir();

        bool opened = false;
        std::vector<FileId> seen;
        std::string contents;
        if (file != nullptr && readFile(AT_FDCWD, file, &seen, &contents) == FileRead::Read) {
            opened = true;
            if (pemHoldsName(functions, contents, wanted))
                return TrustStoreLookup::Found;
        }

        const std::string list = folders != nullptr ? folders : "";
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(':', start);
            if (end == std::string::npos)
                end = list.size();
            const std::string folder = list.substr(start, end - start);
            start = end + 1;
            if (folder.empty())
                continue;
            DIR* entries = ::opendir(folder.c_str());
            if (entries == nullptr)
                continue;
            opened = true;
            bool found = false;
            while (!found) {
                const dirent* entry = ::readdir(entries);
                if (entry == nullptr)
                    break;
                if (!isHashedName(entry->d_name))
                    continue;
                if (readFile(::dirfd(entries), entry->d_name, &seen, &contents) == FileRead::Read)
                    found = pemHoldsName(functions, contents, wanted);
            }
            ::closedir(entries);
            if (found)
                return TrustStoreLookup::Found;
        }
        return opened ? TrustStoreLookup::NotFound : TrustStoreLookup::StoreNotOpened;
    } catch (...) {
        return TrustStoreLookup::Failed;
    }
}

}  // namespace kyro::platform
