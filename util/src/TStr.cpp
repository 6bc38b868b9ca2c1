#include "kyro/util/TStr.h"

#include "kyro/util/c_str.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

using namespace kyro::cstr;

namespace {

const char* dataOf(const Text* text)
{
    return text == nullptr ? nullptr : text->data;
}

// Where a converted text cannot be had (no memory), callers still get a terminated empty
// text in any encoding.
const std::uint32_t kEmptyAnyEncoding[2] = {0, 0};

bool isWhiteSpace(char c)
{
    return c == ' ' || (c >= 9 && c <= 13);
}

}  // namespace

// ---- Construction --------------------------------------------------------------------

TStr::TStr() : m_text(nullptr), m_cache(nullptr) {}

TStr::TStr(const TStr& other) : TStr()
{
    if (const char* data = dataOf(other.m_text))
        m_text = textCreateFrom(data, std::strlen(data));
}

TStr::TStr(TStr&& other) noexcept : m_text(other.m_text), m_cache(other.m_cache)
{
    other.m_text = nullptr;
    other.m_cache = nullptr;
}

TStr::TStr(const char* utf8) : TStr()
{
    if (utf8 != nullptr)
        m_text = textCreateFrom(utf8, std::strlen(utf8));
}

TStr::TStr(char c) : TStr()
{
    setEncoded(&c, 1, kAscii);
}

TStr::TStr(const wchar_t* wide) : TStr()
{
    if (wide != nullptr)
        setEncoded(wide, encodingInfo(kWideInputEncoding)->terminatedLength(wide), kWideInputEncoding);
}

TStr::TStr(const wchar_t* wide, int count) : TStr()
{
    if (wide != nullptr && count >= 0)
        setEncoded(wide, static_cast<std::size_t>(count) * sizeof(wchar_t), kWideInputEncoding);
}

TStr::TStr(const void* data, int byteLength, int encoding) : TStr()
{
    if (data != nullptr && byteLength >= 0)
        setEncoded(data, static_cast<std::size_t>(byteLength), encoding);
}

TStr::TStr(long value, int base) : TStr()
{
    char digits[40];
    const int length = formatInt(static_cast<std::int32_t>(value), base, digits);
    setEncoded(digits, static_cast<std::size_t>(length), kUtf8);
}

TStr::TStr(int value, int base) : TStr(static_cast<long>(value), base) {}

TStr::TStr(double value, char format, int precision) : TStr()
{
    if (format == '\0' || std::strchr("efgEFG", format) == nullptr)
        format = 'f';
    char spec[16];
    if (precision >= 0)
        std::snprintf(spec, sizeof spec, "%%.%dl%c", precision > 99 ? 99 : precision, format);
    else
        std::snprintf(spec, sizeof spec, "%%l%c", format);
    char printed[512];
    const int length = std::snprintf(printed, sizeof printed, spec, value);
    if (length < 0)
        printed[0] = '\0';
    // Numbers on the wire and in files do not follow the host's C locale: its decimal
    // point, whatever it is, becomes ".".
    const char* point = kyro::cstr::localeDecimalPoint();
    if (std::strcmp(point, ".") != 0) {
        if (char* at = std::strstr(printed, point)) {
            const std::size_t pointLength = std::strlen(point);
            *at = '.';
            std::memmove(at + 1, at + pointLength, std::strlen(at + pointLength) + 1);
        }
    }
    setEncoded(printed, std::strlen(printed), kAscii);
}

TStr::~TStr()
{
    if (m_cache != nullptr)
        release(m_cache);
    if (m_text != nullptr)
        textDestroy(m_text);
}

TStr& TStr::operator=(const TStr& other)
{
    if (this == &other)
        return *this;
    if (const char* data = dataOf(other.m_text))
        setEncoded(data, std::strlen(data), kUtf8);
    else
        clear();
    return *this;
}

TStr& TStr::operator=(TStr&& other) noexcept
{
    if (this != &other) {
        release(m_cache);
        textDestroy(m_text);
        m_text = other.m_text;
        m_cache = other.m_cache;
        other.m_text = nullptr;
        other.m_cache = nullptr;
    }
    return *this;
}

TStr& TStr::assign(const char* utf8)
{
    if (utf8 == nullptr)
        clear();
    else
        setEncoded(utf8, std::strlen(utf8), kUtf8);
    return *this;
}

TStr& TStr::assignWide(const wchar_t* wide, int byteLength)
{
    if (wide == nullptr || byteLength < 0)
        clear();
    else
        setEncoded(wide, static_cast<std::size_t>(byteLength), kWideInputEncoding);
    return *this;
}

void TStr::setEncoded(const void* data, std::size_t byteLength, int encoding)
{
    if (encoding < 0 || encoding >= kEncodingCount)
        return;
    dropCache();
    if (Text* text = writableText())
        textSet(text, data, byteLength, encoding);
}

Text* TStr::writableText()
{
    if (m_text == nullptr)
        m_text = textCreate();
    return m_text;
}

void TStr::dropCache() const
{
    if (m_cache != nullptr) {
        release(m_cache);
        m_cache = nullptr;
    }
}

// ---- Comparison and concatenation ----------------------------------------------------

int TStr::compare(const TStr& a, const TStr& b)
{
    return textCompare(a.m_text, b.m_text);
}

int TStr::compare(const TStr& a, const char* b)
{
    return textCompare(a.m_text, b);
}

TStr& TStr::operator+=(const TStr& other)
{
    if (this == &other) {
        const TStr copy(other);
        return *this += copy;
    }
    return *this += dataOf(other.m_text);
}

TStr& TStr::operator+=(const char* utf8)
{
    if (utf8 == nullptr || *utf8 == '\0')
        return *this;
    dropCache();
    if (Text* text = writableText())
        textAppend(text, utf8, std::strlen(utf8));
    return *this;
}

TStr& TStr::join(const char* part, const char* separator)
{
    if (part == nullptr || *part == '\0')
        return *this;
    dropCache();
    if (Text* text = writableText())
        textJoin(text, part, separator);
    return *this;
}

TStr& TStr::operator+=(char byte)
{
    const char bytes[2] = {byte, '\0'};
    return *this += bytes;
}

namespace {

TStr concatenate(const TStr& a, const char* b)
{
    const std::size_t lengthA = static_cast<std::size_t>(a.length());
    const std::size_t lengthB = b == nullptr ? 0 : std::strlen(b);
    if (lengthB == 0 || a.isNull())
        return lengthB == 0 ? a : TStr(b);
    TStr result;
    if (char* out = result.buffer(static_cast<int>(lengthA + lengthB))) {
        std::memcpy(out, a.utf8(), lengthA);
        std::memcpy(out + lengthA, b, lengthB);
    }
    return result;
}

}  // namespace

TStr operator+(const TStr& a, const TStr& b)
{
    return b.isNull() ? a : concatenate(a, b.utf8());
}

TStr operator+(const TStr& a, const char* b)
{
    return concatenate(a, b);
}

// ---- Inspection ----------------------------------------------------------------------

int TStr::length() const
{
    return m_text == nullptr ? 0 : static_cast<int>(textLength(m_text));
}

int TStr::charCount() const
{
    const char* data = dataOf(m_text);
    return data == nullptr ? 0 : static_cast<int>(utf8CharCount(data));
}

bool TStr::isEmpty() const
{
    const char* data = dataOf(m_text);
    return data == nullptr || *data == '\0';
}

bool TStr::isNull() const
{
    return dataOf(m_text) == nullptr;
}

char TStr::charAt(int index) const
{
    const char* data = dataOf(m_text);
    if (data == nullptr)
        return 0;
    const long offset = utf8ByteOffset(data, index);
    return offset < 0 ? 0 : data[offset];
}

TStr TStr::left(int count) const
{
    const char* data = dataOf(m_text);
    if (data == nullptr || count < 0)
        return *this;
    const std::size_t bytes = utf8PrefixBytes(data, count);
    if (data[bytes] == '\0')
        return *this;
    return TStr(data, static_cast<int>(bytes), kUtf8);
}

TStr TStr::right(int count) const
{
    const char* data = dataOf(m_text);
    if (data == nullptr || count < 0)
        return *this;
    const long total = utf8CharCount(data);
    if (count > total)
        return *this;
    const long offset = utf8ByteOffset(data, total - count);
    return TStr(data + offset);
}

TStr TStr::mid(int start, int byteCount) const
{
    const char* data = dataOf(m_text);
    if (data == nullptr)
        return TStr("");
    const long offset = utf8ByteOffset(data, start < 0 ? 0 : start);
    if (offset < 0)
        return TStr("");
    const std::size_t remaining = std::strlen(data + offset);
    std::size_t bytes = remaining;
    if (byteCount >= 0 && static_cast<std::size_t>(byteCount) < remaining)
        bytes = static_cast<std::size_t>(byteCount);
    return TStr(data + offset, static_cast<int>(bytes), kUtf8);
}

long TStr::indexOf(const char* needle, long start, bool caseSensitive) const
{
    const char* data = dataOf(m_text);
    if (data == nullptr || needle == nullptr)
        return -1;
    const long offset = start <= 0 ? 0 : utf8ByteOffset(data, start);
    if (offset < 0)
        return -1;
    return findBytes(data, static_cast<std::size_t>(offset), needle, caseSensitive);
}

long TStr::indexOf(const TStr& needle, long start, bool caseSensitive) const
{
    return indexOf(needle.utf8(), start, caseSensitive);
}

long TStr::indexOf(char needle, long start, bool caseSensitive) const
{
    if (needle == '\0')
        return -1;
    const char bytes[2] = {needle, '\0'};
    return indexOf(bytes, start, caseSensitive);
}

namespace {

TStr mapAscii(const TStr& source, char from, char to, int shift)
{
    TStr result(source);
    if (result.isEmpty())
        return result;
    for (char* p = result.buffer(result.length()); *p != '\0'; ++p) {
        if (*p >= from && *p <= to)
            *p = static_cast<char>(*p + shift);
    }
    return result;
}

}  // namespace

TStr TStr::toUpper() const
{
    return mapAscii(*this, 'a', 'z', 'A' - 'a');
}

TStr TStr::toLower() const
{
    return mapAscii(*this, 'A', 'Z', 'a' - 'A');
}

TStr TStr::trimmed() const
{
    const char* data = dataOf(m_text);
    if (data == nullptr)
        return *this;
    const std::size_t length = std::strlen(data);
    std::size_t begin = 0;
    while (begin < length && isWhiteSpace(data[begin]))
        ++begin;
    if (begin == length)
        return *this;
    std::size_t end = length;
    while (isWhiteSpace(data[end - 1]))
        --end;
    return TStr(data + begin, static_cast<int>(end - begin), kUtf8);
}

int TStr::toInt(bool* ok, int base) const
{
    std::int32_t value = 0;
    const bool parsed = parseInt(dataOf(m_text), base, &value);
    if (ok != nullptr)
        *ok = parsed;
    return value;
}

double TStr::toDouble(bool* ok) const
{
    const char* data = dataOf(m_text);
    if (data == nullptr) {
        if (ok != nullptr)
            *ok = false;
        return 0.0;
    }
    const char* end = nullptr;
    const double value = kyro::cstr::parseDouble(data, &end);
    if (ok != nullptr)
        *ok = *data != '\0' && end != nullptr && *end == '\0';
    return value;
}

std::uint32_t TStr::hashKey() const
{
    const char* data = dataOf(m_text);
    if (data == nullptr)
        return 0;
    const std::size_t length = std::strlen(data);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    if (length > 4) {
        return std::uint32_t(bytes[0]) | (std::uint32_t(bytes[1]) << 8) |
               (std::uint32_t(bytes[2]) << 16) | (std::uint32_t(bytes[3]) << 24);
    }
    std::uint32_t hash = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const std::int32_t widened = static_cast<signed char>(bytes[i]);
        hash = (hash << 8) | static_cast<std::uint32_t>(widened);
    }
    return hash;
}

// ---- Place markers -------------------------------------------------------------------

namespace {

// A "%" pairs with the byte after it and both are stepped over together; a "%" that ends
// the format is an ordinary byte. A pair is a place marker when that byte is 1-9.
// Returns the lowest marker digit present (0 for none) and how often it occurs.
int lowestMarker(const char* format, std::size_t length, std::size_t* occurrences)
{
    int lowest = 10;
    *occurrences = 0;
    const char* end = format + length;
    for (const char* p = format; (p = static_cast<const char*>(std::memchr(p, '%', static_cast<std::size_t>(end - p)))) != nullptr; p += 2) {
        if (p + 1 == end)
            break;
        if (p[1] >= '1' && p[1] <= '9') {
            const int digit = p[1] - '0';
            if (digit < lowest) {
                lowest = digit;
                *occurrences = 1;
            } else if (digit == lowest) {
                ++*occurrences;
            }
        }
    }
    return lowest == 10 ? 0 : lowest;
}

// The value padded to |fieldWidth| bytes with the fill character (taken as ASCII; 0 means
// a blank), in front for a positive width, behind for a negative one. `storage` holds the
// padded text when padding is needed; otherwise the value itself is used.
const char* padded(const char* value, int fieldWidth, char fill, std::string& storage)
{
    const long long width = fieldWidth < 0 ? -static_cast<long long>(fieldWidth) : fieldWidth;
    const std::size_t length = value == nullptr ? 0 : std::strlen(value);
    if (width <= static_cast<long long>(length))
        return value == nullptr ? "" : value;
    const char fillByte = fill == '\0' ? ' ' : (static_cast<unsigned char>(fill) > 127 ? '?' : fill);
    const std::size_t count = static_cast<std::size_t>(width) - length;
    storage.reserve(static_cast<std::size_t>(width));
    if (fieldWidth < 0)
        storage.append(value, length);
    storage.append(count, fillByte);
    if (fieldWidth > 0)
        storage.append(value, length);
    return storage.c_str();
}

}  // namespace

TStr TStr::arg(const char* value, int fieldWidth, char fill) const
{
    const char* format = dataOf(m_text);
    if (format == nullptr)
        return *this;
    const std::size_t length = std::strlen(format);
    std::size_t occurrences = 0;
    const int lowest = lowestMarker(format, length, &occurrences);
    if (lowest == 0)
        return *this;

    std::string storage;
    const char* insert = padded(value, fieldWidth, fill, storage);
    const std::size_t insertLength = std::strlen(insert);
    const std::size_t resultLength = length - 2 * occurrences + occurrences * insertLength;
    TStr result;
    result.m_text = textCreateSized(resultLength);
    if (result.m_text == nullptr || result.m_text->data == nullptr)
        return *this;
    char* out = result.m_text->data;
    // The same walk over "%" pairs, copying the runs between them whole.
    const char marker = static_cast<char>('0' + lowest);
    const char* end = format + length;
    for (const char* p = format; p < end;) {
        const char* percent = static_cast<const char*>(std::memchr(p, '%', static_cast<std::size_t>(end - p)));
        const bool isPair = percent != nullptr && percent + 1 != end;
        const char* runEnd = isPair ? percent + 2 : end;
        const bool isMarker = isPair && percent[1] == marker;
        const std::size_t run = static_cast<std::size_t>((isMarker ? percent : runEnd) - p);
        std::memcpy(out, p, run);
        out += run;
        if (isMarker) {
            std::memcpy(out, insert, insertLength);
            out += insertLength;
        }
        p = runEnd;
    }
    return result;
}

TStr TStr::arg(const TStr& value, int fieldWidth, char fill) const
{
    return arg(value.utf8(), fieldWidth, fill);
}

TStr TStr::arg(long value, int fieldWidth, int base, char fill) const
{
    char digits[40];
    formatInt(static_cast<std::int32_t>(value), base, digits);
    return arg(static_cast<const char*>(digits), fieldWidth, fill);
}

TStr TStr::arg(int value, int fieldWidth, int base, char fill) const
{
    return arg(static_cast<long>(value), fieldWidth, base, fill);
}

// ---- Changing operations -------------------------------------------------------------

void TStr::clear()
{
    dropCache();
    if (m_text != nullptr)
        textClear(m_text);
}

TStr TStr::cutLast(const TStr& separator)
{
    char* data = m_text == nullptr ? nullptr : m_text->data;
    if (data == nullptr)
        return TStr();
    const long position = findLastBytes(data, separator.utf8());
    if (position < 0) {
        TStr whole(std::move(*this));
        return whole;
    }
    dropCache();
    TStr after(data + position + separator.length());
    data[position] = '\0';
    return after;
}

TStr TStr::nextToken(const TStr& delimiters)
{
    char* data = m_text == nullptr ? nullptr : m_text->data;
    if (data == nullptr || *data == '\0')
        return *this;
    const char* set = delimiters.utf8();
    const std::size_t position = std::strcspn(data, set);
    if (data[position] == '\0') {
        TStr whole(std::move(*this));
        return whole;
    }
    dropCache();
    TStr token(data, static_cast<int>(position), kUtf8);
    const std::size_t rest = position + 1 + std::strspn(data + position + 1, set);
    std::memmove(data, data + rest, std::strlen(data + rest) + 1);
    return token;
}

TStr& TStr::replaceAll(const TStr& from, const TStr& to)
{
    const char* data = dataOf(m_text);
    if (data == nullptr || from.isEmpty())
        return *this;
    const char* needle = from.utf8();
    const std::size_t fromLength = static_cast<std::size_t>(from.length());
    const std::size_t toLength = static_cast<std::size_t>(to.length());
    std::size_t occurrences = 0;
    for (const char* p = data; (p = std::strstr(p, needle)) != nullptr; p += fromLength)
        ++occurrences;
    if (occurrences == 0)
        return *this;

    const std::size_t length = std::strlen(data);
    TStr result;
    char* out = result.buffer(static_cast<int>(length - occurrences * fromLength + occurrences * toLength));
    if (out == nullptr)
        return *this;
    const char* p = data;
    for (const char* hit; (hit = std::strstr(p, needle)) != nullptr; p = hit + fromLength) {
        std::memcpy(out, p, static_cast<std::size_t>(hit - p));
        out += hit - p;
        std::memcpy(out, to.utf8(), toLength);
        out += toLength;
    }
    std::memcpy(out, p, std::strlen(p));
    return *this = std::move(result);
}

char* TStr::buffer(int size)
{
    dropCache();
    Text* text = writableText();
    if (text == nullptr)
        return nullptr;
    const std::size_t wanted = static_cast<std::size_t>(size < 0 ? 0 : size) + 1;
    if (!textReserve(text, wanted))
        return nullptr;
    return text->data;
}

// ---- Conversions ---------------------------------------------------------------------

const void* TStr::cached(int encoding) const
{
    if (m_cache != nullptr) {
        std::int32_t held;
        std::memcpy(&held, m_cache, sizeof held);
        if (held == encoding)
            return m_cache + sizeof held;
    }
    dropCache();
    const char* data = dataOf(m_text);
    const std::size_t length = data == nullptr ? 0 : std::strlen(data);
    const std::size_t size = convertedSize(data, length, kUtf8, encoding);
    auto* block = static_cast<char*>(allocate(sizeof(std::int32_t) + size));
    if (block == nullptr)
        return kEmptyAnyEncoding;
    const std::int32_t tag = encoding;
    std::memcpy(block, &tag, sizeof tag);
    convert(data, length, kUtf8, block + sizeof tag, size, encoding);
    m_cache = block;
    return block + sizeof tag;
}

const char* TStr::utf8() const
{
    const char* data = dataOf(m_text);
    return data == nullptr ? "" : data;
}

const char* TStr::ascii() const
{
    return static_cast<const char*>(cached(kAscii));
}

const wchar_t* TStr::wide() const
{
    return static_cast<const wchar_t*>(cached(kWideOutputEncoding));
}

wchar_t* TStr::newWide() const
{
    const char* data = dataOf(m_text);
    const std::size_t length = data == nullptr ? 0 : std::strlen(data);
    const std::size_t size = convertedSize(data, length, kUtf8, kWideOutputEncoding);
    void* block = allocate(size);
    if (block != nullptr)
        convert(data, length, kUtf8, block, size, kWideOutputEncoding);
    return static_cast<wchar_t*>(block);
}

char* TStr::newUtf8() const
{
    const char* data = utf8();
    const std::size_t length = std::strlen(data);
    auto* block = static_cast<char*>(allocate(length + 1));
    if (block != nullptr)
        std::memcpy(block, data, length);
    return block;
}

void TStr::releaseBuffer(void* buffer)
{
    release(buffer);
}
