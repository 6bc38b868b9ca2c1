// Fuzz target: TStr's parsing, searching, place-marker and changing operations, each
// compared with a plain std::string model of what it should do.
//
// Input layout:
//   byte 0      the operation (modulo the number of operations)
//   bytes 1-12  parameters (missing ones are 0); parameter 0 carries flags
//   the rest    text fields separated by 0x00 bytes: field 0 is the string operated on,
//               fields 1.. are needles, separators, delimiters, replacements, arg values
#include "fuzz_check.h"

#include "kyro/util/TStr.h"
#include "kyro/util/c_str.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kParameterCount = 12;

// Parameter 0 flags.
constexpr std::uint8_t kSubjectNull = 0x80;   // field 0 is a TStr with no buffer
constexpr std::uint8_t kOtherNull = 0x40;     // field 1 (or the op's second string) is null
constexpr std::uint8_t kAliasFirst = 0x20;    // the op's first argument is the string itself
constexpr std::uint8_t kAliasSecond = 0x10;   // the op's second argument is the string itself

struct Input {
    std::uint8_t op = 0;
    std::uint8_t p[kParameterCount] = {};
    std::vector<std::string> fields;

    bool has(std::size_t i) const { return i < fields.size(); }
    const std::string& field(std::size_t i) const
    {
        static const std::string kNone;
        return i < fields.size() ? fields[i] : kNone;
    }
    bool flag(std::uint8_t bit) const { return (p[0] & bit) != 0; }
};

Input parse(const std::uint8_t* data, std::size_t size)
{
    Input in;
    std::size_t at = 0;
    if (at < size)
        in.op = data[at++];
    for (std::size_t i = 0; i < kParameterCount && at < size; ++i)
        in.p[i] = data[at++];
    if (at < size) {
        std::string current;
        for (; at < size; ++at) {
            if (data[at] == 0) {
                in.fields.push_back(current);
                current.clear();
            } else {
                current += static_cast<char>(data[at]);
            }
        }
        in.fields.push_back(current);
    }
    return in;
}

// What a TStr should hold: no buffer, or these bytes.
struct Model {
    bool null = true;
    std::string text;

    static Model of(const std::string& s) { return Model{false, s}; }
    static Model none() { return Model{}; }
};

Model modelOf(const TStr& s)
{
    return s.isNull() ? Model::none() : Model::of(s.utf8());
}

bool matches(const TStr& s, const Model& m)
{
    if (s.isNull() != m.null)
        return false;
    if (m.null)
        return true;
    return static_cast<std::size_t>(s.length()) == m.text.size() &&
           std::memcmp(s.utf8(), m.text.data(), m.text.size()) == 0;
}

TStr makeString(const Model& m)
{
    return m.null ? TStr() : TStr(m.text.c_str());
}

// ---- arg -----------------------------------------------------------------------------

std::string formatNumber(std::int32_t value, int base)
{
    if (base < 2 || base > 36)
        base = 10;
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    std::string reversed;
    do {
        reversed += kDigits[magnitude % static_cast<std::uint32_t>(base)];
        magnitude /= static_cast<std::uint32_t>(base);
    } while (magnitude != 0);
    return (value < 0 ? "-" : "") + std::string(reversed.rbegin(), reversed.rend());
}

std::string padModel(const std::string& value, int fieldWidth, char fill)
{
    const long long width = fieldWidth < 0 ? -static_cast<long long>(fieldWidth) : fieldWidth;
    if (width <= static_cast<long long>(value.size()))
        return value;
    const char byte = fill == '\0' ? ' ' : (static_cast<unsigned char>(fill) > 127 ? '?' : fill);
    const std::string padding(static_cast<std::size_t>(width) - value.size(), byte);
    return fieldWidth > 0 ? padding + value : value + padding;
}

// "%" pairs with the byte after it; a pair whose second byte is 1-9 is a marker.
int lowestMarkerModel(const std::string& format)
{
    int lowest = 0;
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] == '%' && i + 1 < format.size()) {
            const char next = format[i + 1];
            if (next >= '1' && next <= '9' && (lowest == 0 || next - '0' < lowest))
                lowest = next - '0';
            i += 2;
        } else {
            i += 1;
        }
    }
    return lowest;
}

Model argModel(const Model& format, const std::string& value, int fieldWidth, char fill)
{
    if (format.null)
        return format;
    const int lowest = lowestMarkerModel(format.text);
    if (lowest == 0)
        return format;
    const std::string insert = padModel(value, fieldWidth, fill);
    const std::string& f = format.text;
    std::string out;
    for (std::size_t i = 0; i < f.size();) {
        if (f[i] == '%' && i + 1 < f.size()) {
            if (f[i + 1] == '0' + lowest)
                out += insert;
            else
                out.append(f, i, 2);
            i += 2;
        } else {
            out += f[i++];
        }
    }
    return Model::of(out);
}

// A number field: written out ("-2147483648", "0x7fffffff") or, when it does not start
// with a number, its first eight bytes as a little-endian value.
std::int64_t numberFrom(const std::string& field)
{
    char* end = nullptr;
    const long long written = std::strtoll(field.c_str(), &end, 0);
    if (end != field.c_str())
        return written;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < field.size() && i < 8; ++i)
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(field[i])) << (8 * i);
    return static_cast<std::int64_t>(value);
}

void runArg(const Input& in)
{
    static const char kFills[8] = {' ', '0', '*', '\0', '\xE9', '-', '%', '1'};
    static const int kBases[8] = {10, 16, 2, 36, 8, 0, 1, 37};
    const Model formatModel = in.flag(kSubjectNull) ? Model::none() : Model::of(in.field(0));
    const TStr format = makeString(formatModel);
    TStr result = format;
    Model expected = formatModel;
    const int calls = in.p[0] % 4 + 1;
    for (int k = 0; k < calls; ++k) {
        const std::uint8_t a = in.p[1 + 2 * k];
        const std::uint8_t b = in.p[2 + 2 * k];
        int width = a >> 2;
        if (width == 63)
            width = 64;
        if (b & 1)
            width = -width;
        const char fill = kFills[(b >> 1) & 7];
        const int base = kBases[(b >> 4) & 7];
        const std::size_t valueField = static_cast<std::size_t>(k) + 1;
        const std::string& text = in.field(valueField);
        TStr next;
        switch (a & 3) {
        case 0:
            next = result.arg(in.has(valueField) ? TStr(text.c_str()) : TStr(), width, fill);
            expected = argModel(expected, text, width, fill);
            break;
        case 1:
            next = result.arg(in.has(valueField) ? text.c_str() : nullptr, width, fill);
            expected = argModel(expected, text, width, fill);
            break;
        case 2: {
            const long value = static_cast<long>(numberFrom(text));
            next = result.arg(value, width, base, fill);
            expected = argModel(expected, formatNumber(static_cast<std::int32_t>(value), base), width, fill);
            break;
        }
        default: {
            const int value = static_cast<int>(static_cast<std::int32_t>(numberFrom(text)));
            next = result.arg(value, width, base, fill);
            expected = argModel(expected, formatNumber(value, base), width, fill);
            break;
        }
        }
        // Without a marker the format comes back unchanged.
        if (lowestMarkerModel(result.utf8()) == 0)
            FUZZ_CHECK(next.isNull() == result.isNull() && next == result);
        result = next;
        FUZZ_CHECK(matches(result, expected));
    }
    FUZZ_CHECK(matches(format, formatModel));  // the format itself never changes
}

// ---- numbers -------------------------------------------------------------------------

struct IntModel {
    bool ok;
    std::int32_t value;
};

IntModel parseIntModel(const Model& s, int base)
{
    if (s.null || base < 2 || base > 36)
        return {false, 0};
    const std::string& t = s.text;
    std::size_t i = 0;
    auto blank = [&](std::size_t at) { return at < t.size() && (t[at] == ' ' || t[at] == '\t' || t[at] == '\n'); };
    auto digit = [&](std::size_t at) -> int {
        if (at >= t.size())
            return -1;
        const char c = t[at];
        int v = -1;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'Z')
            v = c - 'A' + 10;
        return v < base ? v : -1;
    };
    while (blank(i))
        ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        negative = t[i++] == '-';
    if (digit(i) < 0)
        return {false, 0};
    std::uint64_t magnitude = 0;
    bool tooLarge = false;
    for (int d; (d = digit(i)) >= 0; ++i) {
        magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
        if (magnitude > 2147483648u)
            tooLarge = true, magnitude = 2147483649u;
    }
    while (blank(i))
        ++i;
    if (i != t.size() || tooLarge || magnitude > (negative ? 2147483648u : 2147483647u))
        return {false, 0};
    const std::int64_t signedValue = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return {true, static_cast<std::int32_t>(signedValue)};
}

void runToInt(const Input& in)
{
    const Model model = in.flag(kSubjectNull) ? Model::none() : Model::of(in.field(0));
    const TStr s = makeString(model);
    const int bases[] = {2, 10, 16, 36, static_cast<signed char>(in.p[1]), in.p[2]};
    for (int base : bases) {
        bool ok = true;
        const int value = s.toInt(&ok, base);
        const IntModel expected = parseIntModel(model, base);
        FUZZ_CHECK(ok == expected.ok);
        FUZZ_CHECK(value == expected.value);
        FUZZ_CHECK(s.toInt(nullptr, base) == value);
        if (ok) {
            // Printed in the same base (and in base 10) and read again: the same value.
            bool again = false;
            FUZZ_CHECK(TStr(static_cast<long>(value), base).toInt(&again, base) == value && again);
            FUZZ_CHECK(TStr(static_cast<long>(value)).toInt(&again) == value && again);
            FUZZ_CHECK(TStr(value, base) == formatNumber(value, base).c_str());
        }
    }
}

bool sameDouble(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

void runToDouble(const Input& in)
{
    const Model model = in.flag(kSubjectNull) ? Model::none() : Model::of(in.field(0));
    const TStr s = makeString(model);
    bool ok = true;
    const double value = s.toDouble(&ok);
    if (model.null) {
        FUZZ_CHECK(!ok && value == 0.0);
    } else {
        char* end = nullptr;
        const double expected = std::strtod(model.text.c_str(), &end);
        FUZZ_CHECK(sameDouble(value, expected));
        FUZZ_CHECK(ok == (!model.text.empty() && *end == '\0'));
    }
    if (ok) {
        // Seventeen significant digits print a double exactly.
        bool again = false;
        const double reread = TStr(value, 'g', 17).toDouble(&again);
        FUZZ_CHECK(again && sameDouble(reread, value));
    }
    // The printing constructor with formats and precisions from the input.
    static const char kFormats[] = {'f', 'e', 'g', 'E', 'G', 'F', 'x', '\0'};
    const TStr printed(value, kFormats[in.p[1] & 7], static_cast<signed char>(in.p[2]));
    FUZZ_CHECK(!printed.isNull());
    FUZZ_CHECK(printed.length() < 512);
    for (const char* c = printed.utf8(); *c != '\0'; ++c)
        FUZZ_CHECK(static_cast<unsigned char>(*c) < 0x80);
}

// ---- tokens, cutting and searching ---------------------------------------------------

void runNextToken(const Input& in)
{
    const Model start = in.flag(kSubjectNull) ? Model::none() : Model::of(in.field(0));
    const bool alias = in.flag(kAliasFirst);
    const TStr delimiters = in.flag(kOtherNull) ? TStr() : TStr(in.field(1).c_str());
    TStr s = makeString(start);
    const std::size_t bound = start.text.size() + 2;
    for (std::size_t round = 0;; ++round) {
        FUZZ_CHECK(round < bound);  // every round takes at least one byte away
        const Model before = modelOf(s);
        const std::string set = alias ? before.text : std::string(delimiters.utf8());
        const TStr token = alias ? s.nextToken(s) : s.nextToken(delimiters);
        if (before.null) {
            FUZZ_CHECK(token.isNull() && s.isNull());
            break;
        }
        FUZZ_CHECK(!start.null && start.text.find(token.utf8()) != std::string::npos);
        if (before.text.empty()) {
            FUZZ_CHECK(matches(token, Model::of("")) && matches(s, Model::of("")));
            break;
        }
        const std::size_t position = std::strcspn(before.text.c_str(), set.c_str());
        if (position == before.text.size()) {
            // No delimiter: the whole text, and the string is left with no buffer.
            FUZZ_CHECK(matches(token, before) && s.isNull());
            break;
        }
        const std::size_t rest = position + 1 + std::strspn(before.text.c_str() + position + 1, set.c_str());
        FUZZ_CHECK(matches(token, Model::of(before.text.substr(0, position))));
        FUZZ_CHECK(matches(s, Model::of(before.text.substr(rest))));
        FUZZ_CHECK(std::strcspn(token.utf8(), set.c_str()) == static_cast<std::size_t>(token.length()));
        if (s.isEmpty())
            break;
    }
}

void runCutLast(const Input& in)
{
    const Model original = in.flag(kSubjectNull) ? Model::none() : Model::of(in.field(0));
    TStr s = makeString(original);
    const TStr separatorValue = in.flag(kOtherNull) ? TStr() : TStr(in.field(1).c_str());
    const bool alias = in.flag(kAliasFirst);
    const std::string separator = alias ? original.text : std::string(separatorValue.utf8());
    const TStr after = alias ? s.cutLast(s) : s.cutLast(separatorValue);
    if (original.null) {
        FUZZ_CHECK(after.isNull() && s.isNull());
        return;
    }
    const std::size_t position = separator.empty() ? std::string::npos : original.text.rfind(separator);
    if (position == std::string::npos) {
        FUZZ_CHECK(matches(after, original) && s.isNull());
        return;
    }
    FUZZ_CHECK(matches(s, Model::of(original.text.substr(0, position))));
    FUZZ_CHECK(matches(after, Model::of(original.text.substr(position + separator.size()))));
    FUZZ_CHECK(std::string(s.utf8()) + separator + after.utf8() == original.text);
    FUZZ_CHECK(std::strstr(after.utf8(), separator.c_str()) == nullptr);
}

char upperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

long indexOfModel(const Model& s, const char* needle, long start, bool caseSensitive)
{
    if (s.null || needle == nullptr)
        return -1;
    // Byte offset of character `start`, stepping by lead bytes, never past the end.
    std::size_t offset = 0;
    const std::string& t = s.text;
    for (long i = 0; i < (start < 0 ? 0 : start); ++i) {
        if (offset >= t.size())
            return -1;
        const unsigned char lead = static_cast<unsigned char>(t[offset]);
        const std::size_t want = lead >= 0xFC ? 6 : lead >= 0xF8 ? 5 : lead >= 0xF0 ? 4
                               : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        offset = offset + want > t.size() ? t.size() : offset + want;
    }
    const std::size_t n = std::strlen(needle);
    for (std::size_t at = offset; at + n <= t.size(); ++at) {
        std::size_t i = 0;
        while (i < n && (caseSensitive ? t[at + i] == needle[i] : upperAscii(t[at + i]) == upperAscii(needle[i])))
            ++i;
        if (i == n)
            return static_cast<long>(at);
    }
    return -1;
}

void runIndexOf(const Input& in)
{
    const Model model = in.flag(kSubjectNull) ? Model::none() : Model::of(in.field(0));
    const TStr s = makeString(model);
    const bool needleNull = in.flag(kOtherNull);
    const std::string& needleText = in.field(1);
    const TStr needle = needleNull ? TStr() : TStr(needleText.c_str());
    const long count = s.charCount();
    const long starts[] = {static_cast<signed char>(in.p[1]), in.p[2] % (count + 3), count, LONG_MIN, LONG_MAX};
    const char byte = static_cast<char>(in.p[3]);
    const char byteText[2] = {byte, '\0'};
    for (long start : starts) {
        for (bool caseSensitive : {true, false}) {
            FUZZ_CHECK(s.indexOf(needle, start, caseSensitive) ==
                       indexOfModel(model, needle.utf8(), start, caseSensitive));
            FUZZ_CHECK(s.indexOf(needleNull ? nullptr : needleText.c_str(), start, caseSensitive) ==
                       indexOfModel(model, needleNull ? nullptr : needleText.c_str(), start, caseSensitive));
            FUZZ_CHECK(s.indexOf(byte, start, caseSensitive) ==
                       (byte == '\0' ? -1 : indexOfModel(model, byteText, start, caseSensitive)));
        }
    }
    if (in.flag(kAliasFirst))
        FUZZ_CHECK(s.indexOf(s) == (s.isNull() ? -1 : 0));
}

// ---- changing operations -------------------------------------------------------------

Model replaceModel(const Model& s, const std::string& from, const std::string& to)
{
    if (s.null || from.empty())
        return s;
    std::string out;
    std::size_t at = 0;
    for (std::size_t hit; (hit = s.text.find(from, at)) != std::string::npos; at = hit + from.size()) {
        out.append(s.text, at, hit - at);
        out += to;
    }
    out.append(s.text, at, std::string::npos);
    return Model::of(out);
}

void runReplaceAll(const Input& in)
{
    const Model original = in.flag(kSubjectNull) ? Model::none() : Model::of(in.field(0));
    std::string fromText = in.field(1);
    if (fromText.empty())
        fromText = std::string(1, in.p[1] == 0 ? 'a' : static_cast<char>(in.p[1]));
    const TStr from(fromText.c_str());
    const TStr to = in.flag(kOtherNull) ? TStr() : TStr(in.field(2).c_str());
    const bool aliasFrom = in.flag(kAliasFirst);
    const bool aliasTo = in.flag(kAliasSecond);

    TStr s = makeString(original);
    const std::string fromUsed = aliasFrom ? original.text : fromText;
    const std::string toUsed = aliasTo ? original.text : std::string(to.utf8());
    TStr& returned = s.replaceAll(aliasFrom ? s : from, aliasTo ? s : to);
    FUZZ_CHECK(&returned == &s);
    FUZZ_CHECK(matches(s, replaceModel(original, fromUsed, toUsed)));

    // An empty or null `from` changes nothing.
    TStr unchanged = makeString(original);
    unchanged.replaceAll(TStr(""), to);
    FUZZ_CHECK(matches(unchanged, original));
    unchanged.replaceAll(TStr(), to);
    FUZZ_CHECK(matches(unchanged, original));
}

bool isWhiteSpace(char c)
{
    return c == ' ' || (c >= 9 && c <= 13);
}

void runTrimmed(const Input& in)
{
    const Model original = in.flag(kSubjectNull) ? Model::none() : Model::of(in.field(0));
    const TStr s = makeString(original);
    Model expected = original;
    if (!original.null) {
        const std::string& t = original.text;
        std::size_t begin = 0;
        std::size_t end = t.size();
        while (begin < end && isWhiteSpace(t[begin]))
            ++begin;
        // Only white space: the text comes back unchanged.
        if (begin < end) {
            while (isWhiteSpace(t[end - 1]))
                --end;
            expected = Model::of(t.substr(begin, end - begin));
        }
    }
    const TStr trimmed = s.trimmed();
    FUZZ_CHECK(matches(trimmed, expected));
    FUZZ_CHECK(matches(trimmed.trimmed(), expected));
    FUZZ_CHECK(matches(s, original));
}

Model mapModel(const Model& s, char from, char to, int shift)
{
    Model out = s;
    for (char& c : out.text) {
        if (c >= from && c <= to)
            c = static_cast<char>(c + shift);
    }
    return out;
}

void runCase(const Input& in)
{
    const Model original = in.flag(kSubjectNull) ? Model::none() : Model::of(in.field(0));
    const TStr s = makeString(original);
    const TStr upper = s.toUpper();
    const TStr lower = s.toLower();
    FUZZ_CHECK(matches(upper, mapModel(original, 'a', 'z', 'A' - 'a')));
    FUZZ_CHECK(matches(lower, mapModel(original, 'A', 'Z', 'a' - 'A')));
    FUZZ_CHECK(upper.toLower() == lower && lower.toUpper() == upper);
    FUZZ_CHECK(matches(s, original));
    // The copies convert their own text, not the original's cached conversion.
    const std::string ascii = s.ascii();
    FUZZ_CHECK(std::strlen(upper.ascii()) <= static_cast<std::size_t>(upper.length()));
    FUZZ_CHECK(std::strcmp(s.ascii(), ascii.c_str()) == 0);
}

std::uint32_t hashModel(const Model& s)
{
    if (s.null)
        return 0;
    const std::string& t = s.text;
    if (t.size() > 4) {
        return std::uint32_t(static_cast<unsigned char>(t[0])) | (std::uint32_t(static_cast<unsigned char>(t[1])) << 8) |
               (std::uint32_t(static_cast<unsigned char>(t[2])) << 16) |
               (std::uint32_t(static_cast<unsigned char>(t[3])) << 24);
    }
    std::uint32_t hash = 0;
    for (char c : t)
        hash = (hash << 8) | static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
    return hash;
}

void runHashKey(const Input& in)
{
    const Model original = in.flag(kSubjectNull) ? Model::none() : Model::of(in.field(0));
    const TStr s = makeString(original);
    FUZZ_CHECK(s.hashKey() == hashModel(original));
    FUZZ_CHECK(TStr(s).hashKey() == s.hashKey());
    FUZZ_CHECK(TStr(s.utf8(), s.length(), kyro::cstr::kUtf8).hashKey() == (s.isNull() ? 0u : s.hashKey()));
    FUZZ_CHECK(s.mid(0).hashKey() == (s.isNull() ? 0u : s.hashKey()));
}

void runConcatenation(const Input& in)
{
    const Model a = in.flag(kSubjectNull) ? Model::none() : Model::of(in.field(0));
    const Model b = in.flag(kOtherNull) ? Model::none() : Model::of(in.field(1));
    const TStr x = makeString(a);
    const TStr y = makeString(b);

    // a + b: a itself when b adds nothing (so a stays without a buffer), else both texts.
    const Model sum = b.text.empty() ? a : Model::of(a.text + b.text);
    FUZZ_CHECK(matches(x + y, sum));
    FUZZ_CHECK(matches(x + (b.null ? nullptr : b.text.c_str()), b.text.empty() ? a : Model::of(a.text + b.text)));

    const int order = TStr::compare(x, y);
    if (a.null || b.null)
        FUZZ_CHECK(order == int(!a.null) - int(!b.null));
    else
        FUZZ_CHECK((order < 0) == (a.text < b.text) && (order == 0) == (a.text == b.text));
    FUZZ_CHECK((x < y) == (order < 0));
    FUZZ_CHECK((x == y) == (order == 0));

    // Appending: another string, the string itself, and a piece of its own buffer.
    TStr s = x;
    Model expected = a;
    s += y;
    if (!b.text.empty())
        expected = Model::of(a.text + b.text);
    FUZZ_CHECK(matches(s, expected));
    if (in.flag(kAliasFirst)) {
        s += s;
        if (!expected.text.empty())
            expected.text += expected.text;
        FUZZ_CHECK(matches(s, expected));
    }
    const std::size_t cut = expected.text.empty() ? 0 : in.p[1] % (expected.text.size() + 1);
    s += s.utf8() + cut;
    if (cut < expected.text.size())
        expected = Model::of(expected.text + expected.text.substr(cut));
    FUZZ_CHECK(matches(s, expected));
    s += static_cast<char>(in.p[2]);
    if (in.p[2] != 0)
        expected = Model::of(expected.text + static_cast<char>(in.p[2]));
    FUZZ_CHECK(matches(s, expected));

    // Assigning a piece of its own buffer.
    const std::size_t skip = expected.text.empty() ? 0 : in.p[3] % (expected.text.size() + 1);
    s.assign(s.utf8() + skip);
    expected = Model::of(expected.text.substr(skip));
    FUZZ_CHECK(matches(s, expected));
    s = x;
    FUZZ_CHECK(matches(s, a));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const kyro_fuzz::AllocationBalance balance;
    if (size > 1 << 16)
        return 0;
    const Input in = parse(data, size);
    switch (in.op % 11) {
    case 0: runArg(in); break;
    case 1: runToInt(in); break;
    case 2: runToDouble(in); break;
    case 3: runNextToken(in); break;
    case 4: runCutLast(in); break;
    case 5: runIndexOf(in); break;
    case 6: runReplaceAll(in); break;
    case 7: runTrimmed(in); break;
    case 8: runCase(in); break;
    case 9: runHashKey(in); break;
    default: runConcatenation(in); break;
    }
    return 0;
}
