// TStr's parsing, searching, place-marker and changing operations, compared with plain
// std::string models (concatenation, case and trimming are left to the unit tests). Input: byte 0 the operation, bytes 1-12 parameters (parameter 0
// carries flags), the rest text fields separated by 0x00 bytes: field 0 is the string
// operated on, fields 1.. needles, delimiters, replacements and arg values.
#include "fuzz_check.h"

#include "kyro/util/TStr.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::uint8_t kSubjectNull = 0x80;   // field 0 is a TStr with no buffer
constexpr std::uint8_t kOtherNull = 0x40;     // field 1 (or the second string) is null
constexpr std::uint8_t kAlias = 0x20;         // the first argument is the string itself

using Model = std::optional<std::string>;   // what a TStr should hold: no buffer, or these bytes

struct Input {
    std::uint8_t op = 0, p[12] = {};
    std::vector<std::string> fields;
    std::string field(std::size_t i) const { return i < fields.size() ? fields[i] : std::string(); }
    Model subject() const { return (p[0] & kSubjectNull) != 0 ? Model() : Model(field(0)); }
};

bool matches(const TStr& s, const Model& m)
{
    return s.isNull() ? !m : m && static_cast<std::size_t>(s.length()) == m->size() &&
                                 std::memcmp(s.utf8(), m->data(), m->size()) == 0;
}

TStr make(const Model& m)
{
    return m ? TStr(m->c_str()) : TStr();
}

std::string formatNumber(std::int32_t value, int base)
{
    base = base < 2 || base > 36 ? 10 : base;
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    std::string out;
    do {
        out.insert(out.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[magnitude % static_cast<std::uint32_t>(base)]);
        magnitude /= static_cast<std::uint32_t>(base);
    } while (magnitude != 0);
    return (value < 0 ? "-" : "") + out;
}

// arg(): "%" pairs with the byte after it; every pair "%<lowest marker digit>" takes the
// value, padded to the field width (negative: on the right) with the fill (NUL: a blank,
// above 127: "?"); without a marker the format stays as it is.
Model argModel(const Model& format, const std::string& value, int width, char fill)
{
    char lowest = 0;
    for (std::size_t i = 0; format && i + 1 < format->size(); i += (*format)[i] == '%' ? 2 : 1) {
        if ((*format)[i] == '%' && (*format)[i + 1] >= '1' && (*format)[i + 1] <= '9' && (lowest == 0 || (*format)[i + 1] < lowest))
            lowest = (*format)[i + 1];
    }
    if (lowest == 0)
        return format;
    const std::size_t size = static_cast<std::size_t>(width < 0 ? -static_cast<long long>(width) : width);
    const std::string padding(size > value.size() ? size - value.size() : 0,
                              fill == '\0' ? ' ' : static_cast<unsigned char>(fill) > 127 ? '?' : fill);
    const std::string insert = width > 0 ? padding + value : value + padding;
    std::string out;
    for (std::size_t i = 0; i < format->size(); ++i) {
        const bool pair = (*format)[i] == '%' && i + 1 < format->size();
        out += pair && (*format)[i + 1] == lowest ? insert : format->substr(i, pair ? 2 : 1);
        i += pair ? 1 : 0;
    }
    return out;
}

void runArg(const Input& in)
{
    static const char kFills[8] = {' ', '0', '*', '\0', '\xE9', '-', '%', '1'};
    static const int kBases[8] = {10, 16, 2, 36, 8, 0, 1, 37};
    const TStr format = make(in.subject());
    TStr result = format;
    Model expected = in.subject();
    for (int k = 0; k < in.p[0] % 4 + 1; ++k) {
        const std::uint8_t a = in.p[1 + 2 * k], b = in.p[2 + 2 * k];
        const int width = ((a >> 2) == 63 ? 64 : a >> 2) * (b & 1 ? -1 : 1);
        const char fill = kFills[(b >> 1) & 7];
        const int base = kBases[(b >> 4) & 7];
        const std::size_t valueField = static_cast<std::size_t>(k) + 1;
        const std::string text = in.field(valueField);
        // A number written out, or else the field's first eight bytes (little-endian).
        char* end = nullptr;
        long long raw = std::strtoll(text.c_str(), &end, 0);
        if (end == text.c_str())
            std::memcpy(&raw, text.data(), std::min<std::size_t>(text.size(), sizeof raw));
        const int number = static_cast<int>(static_cast<std::int32_t>(raw));
        switch (a & 3) {
        case 0: result = result.arg(valueField < in.fields.size() ? TStr(text.c_str()) : TStr(), width, fill); break;
        case 1: result = result.arg(valueField < in.fields.size() ? text.c_str() : nullptr, width, fill); break;
        case 2: result = result.arg(static_cast<long>(raw), width, base, fill); break;
        default: result = result.arg(number, width, base, fill); break;
        }
        expected = argModel(expected, (a & 3) < 2 ? text : formatNumber(number, base), width, fill);
        FUZZ_CHECK(matches(result, expected));
    }
    FUZZ_CHECK(matches(format, in.subject()));   // the format itself never changes
}

// toInt(): a value printed in a base (2 to 36) reads back, whatever the text around; and
// what any text reads as prints back to an equal number.
void runToInt(const Input& in)
{
    const TStr s = make(in.subject());
    std::int32_t value = 0;
    std::memcpy(&value, in.p + 1, sizeof value);
    for (int base : {2, 10, 16, 36, 2 + in.p[5] % 35}) {
        bool ok = false;
        FUZZ_CHECK(TStr(value, base) == formatNumber(value, base).c_str());
        FUZZ_CHECK(TStr(formatNumber(value, base).c_str()).toInt(&ok, base) == value && ok);
        const int read = s.toInt(&ok, base);
        FUZZ_CHECK(ok ? TStr(formatNumber(read, base).c_str()).toInt(nullptr, base) == read : read == 0);
    }
}

// nextToken(): the text up to the first delimiter, the string left with what follows the
// run of delimiters; no delimiter: the whole text, and the string left with no buffer.
void runNextToken(const Input& in)
{
    const bool alias = (in.p[0] & kAlias) != 0;
    const TStr delimiters = (in.p[0] & kOtherNull) != 0 ? TStr() : TStr(in.field(1).c_str());
    TStr s = make(in.subject());
    for (std::size_t round = 0;; ++round) {
        FUZZ_CHECK(round < in.field(0).size() + 2);   // every round takes at least one byte away
        const Model before = s.isNull() ? Model() : Model(s.utf8());
        const std::string set = alias ? before.value_or("") : std::string(delimiters.utf8());
        const TStr token = alias ? s.nextToken(s) : s.nextToken(delimiters);
        if (!before || before->empty()) {
            FUZZ_CHECK(matches(token, before) && matches(s, before));
            return;
        }
        const std::size_t at = std::strcspn(before->c_str(), set.c_str());
        if (at == before->size()) {
            FUZZ_CHECK(matches(token, before) && s.isNull());
            return;
        }
        FUZZ_CHECK(matches(token, before->substr(0, at)));
        FUZZ_CHECK(matches(s, before->substr(at + 1 + std::strspn(before->c_str() + at + 1, set.c_str()))));
        if (s.isEmpty())
            return;
    }
}

// indexOf(): the first match at or after the character `start` (at the byte offset left()
// gives), ASCII letters folded when asked; -1 past the end and for a null needle.
long expectedIndex(const TStr& s, const char* needle, long start, bool caseSensitive)
{
    if (s.isNull() || needle == nullptr || start > s.charCount())
        return -1;
    std::string text = s.utf8(), wanted = needle;
    for (std::string* t : {&text, &wanted}) {
        for (char& c : *t)
            c = !caseSensitive && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    }
    const std::size_t at = text.find(wanted, start <= 0 ? 0 : static_cast<std::size_t>(s.left(static_cast<int>(start)).length()));
    return at == std::string::npos ? -1 : static_cast<long>(at);
}

void runIndexOf(const Input& in)
{
    const TStr s = make(in.subject());
    const bool null = (in.p[0] & kOtherNull) != 0;
    const std::string needle = in.field(1);
    const char byte[2] = {static_cast<char>(in.p[3]), '\0'};
    const long count = s.charCount();
    for (long start : {static_cast<long>(static_cast<signed char>(in.p[1])), in.p[2] % (count + 3), count, LONG_MIN, LONG_MAX}) {
        for (bool cs : {true, false}) {   // a null TStr needle reads as ""
            FUZZ_CHECK(s.indexOf(null ? TStr() : TStr(needle.c_str()), start, cs) == expectedIndex(s, null ? "" : needle.c_str(), start, cs));
            FUZZ_CHECK(s.indexOf(null ? nullptr : needle.c_str(), start, cs) == expectedIndex(s, null ? nullptr : needle.c_str(), start, cs));
            FUZZ_CHECK(s.indexOf(byte[0], start, cs) == (byte[0] == '\0' ? -1 : expectedIndex(s, byte, start, cs)));
        }
    }
}

// replaceAll() of every match from left to right; an empty `from` changes nothing.
void runReplaceAll(const Input& in)
{
    const Model original = in.subject();
    const std::string from = in.field(1).empty() ? std::string(1, in.p[1] == 0 ? 'a' : static_cast<char>(in.p[1])) : in.field(1);
    const TStr to = (in.p[0] & kOtherNull) != 0 ? TStr() : TStr(in.field(2).c_str());
    const bool alias = (in.p[0] & kAlias) != 0;
    const std::string fromUsed = alias ? original.value_or("") : from;
    Model expected = original;
    for (std::size_t at = 0; expected && !fromUsed.empty() && (at = expected->find(fromUsed, at)) != std::string::npos; at += std::strlen(to.utf8()))
        expected->replace(at, fromUsed.size(), to.utf8());
    TStr s = make(original);
    FUZZ_CHECK(&s.replaceAll(alias ? s : TStr(from.c_str()), to) == &s && matches(s, expected));
    FUZZ_CHECK(matches(make(original).replaceAll(TStr(""), to).replaceAll(TStr(), to), original));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const kyro_fuzz::AllocationBalance balance;
    if (size > 1 << 16)
        return 0;
    Input in;
    std::size_t at = 0;
    for (; at < size && at < 13; ++at)
        (at == 0 ? in.op : in.p[at - 1]) = data[at];
    if (at < size) {
        in.fields.emplace_back();
        for (; at < size; ++at)
            if (data[at] == 0)
                in.fields.emplace_back();
            else
                in.fields.back() += static_cast<char>(data[at]);
    }
    switch (in.op % 11) {
    case 0: case 8: runArg(in); break;
    case 1: case 2: case 9: runToInt(in); break;
    case 3: case 4: runNextToken(in); break;
    case 5: case 10: runIndexOf(in); break;
    default: runReplaceAll(in); break;
    }
    return 0;
}
