#include "kyro/util/XmlFile.h"

#include "kyro/platform/filesystem.h"
#include "kyro/platform/text_encoding.h"

#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace kyro::util {

namespace {

// TinyXML's multi-byte reads may look a few bytes past the terminator.
constexpr std::size_t kPadding = 8;

// TinyXML 2.6.2's parser, step for step, without building anything: where it would stop,
// what it would take for markup and for text, and so how deep it would recurse and how
// many elements and attributes it would make. Each step mirrors one of the parser's own
// (character classes, entities, multi-byte steps and byte-order marks included), so that
// nesting cannot hide in something the two would read differently: a processing
// instruction or a "<!" declaration ends at its first ">", an entity may run over a quote
// or a "<" up to the next ";", a multi-byte lead byte takes the bytes after it along. Where the
// parser would fail, the walk stops too; it also stops as soon as a bound is passed, so its
// own recursion never goes deeper than kXmlDepthLimit + 1.
class ParseWalk {
public:
    explicit ParseWalk(bool stopAtBounds) : m_stopAtBounds(stopAtBounds) {}

    void document(const char* p, TiXmlEncoding encoding)
    {
        if (p == nullptr || *p == 0)
            return;
        if (encoding == TIXML_ENCODING_UNKNOWN && isByteOrderMark(p))
            encoding = TIXML_ENCODING_UTF8;
        p = skipWhiteSpace(p, encoding);
        while (p != nullptr && *p != 0 && !m_stopped) {
            const Kind kind = identify(p, encoding);
            if (kind == Kind::None)
                break;
            std::string declaredEncoding;
            p = node(kind, p, encoding, 1, &declaredEncoding);
            if (encoding == TIXML_ENCODING_UNKNOWN && kind == Kind::Declaration)
                encoding = encodingNamed(declaredEncoding);
            p = skipWhiteSpace(p, encoding);
        }
    }

    XmlCounts counts;

private:
    enum class Kind { None, Declaration, Comment, CData, Unknown, Element };

    static bool isByteOrderMark(const char* p)
    {
        const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
        return u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF;
    }

    static bool isWhiteSpace(char c)
    {
        return std::isspace(static_cast<unsigned char>(c)) || c == '\n' || c == '\r';
    }

    static int isAlpha(unsigned char c) { return c < 127 ? std::isalpha(c) : 1; }
    static int isAlphaNum(unsigned char c) { return c < 127 ? std::isalnum(c) : 1; }

    // Called with a plain char promoted to int, as the parser does.
    static int toLower(int v, TiXmlEncoding encoding)
    {
        if (encoding == TIXML_ENCODING_UTF8)
            return v < 128 ? std::tolower(v) : v;
        return std::tolower(v);
    }

    static bool stringEqual(const char* p, const char* tag, bool ignoreCase,
                            TiXmlEncoding encoding)
    {
        if (p == nullptr || *p == 0)
            return false;
        if (ignoreCase) {
            while (*p != 0 && *tag != 0 && toLower(*p, encoding) == toLower(*tag, encoding)) {
                ++p;
                ++tag;
            }
        } else {
            while (*p != 0 && *tag != 0 && *p == *tag) {
                ++p;
                ++tag;
            }
        }
        return *tag == 0;
    }

    static const char* skipWhiteSpace(const char* p, TiXmlEncoding encoding)
    {
        if (p == nullptr || *p == 0)
            return nullptr;
        if (encoding == TIXML_ENCODING_UTF8) {
            while (*p != 0) {
                const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
                if (u[0] == 0xEF &&
                    ((u[1] == 0xBB && u[2] == 0xBF) || (u[1] == 0xBF && u[2] == 0xBE) ||
                     (u[1] == 0xBF && u[2] == 0xBF))) {
                    p += 3;
                    continue;
                }
                if (!isWhiteSpace(*p))
                    break;
                ++p;
            }
        } else {
            while (*p != 0 && isWhiteSpace(*p))
                ++p;
        }
        return p;
    }

    static const char* readName(const char* p, std::string* name)
    {
        name->clear();
        if (p == nullptr || *p == 0 || !(isAlpha(static_cast<unsigned char>(*p)) || *p == '_'))
            return nullptr;
        const char* start = p;
        while (*p != 0 && (isAlphaNum(static_cast<unsigned char>(*p)) || *p == '_' ||
                           *p == '-' || *p == '.' || *p == ':'))
            ++p;
        name->assign(start, static_cast<std::size_t>(p - start));
        return p;
    }

    // The value is kept only when the encoding is not UTF-8: it is wanted for the
    // declaration's encoding, which only a parse of unknown encoding looks at.
    static const char* entity(const char* p, std::string* value, TiXmlEncoding encoding)
    {
        if (p[1] == '#' && p[2] != 0) {
            unsigned long ucs = 0;
            std::ptrdiff_t delta = 0;
            unsigned mult = 1;
            const char* q;
            if (p[2] == 'x') {
                if (p[3] == 0)
                    return nullptr;
                q = std::strchr(p + 3, ';');
                if (q == nullptr || *q == 0)
                    return nullptr;
                delta = q - p;
                for (--q; *q != 'x'; --q) {
                    if (*q >= '0' && *q <= '9')
                        ucs += mult * static_cast<unsigned>(*q - '0');
                    else if (*q >= 'a' && *q <= 'f')
                        ucs += mult * static_cast<unsigned>(*q - 'a' + 10);
                    else if (*q >= 'A' && *q <= 'F')
                        ucs += mult * static_cast<unsigned>(*q - 'A' + 10);
                    else
                        return nullptr;
                    mult *= 16;
                }
            } else {
                q = std::strchr(p + 2, ';');
                if (q == nullptr || *q == 0)
                    return nullptr;
                delta = q - p;
                for (--q; *q != '#'; --q) {
                    if (*q >= '0' && *q <= '9')
                        ucs += mult * static_cast<unsigned>(*q - '0');
                    else
                        return nullptr;
                    mult *= 10;
                }
            }
            if (value != nullptr && encoding != TIXML_ENCODING_UTF8)
                value->push_back(static_cast<char>(ucs));
            return p + delta + 1;
        }
        static const struct {
            const char* text;
            std::size_t length;
            char character;
        } kNamed[] = {{"&amp;", 5, '&'}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'},
                      {"&quot;", 6, '"'}, {"&apos;", 6, '\''}};
        for (const auto& named : kNamed) {
            if (std::strncmp(named.text, p, named.length) == 0) {
                if (value != nullptr && encoding != TIXML_ENCODING_UTF8)
                    value->push_back(named.character);
                return p + named.length;
            }
        }
        // Not an entity: the parser steps over the "&" and keeps nothing of it.
        return p + 1;
    }

    static const char* character(const char* p, std::string* value, TiXmlEncoding encoding)
    {
        const int length = encoding == TIXML_ENCODING_UTF8
                               ? TiXmlBase::utf8ByteTable[static_cast<unsigned char>(*p)]
                               : 1;
        if (length == 1) {
            if (*p == '&')
                return entity(p, value, encoding);
            if (value != nullptr && encoding != TIXML_ENCODING_UTF8)
                value->push_back(*p);
            return p + 1;
        }
        if (length == 0)
            return nullptr;
        // May step past the terminator: the buffer is padded for that.
        return p + length;
    }

    static const char* readText(const char* p, bool trimWhiteSpace, const char* endTag,
                                TiXmlEncoding encoding, std::string* value)
    {
        if (!trimWhiteSpace || !TiXmlBase::IsWhiteSpaceCondensed()) {
            while (p != nullptr && *p != 0 && !stringEqual(p, endTag, false, encoding))
                p = character(p, value, encoding);
        } else {
            p = skipWhiteSpace(p, encoding);
            while (p != nullptr && *p != 0 && !stringEqual(p, endTag, false, encoding)) {
                if (isWhiteSpace(*p))
                    ++p;
                else
                    p = character(p, value, encoding);
            }
        }
        if (p != nullptr && *p != 0)
            p += std::strlen(endTag);
        return p != nullptr && *p != 0 ? p : nullptr;
    }

    static TiXmlEncoding encodingNamed(const std::string& name)
    {
        const char* text = name.c_str();
        if (*text == 0 || stringEqual(text, "UTF-8", true, TIXML_ENCODING_UNKNOWN) ||
            stringEqual(text, "UTF8", true, TIXML_ENCODING_UNKNOWN))
            return TIXML_ENCODING_UTF8;
        return TIXML_ENCODING_LEGACY;
    }

    Kind identify(const char* p, TiXmlEncoding encoding) const
    {
        p = skipWhiteSpace(p, encoding);
        if (p == nullptr || *p != '<')
            return Kind::None;
        if (stringEqual(p, "<?xml", true, encoding))
            return Kind::Declaration;
        if (stringEqual(p, "<!--", false, encoding))
            return Kind::Comment;
        if (stringEqual(p, "<![CDATA[", false, encoding))
            return Kind::CData;
        if (stringEqual(p, "<!", false, encoding))
            return Kind::Unknown;
        if (isAlpha(static_cast<unsigned char>(p[1])) || p[1] == '_')
            return Kind::Element;
        return Kind::Unknown;
    }

    // `depth` is the nesting level an element here would have (1 at the top).
    // A node is about to be made; false when that passes the bound.
    bool makeNode()
    {
        if (++counts.nodes > kXmlNodeLimit && m_stopAtBounds) {
            m_stopped = true;
            return false;
        }
        return true;
    }

    const char* node(Kind kind, const char* p, TiXmlEncoding encoding, int depth,
                     std::string* declaredEncoding)
    {
        if (kind == Kind::None || !makeNode())
            return nullptr;
        switch (kind) {
        case Kind::Declaration:
            return declaration(p, encoding, declaredEncoding);
        case Kind::Comment:
            return comment(p, encoding);
        case Kind::CData:
            return cdata(p, encoding);
        case Kind::Unknown:
            return unknown(p, encoding);
        case Kind::Element:
            if (++counts.elements > kXmlElementLimit && m_stopAtBounds) {
                m_stopped = true;
                return nullptr;
            }
            return element(p, encoding, depth);
        case Kind::None:
            break;
        }
        return nullptr;
    }

    const char* element(const char* p, TiXmlEncoding encoding, int depth)
    {
        if (depth > counts.deepest)
            counts.deepest = depth;
        // Past the bound the walk always stops: its own recursion stays bounded.
        if (depth > kXmlDepthLimit) {
            m_stopped = true;
            return nullptr;
        }
        p = skipWhiteSpace(p, encoding);
        if (p == nullptr || *p != '<')
            return nullptr;
        p = skipWhiteSpace(p + 1, encoding);
        std::string name;
        p = readName(p, &name);
        if (p == nullptr || *p == 0)
            return nullptr;
        const std::string endTag = "</" + name;
        int attributes = 0;
        while (p != nullptr && *p != 0) {
            p = skipWhiteSpace(p, encoding);
            if (p == nullptr || *p == 0)
                return nullptr;
            if (*p == '/') {
                ++p;
                return *p == '>' ? p + 1 : nullptr;
            }
            if (*p == '>') {
                p = value(p + 1, encoding, depth);
                if (p == nullptr || *p == 0 || !stringEqual(p, endTag.c_str(), false, encoding))
                    return nullptr;
                p = skipWhiteSpace(p + endTag.size(), encoding);
                return p != nullptr && *p == '>' ? p + 1 : nullptr;
            }
            if (++attributes > counts.mostAttributes)
                counts.mostAttributes = attributes;
            if ((attributes > kXmlAttributeLimit ||
                 ++counts.attributes > kXmlAttributeTotalLimit) &&
                m_stopAtBounds) {
                m_stopped = true;
                return nullptr;
            }
            // (A repeated name ends the parse there; going on only counts more.)
            p = attribute(p, encoding, nullptr);
            if (p == nullptr || *p == 0)
                return nullptr;
        }
        return p;
    }

    // The element's content, up to its end tag.
    const char* value(const char* p, TiXmlEncoding encoding, int depth)
    {
        const char* withWhiteSpace = p;
        p = skipWhiteSpace(p, encoding);
        while (p != nullptr && *p != 0 && !m_stopped) {
            if (*p != '<') {
                // (A text of white space only is dropped; counting it too errs on the safe side.)
                if (!makeNode())
                    return nullptr;
                p = text(TiXmlBase::IsWhiteSpaceCondensed() ? p : withWhiteSpace, encoding);
            } else {
                if (stringEqual(p, "</", false, encoding))
                    return p;
                p = node(identify(p, encoding), p, encoding, depth + 1, nullptr);
            }
            withWhiteSpace = p;
            p = skipWhiteSpace(p, encoding);
        }
        return m_stopped ? nullptr : p;
    }

    static const char* attribute(const char* p, TiXmlEncoding encoding, std::string* value)
    {
        if (value != nullptr)
            value->clear();
        p = skipWhiteSpace(p, encoding);
        if (p == nullptr || *p == 0)
            return nullptr;
        std::string name;
        p = readName(p, &name);
        if (p == nullptr || *p == 0)
            return nullptr;
        p = skipWhiteSpace(p, encoding);
        if (p == nullptr || *p != '=')
            return nullptr;
        p = skipWhiteSpace(p + 1, encoding);
        if (p == nullptr || *p == 0)
            return nullptr;
        if (*p == '\'')
            return readText(p + 1, false, "'", encoding, value);
        if (*p == '"')
            return readText(p + 1, false, "\"", encoding, value);
        while (*p != 0 && !isWhiteSpace(*p) && *p != '/' && *p != '>') {
            if (*p == '\'' || *p == '"')
                return nullptr;
            if (value != nullptr)
                value->push_back(*p);
            ++p;
        }
        return p;
    }

    static const char* declaration(const char* p, TiXmlEncoding encoding,
                                   std::string* declaredEncoding)
    {
        p = skipWhiteSpace(p, encoding);
        if (p == nullptr || !stringEqual(p, "<?xml", true, encoding))
            return nullptr;
        p += 5;
        std::string ignored;
        while (p != nullptr && *p != 0) {
            if (*p == '>')
                return p + 1;
            p = skipWhiteSpace(p, encoding);
            if (p == nullptr || *p == 0)
                break;
            if (stringEqual(p, "version", true, encoding) ||
                stringEqual(p, "standalone", true, encoding)) {
                p = attribute(p, encoding, &ignored);
            } else if (stringEqual(p, "encoding", true, encoding)) {
                std::string named;
                p = attribute(p, encoding, &named);
                if (declaredEncoding != nullptr)
                    *declaredEncoding = named;
            } else {
                while (*p != 0 && *p != '>' && !isWhiteSpace(*p))
                    ++p;
            }
        }
        return nullptr;
    }

    static const char* comment(const char* p, TiXmlEncoding encoding)
    {
        p = skipWhiteSpace(p, encoding);
        if (!stringEqual(p, "<!--", false, encoding))
            return nullptr;
        p += 4;
        while (*p != 0 && !stringEqual(p, "-->", false, encoding))
            ++p;
        return *p != 0 ? p + 3 : p;
    }

    static const char* cdata(const char* p, TiXmlEncoding encoding)
    {
        if (!stringEqual(p, "<![CDATA[", false, encoding))
            return nullptr;
        p += 9;
        while (*p != 0 && !stringEqual(p, "]]>", false, encoding))
            ++p;
        return readText(p, false, "]]>", encoding, nullptr);
    }

    static const char* unknown(const char* p, TiXmlEncoding encoding)
    {
        p = skipWhiteSpace(p, encoding);
        if (p == nullptr || *p != '<')
            return nullptr;
        ++p;
        while (*p != 0 && *p != '>')
            ++p;
        return *p == '>' ? p + 1 : p;
    }

    static const char* text(const char* p, TiXmlEncoding encoding)
    {
        p = readText(p, true, "<", encoding, nullptr);
        return p != nullptr && *p != 0 ? p - 1 : nullptr;
    }

    bool m_stopAtBounds;
    bool m_stopped = false;
};

// Whether `size` bytes are well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool wellFormedUtf8(const char* text, std::size_t size)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* const end = p + size;
    while (p < end) {
        const unsigned char lead = *p++;
        int following = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
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
        for (int i = 0; i < following; ++i, ++p) {
            if (p == end || *p < low || *p > high)
                return false;
            low = 0x80;
            high = 0xBF;
        }
    }
    return true;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Where the XML declaration at the start of the text names the encoding: the name's offset
// and length; length 0 when the text does not start with a declaration that names one.
struct DeclaredEncoding {
    std::size_t at = 0;
    std::size_t length = 0;
};

DeclaredEncoding declaredEncoding(const char* data, std::size_t size)
{
    DeclaredEncoding found;
    std::size_t i = 0;
    while (i < size && isSpace(data[i]))
        ++i;
    if (size - i < 6 || std::memcmp(data + i, "<?xml", 5) != 0 || !isSpace(data[i + 5]))
        return found;
    const char* close = static_cast<const char*>(std::memchr(data + i, '>', size - i));
    const std::size_t end = close != nullptr ? static_cast<std::size_t>(close - data) : size;
    static const char kName[] = "encoding";
    const std::size_t nameLength = sizeof(kName) - 1;
    for (std::size_t at = i + 5; at + nameLength < end; ++at) {
        if (!isSpace(data[at - 1]) || std::memcmp(data + at, kName, nameLength) != 0)
            continue;
        std::size_t j = at + nameLength;
        while (j < end && isSpace(data[j]))
            ++j;
        if (j == end || data[j++] != '=')
            return found;
        while (j < end && isSpace(data[j]))
            ++j;
        if (j == end || (data[j] != '"' && data[j] != '\''))
            return found;
        const char quote = data[j++];
        const char* last = static_cast<const char*>(std::memchr(data + j, quote, end - j));
        if (last != nullptr) {
            found.at = j;
            found.length = static_cast<std::size_t>(last - (data + j));
        }
        return found;
    }
    return found;
}

bool namesUtf8(const char* name, std::size_t length)
{
    std::string lower(name, length);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "utf-8" || lower == "utf8";
}

// The text in UTF-8, into `converted`, when it is in another encoding: the one its
// declaration names, or without one, when it is not UTF-8, the system code page. The
// declaration of the converted text names UTF-8, so that TinyXML and a later save agree
// with what the bytes are. `converted` stays empty when the text is UTF-8 already. False
// when the text cannot be converted: an unknown encoding or bytes it does not define.
bool convertToUtf8(const char* data, std::size_t size, std::string* converted)
{
    if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0)
        return true;
    const DeclaredEncoding declared = declaredEncoding(data, size);
    if (declared.length == 0) {
        if (wellFormedUtf8(data, size))
            return true;
        return kyro::platform::textToUtf8(data, size, nullptr, converted) && !converted->empty();
    }
    if (namesUtf8(data + declared.at, declared.length))
        return true;
    const std::string name(data + declared.at, declared.length);
    if (!kyro::platform::textToUtf8(data, size, name.c_str(), converted))
        return false;
    // The declaration is ASCII in every encoding it can name, so it is where it was.
    const DeclaredEncoding again = declaredEncoding(converted->data(), converted->size());
    if (again.length == 0)
        return false;
    converted->replace(again.at, again.length, "UTF-8");
    return true;
}

// The text as TinyXML is given it: up to its first NUL (where TinyXML would stop), line
// ends as XML wants them (CR LF and a lone CR both become LF, as LoadFile does), padded
// with NULs. Empty when nothing is left.
std::vector<char> preparedText(const char* data, std::size_t size)
{
    std::vector<char> text;
    // (An empty file comes with no buffer at all, which memchr must not be given.)
    if (data == nullptr || size == 0)
        return text;
    const void* nul = std::memchr(data, 0, size);
    if (nul != nullptr)
        size = static_cast<std::size_t>(static_cast<const char*>(nul) - data);
    if (size == 0)
        return text;
    text.assign(size + kPadding, '\0');
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
    return text;
}

}  // namespace

XmlCounts countXml(const char* data, std::size_t size, TiXmlEncoding encoding)
{
    const std::vector<char> text = preparedText(data, size);
    ParseWalk walk(false);
    if (!text.empty())
        walk.document(text.data(), encoding);
    return walk.counts;
}

bool parseXmlText(const char* data, std::size_t size, TiXmlDocument* document)
{
    document->Clear();
    if (size > kXmlFileSizeLimit)
        return false;
    // Converted only up to the first NUL, where TinyXML stops reading.
    const void* nul = size != 0 ? std::memchr(data, 0, size) : nullptr;
    if (nul != nullptr)
        size = static_cast<std::size_t>(static_cast<const char*>(nul) - data);
    std::string converted;
    if (size == 0 || !convertToUtf8(data, size, &converted))
        return false;
    if (!converted.empty()) {
        data = converted.data();
        size = converted.size();
    }
    const std::vector<char> text = preparedText(data, size);
    if (text.empty())
        return false;
    ParseWalk walk(true);
    walk.document(text.data(), TIXML_ENCODING_UTF8);
    if (walk.counts.deepest > kXmlDepthLimit || walk.counts.elements > kXmlElementLimit ||
        walk.counts.mostAttributes > kXmlAttributeLimit ||
        walk.counts.attributes > kXmlAttributeTotalLimit || walk.counts.nodes > kXmlNodeLimit)
        return false;
    document->Parse(text.data(), nullptr, TIXML_ENCODING_UTF8);
    return !document->Error();
}

bool readXmlFile(std::FILE* file, TiXmlDocument* document)
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
    return parseXmlText(bytes.data(), bytes.size(), document);
}

bool readXmlFile(const TPath& path, TiXmlDocument* document)
{
    std::FILE* file = kyro::platform::openPlainFileForReading(path.utf8());
    if (file == nullptr) {
        document->Clear();
        return false;
    }
    const bool parsed = readXmlFile(file, document);
    std::fclose(file);
    return parsed;
}

bool isWellFormedUtf8(const char* text)
{
    return text == nullptr || wellFormedUtf8(text, std::strlen(text));
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
