// Text objects and the free functions over UTF-8 text.
#include "kyro/util/c_str.h"

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kyro::cstr {

// ---- UTF-8 stepping ------------------------------------------------------------------

int utf8LeadLength(unsigned char lead)
{
    if (lead >= 0xFC)
        return 6;
    if (lead >= 0xF8)
        return 5;
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

int utf8Step(const char* p)
{
    if (*p == '\0')
        return 0;
    const int length = utf8LeadLength(static_cast<unsigned char>(*p));
    int step = 1;
    while (step < length && p[step] != '\0')
        ++step;
    return step;
}

long utf8ByteOffset(const char* text, long index)
{
    if (index < 0)
        return -1;
    long offset = 0;
    for (long i = 0; i < index; ++i) {
        const int step = utf8Step(text + offset);
        if (step == 0)
            return -1;
        offset += step;
    }
    return offset;
}

long utf8CharCount(const char* text)
{
    long count = 0;
    for (int step; (step = utf8Step(text)) != 0; text += step)
        ++count;
    return count;
}

std::size_t utf8PrefixBytes(const char* text, long count)
{
    if (count < 0)
        return std::strlen(text);
    std::size_t bytes = 0;
    for (long i = 0; i < count; ++i) {
        const int step = utf8Step(text + bytes);
        if (step == 0)
            break;
        bytes += static_cast<std::size_t>(step);
    }
    return bytes;
}

// ---- Text objects --------------------------------------------------------------------

namespace {

constexpr std::size_t kLargestText = 0x7FFFFFF0;

// A fresh exact-size buffer for a text of `length` bytes, terminated; the caller writes
// the `length` bytes in front of the terminator.
char* newBuffer(std::size_t length)
{
    if (length >= kLargestText)
        return nullptr;
    auto* buffer = static_cast<char*>(allocateUnfilled(length + 1));
    if (buffer != nullptr)
        buffer[length] = '\0';
    return buffer;
}

void adopt(Text* text, char* buffer, std::size_t capacity)
{
    release(text->data);
    text->data = buffer;
    text->capacity = static_cast<std::int32_t>(capacity);
}

bool overlaps(const Text* text, const void* source)
{
    if (text->data == nullptr || source == nullptr)
        return false;
    const char* p = static_cast<const char*>(source);
    return p >= text->data && p < text->data + text->capacity;
}

}  // namespace

Text* textCreate()
{
    auto* text = static_cast<Text*>(allocateUnfilled(sizeof(Text)));
    if (text != nullptr) {
        text->data = nullptr;
        text->capacity = 0;
    }
    return text;
}

Text* textCreateSized(std::size_t bytes)
{
    Text* text = textCreate();
    if (text == nullptr || bytes >= kLargestText)
        return text;
    if (char* buffer = newBuffer(bytes)) {
        text->data = buffer;
        text->capacity = static_cast<std::int32_t>(bytes + 1);
    }
    return text;
}

Text* textCreateFrom(const char* utf8, std::size_t bytes)
{
    Text* text = textCreateSized(bytes);
    if (text != nullptr && text->data != nullptr)
        std::memcpy(text->data, utf8, bytes);
    return text;
}

void textDestroy(Text* text)
{
    if (text == nullptr)
        return;
    release(text->data);
    release(text);
}

void textClear(Text* text)
{
    adopt(text, nullptr, 0);
}

std::size_t textLength(const Text* text)
{
    return text->data == nullptr ? 0 : std::strlen(text->data);
}

bool textSet(Text* text, const void* source, std::size_t sourceBytes, int encoding)
{
    if (encodingInfo(encoding) == nullptr)
        return false;
    if (source == nullptr)
        sourceBytes = 0;
    if (encoding == kUtf8) {
        // The internal form: a plain copy (the source may lie in the buffer itself).
        if (sourceBytes >= kLargestText)
            return false;
        if (static_cast<std::size_t>(text->capacity) > sourceBytes) {
            std::memmove(text->data, source, sourceBytes);
            text->data[sourceBytes] = '\0';
            return true;
        }
        char* buffer = newBuffer(sourceBytes);
        if (buffer == nullptr)
            return false;
        std::memcpy(buffer, source, sourceBytes);
        adopt(text, buffer, sourceBytes + 1);
        return true;
    }
    const std::size_t size = convertedSize(source, sourceBytes, encoding, kUtf8);
    if (size == 0 || size > kLargestText)
        return false;
    // Reuse the buffer when it is large enough, unless the source lives in it: another
    // encoding would overwrite source bytes before they are read.
    const bool inPlace = static_cast<std::size_t>(text->capacity) >= size && !overlaps(text, source);
    if (inPlace)
        return convert(source, sourceBytes, encoding, text->data,
                       static_cast<std::size_t>(text->capacity), kUtf8);
    char* buffer = static_cast<char*>(allocate(size));
    if (buffer == nullptr)
        return false;
    const bool ok = convert(source, sourceBytes, encoding, buffer, size, kUtf8);
    adopt(text, buffer, size);
    return ok;
}

bool textAppend(Text* text, const char* source, std::size_t bytes)
{
    if (source == nullptr || bytes == 0 || *source == '\0')
        return true;
    const void* nul = std::memchr(source, '\0', bytes);
    if (nul != nullptr)
        bytes = static_cast<std::size_t>(static_cast<const char*>(nul) - source);
    if (text->data == nullptr)
        return textSet(text, source, bytes, kUtf8);

    const std::size_t oldLength = std::strlen(text->data);
    const std::size_t newLength = oldLength + bytes;
    if (newLength >= kLargestText)
        return false;
    if (newLength + 1 <= static_cast<std::size_t>(text->capacity)) {
        std::memmove(text->data + oldLength, source, bytes);
        text->data[newLength] = '\0';
        return true;
    }
    char* buffer = newBuffer(newLength);
    if (buffer == nullptr)
        return false;
    // Both copies happen before the old buffer goes, so the source may be the text itself.
    std::memcpy(buffer, text->data, oldLength);
    std::memcpy(buffer + oldLength, source, bytes);
    adopt(text, buffer, newLength + 1);
    return true;
}

bool textReserve(Text* text, std::size_t size)
{
    if (size <= static_cast<std::size_t>(text->capacity))
        return true;
    if (size > kLargestText)
        return false;
    char* buffer = static_cast<char*>(allocate(size));
    if (buffer == nullptr)
        return false;
    if (text->data != nullptr)
        std::memcpy(buffer, text->data, std::strlen(text->data));
    adopt(text, buffer, size);
    return true;
}

namespace {

bool startsWith(const char* text, const char* prefix, std::size_t prefixLength)
{
    return std::strncmp(text, prefix, prefixLength) == 0;
}

bool endsWith(const char* text, std::size_t length, const char* suffix, std::size_t suffixLength)
{
    return length >= suffixLength && std::memcmp(text + length - suffixLength, suffix, suffixLength) == 0;
}

}  // namespace

bool textJoin(Text* text, const char* part, const char* separator)
{
    if (part == nullptr || *part == '\0')
        return true;
    if (text->data == nullptr)
        return textSet(text, part, std::strlen(part), kUtf8);
    const std::size_t partLength = std::strlen(part);
    const std::size_t sepLength = separator == nullptr ? 0 : std::strlen(separator);
    if (sepLength == 0)
        return textAppend(text, part, partLength);
    const std::size_t length = std::strlen(text->data);
    const bool textHas = endsWith(text->data, length, separator, sepLength);
    const bool partHas = startsWith(part, separator, sepLength);
    if (textHas && partHas)
        return textAppend(text, part + sepLength, partLength - sepLength);
    if (textHas || partHas)
        return textAppend(text, part, partLength);
    // The separator is copied first, so `part` may point into the text.
    const std::size_t newLength = length + sepLength + partLength;
    char* buffer = newBuffer(newLength);
    if (buffer == nullptr)
        return false;
    std::memcpy(buffer, text->data, length);
    std::memcpy(buffer + length, separator, sepLength);
    std::memcpy(buffer + length + sepLength, part, partLength);
    adopt(text, buffer, newLength + 1);
    return true;
}

bool textPrepend(Text* text, const char* part, const char* separator)
{
    if (part == nullptr || *part == '\0')
        return true;
    if (text->data == nullptr)
        return textSet(text, part, std::strlen(part), kUtf8);
    const std::size_t partLength = std::strlen(part);
    const std::size_t sepLength = separator == nullptr ? 0 : std::strlen(separator);
    const std::size_t length = std::strlen(text->data);
    std::size_t keepPart = partLength;
    std::size_t between = 0;
    if (sepLength > 0) {
        const bool partHas = endsWith(part, partLength, separator, sepLength);
        const bool textHas = startsWith(text->data, separator, sepLength);
        if (partHas && textHas)
            keepPart -= sepLength;
        else if (!partHas && !textHas)
            between = sepLength;
    }
    const std::size_t newLength = keepPart + between + length;
    char* buffer = newBuffer(newLength);
    if (buffer == nullptr)
        return false;
    std::memcpy(buffer, part, keepPart);
    std::memcpy(buffer + keepPart, separator, between);
    std::memcpy(buffer + keepPart + between, text->data, length);
    adopt(text, buffer, newLength + 1);
    return true;
}

int textCompare(const Text* a, const Text* b)
{
    const char* x = a == nullptr ? nullptr : a->data;
    const char* y = b == nullptr ? nullptr : b->data;
    if (x == nullptr || y == nullptr)
        return (x != nullptr) - (y != nullptr);
    return std::strcmp(x, y);
}

int textCompare(const Text* a, const char* b)
{
    const char* x = a == nullptr ? nullptr : a->data;
    if (x == nullptr || b == nullptr)
        return (x != nullptr) - (b != nullptr);
    return std::strcmp(x, b);
}

// ---- Searching and parsing -----------------------------------------------------------

namespace {

char upperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

long findBytes(const char* text, std::size_t from, const char* needle, bool caseSensitive)
{
    if (text == nullptr || needle == nullptr)
        return -1;
    const char* start = text + from;
    if (caseSensitive) {
        // The first byte by strchr, the rest compared in place: quick for the short
        // needles the library searches for. A mismatch at the text's terminator ends each
        // comparison, so nothing is read past the text.
        if (needle[0] == '\0')
            return static_cast<long>(from);
        const char* rest = needle + 1;
        for (const char* p = std::strchr(start, needle[0]); p != nullptr; p = std::strchr(p + 1, needle[0])) {
            std::size_t i = 0;
            while (rest[i] != '\0' && p[1 + i] == rest[i])
                ++i;
            if (rest[i] == '\0')
                return static_cast<long>(p - text);
        }
        return -1;
    }
    const std::size_t needleLength = std::strlen(needle);
    for (const char* p = start;; ++p) {
        std::size_t i = 0;
        while (i < needleLength && p[i] != '\0' && upperAscii(p[i]) == upperAscii(needle[i]))
            ++i;
        if (i == needleLength)
            return static_cast<long>(p - text);
        if (*p == '\0')
            return -1;
    }
}

long findLastBytes(const char* text, const char* needle)
{
    if (text == nullptr || needle == nullptr || *needle == '\0')
        return -1;
    long last = -1;
    for (const char* p = text; (p = std::strstr(p, needle)) != nullptr; ++p)
        last = static_cast<long>(p - text);
    return last;
}

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

int digitValue(char c, int base)
{
    int value;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'z')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'Z')
        value = c - 'A' + 10;
    else
        return -1;
    return value < base ? value : -1;
}

}  // namespace

bool parseInt(const char* text, int base, std::int32_t* value)
{
    *value = 0;
    if (text == nullptr || base < 2 || base > 36)
        return false;
    while (isBlank(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    if (digitValue(*text, base) < 0)
        return false;

    const std::uint64_t limit = static_cast<std::uint64_t>(LLONG_MAX);
    // Base 10, by far the most common, divides by a constant.
    const std::uint64_t cutoff = base == 10 ? limit / 10 : limit / static_cast<std::uint64_t>(base);
    const std::uint64_t lastDigit =
        (base == 10 ? limit % 10 : limit % static_cast<std::uint64_t>(base)) + (negative ? 1 : 0);
    std::uint64_t magnitude = 0;
    for (int digit; (digit = digitValue(*text, base)) >= 0; ++text) {
        if (magnitude > cutoff || (magnitude == cutoff && static_cast<std::uint64_t>(digit) > lastDigit))
            return false;
        magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    while (isBlank(*text))
        ++text;
    if (*text != '\0')
        return false;
    if (negative ? magnitude > 2147483648u : magnitude > 2147483647u)
        return false;
    *value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                      : static_cast<std::int32_t>(magnitude);
    return true;
}

int formatInt(std::int32_t value, int base, char* out)
{
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    if (base < 2 || base > 36)
        base = 10;
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value)
                                        : static_cast<std::uint32_t>(value);
    char reversed[33];
    int count = 0;
    do {
        reversed[count++] = kDigits[magnitude % static_cast<std::uint32_t>(base)];
        magnitude /= static_cast<std::uint32_t>(base);
    } while (magnitude != 0);
    int length = 0;
    if (value < 0)
        out[length++] = '-';
    while (count > 0)
        out[length++] = reversed[--count];
    out[length] = '\0';
    return length;
}

// ---- Numbers -----------------------------------------------------------------------------

const char* localeDecimalPoint()
{
    const std::lconv* conventions = std::localeconv();
    return conventions != nullptr && conventions->decimal_point != nullptr &&
                   conventions->decimal_point[0] != '\0'
               ? conventions->decimal_point
               : ".";
}

double parseDouble(const char* text, const char** end)
{
    if (end != nullptr)
        *end = text;
    if (text == nullptr)
        return 0.0;
    const char* point = localeDecimalPoint();
    if (std::strcmp(point, ".") == 0) {
        char* stop = nullptr;
        const double value = std::strtod(text, &stop);
        if (end != nullptr)
            *end = stop;
        return value;
    }
    // Only the number's own characters matter: a copy up to the host's point (where the
    // "C" locale would stop too), with "." turned into that point.
    std::size_t length = std::strspn(text, " \t\n\v\f\r+-0123456789.abcdefinptxyABCDEFINPTXY");
    if (const char* own = std::strstr(text, point))
        length = std::min<std::size_t>(length, static_cast<std::size_t>(own - text));
    std::string local;
    std::size_t dot = std::string::npos;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == '.' && dot == std::string::npos) {
            dot = i;
            local += point;
        } else {
            local += text[i];
        }
    }
    char* stop = nullptr;
    const double value = std::strtod(local.c_str(), &stop);
    if (end != nullptr) {
        std::size_t used = static_cast<std::size_t>(stop - local.c_str());
        // Back from the copy's offsets to the text's: the point may be longer than ".".
        if (dot != std::string::npos && used > dot)
            used -= std::strlen(point) - 1;
        *end = text + used;
    }
    return value;
}

}  // namespace kyro::cstr
