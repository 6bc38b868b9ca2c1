#include "kyro/util/XmlFile.h"

#include "kyro/platform/filesystem.h"

#include <cstring>
#include <vector>

namespace kyro::util {

namespace {

// TinyXML's multi-byte reads may look a few bytes past the terminator.
constexpr std::size_t kPadding = 8;

// Where `marker` next starts at or after `from`, or `end`.
const char* findMarker(const char* from, const char* end, const char* marker)
{
    const std::size_t length = std::strlen(marker);
    for (const char* p = from; p + length <= end; ++p) {
        if (std::memcmp(p, marker, length) == 0)
            return p;
    }
    return end;
}

const char* after(const char* from, const char* end, const char* marker)
{
    const char* found = findMarker(from, end, marker);
    return found == end ? end : found + std::strlen(marker);
}

bool startsWith(const char* p, const char* end, const char* prefix)
{
    const std::size_t length = std::strlen(prefix);
    return static_cast<std::size_t>(end - p) >= length && std::memcmp(p, prefix, length) == 0;
}

}  // namespace

int xmlNestingDepth(const char* data, std::size_t size)
{
    const char* p = data;
    const char* const end = data + size;
    int depth = 0;
    int deepest = 0;
    while (p < end) {
        if (*p != '<') {
            ++p;
            continue;
        }
        if (startsWith(p, end, "<!--")) {
            p = after(p + 4, end, "-->");
        } else if (startsWith(p, end, "<![CDATA[")) {
            p = after(p + 9, end, "]]>");
        } else if (startsWith(p, end, "<?")) {
            p = after(p + 2, end, "?>");
        } else if (startsWith(p, end, "<!")) {
            // A declaration; an internal subset in brackets may hold ">" itself.
            const char* close = findMarker(p, end, ">");
            const char* bracket = findMarker(p, close, "[");
            p = bracket != close ? after(bracket, end, "]>") : after(p, end, ">");
        } else if (startsWith(p, end, "</")) {
            if (depth > 0)
                --depth;
            p = after(p + 2, end, ">");
        } else {
            // A start tag: find its end outside quoted attribute values.
            char quote = 0;
            const char* q = p + 1;
            for (; q < end; ++q) {
                if (quote != 0) {
                    if (*q == quote)
                        quote = 0;
                } else if (*q == '"' || *q == '\'') {
                    quote = *q;
                } else if (*q == '>') {
                    break;
                }
            }
            if (q >= end || q[-1] != '/') {
                if (++depth > deepest)
                    deepest = depth;
            }
            p = q < end ? q + 1 : end;
        }
    }
    return deepest;
}

bool parseXmlText(const char* data, std::size_t size, TiXmlDocument* document,
                  TiXmlEncoding encoding)
{
    document->Clear();
    // (An empty file comes with no buffer at all, which memchr must not be given.)
    if (data == nullptr || size == 0 || size > kXmlFileSizeLimit)
        return false;
    // The text ends at its first NUL, as it would for TinyXML.
    const void* nul = std::memchr(data, 0, size);
    if (nul != nullptr)
        size = static_cast<std::size_t>(static_cast<const char*>(nul) - data);
    if (size == 0 || xmlNestingDepth(data, size) > kXmlDepthLimit)
        return false;

    // Line ends as XML wants them: CR LF and a lone CR both become LF.
    std::vector<char> text(size + kPadding, '\0');
    std::size_t used = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\r') {
            text[used++] = '\n';
            if (i + 1 < size && data[i + 1] == '\n')
                ++i;
        } else {
            text[used++] = data[i];
        }
    }
    document->Parse(text.data(), nullptr, encoding);
    return !document->Error();
}

bool readXmlFile(std::FILE* file, TiXmlDocument* document, TiXmlEncoding encoding)
{
    document->Clear();
    if (file == nullptr)
        return false;
    std::vector<char> bytes;
    char chunk[16384];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        if (bytes.size() + got > kXmlFileSizeLimit)
            return false;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    if (std::ferror(file))
        return false;
    return parseXmlText(bytes.data(), bytes.size(), document, encoding);
}

bool readXmlFile(const TPath& path, TiXmlDocument* document, TiXmlEncoding encoding)
{
    std::FILE* file = kyro::platform::openFile(path.utf8(), "rb");
    if (file == nullptr) {
        document->Clear();
        return false;
    }
    const bool parsed = readXmlFile(file, document, encoding);
    std::fclose(file);
    return parsed;
}

bool isWellFormedUtf8(const char* text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        const unsigned char lead = *p;
        int following = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            ++p;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            following = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            following = 2;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            following = 3;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        ++p;
        for (int i = 0; i < following; ++i, ++p) {
            if (*p < low || *p > high)
                return false;
            low = 0x80;
            high = 0xBF;
        }
    }
    return true;
}

TStr firstTextOf(const TiXmlElement* element)
{
    if (element == nullptr)
        return TStr("");
    for (const TiXmlNode* child = element->FirstChild(); child != nullptr;
         child = child->NextSibling()) {
        if (const TiXmlText* text = child->ToText()) {
            const char* value = text->Value();
            if (value == nullptr || !isWellFormedUtf8(value))
                return TStr("");
            return TStr(value);
        }
    }
    return TStr("");
}

}  // namespace kyro::util
