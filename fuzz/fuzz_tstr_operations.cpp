// TStr's searching, place-marker and replacing operations against std::string models.
// Input: byte 0 the operation, bytes 1-12 parameters (parameter 0 carries flags), then text
// fields separated by 0x00: the string operated on, then needles, delimiters, arg values.
#include "fuzz_check.h"

#include "kyro/util/TStr.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr std::uint8_t kSubjectNull = 0x80, kOtherNull = 0x40, kAlias = 0x20;   // flags of parameter 0
using Model = std::optional<std::string>;   // what a TStr should hold: no buffer, or these bytes

struct Input {
    std::uint8_t p[12] = {};
    std::vector<std::string> fields;
    std::string field(std::size_t i) const { return i < fields.size() ? fields[i] : std::string(); }
    Model subject() const { return (p[0] & kSubjectNull) != 0 ? Model() : Model(field(0)); }
    TStr other(std::size_t i) const { return (p[0] & kOtherNull) != 0 ? TStr() : TStr(field(i).c_str()); }
    bool alias() const { return (p[0] & kAlias) != 0; }
};

bool matches(const TStr& s, const Model& m)
{
    return s.isNull() ? !m : m && std::string(s.utf8(), static_cast<std::size_t>(s.length())) == *m;
}

TStr make(const Model& m) { return m ? TStr(m->c_str()) : TStr(); }

// arg(): each "%<lowest marker digit>" takes the value, padded to the width (negative: on the
// right) with the fill (NUL: a blank, above 127: "?"); "%" pairs with the byte after it.
void runArg(const Input& in)
{
    static const char kFills[8] = {' ', '0', '*', '\0', '\xE9', '-', '%', '1'};
    static const int kBases[8] = {10, 16, 2, 36, 8, 0, 1, 37};
    TStr result = make(in.subject());
    Model expected = in.subject();
    for (std::size_t k = 1; k <= in.p[0] % 4u + 1; ++k) {
        const std::uint8_t a = in.p[2 * k - 1], b = in.p[2 * k];
        const int width = ((a >> 2) == 63 ? 64 : a >> 2) * (b & 1 ? -1 : 1), base = kBases[(b >> 4) & 7];
        const char fill = kFills[(b >> 1) & 7];
        const int number = static_cast<std::int32_t>(std::strtoll(in.field(k).c_str(), nullptr, 0));
        result = a & 1 ? result.arg(number, width, base, fill) : result.arg(k < in.fields.size() ? TStr(in.field(k).c_str()) : TStr(), width, fill);
        const std::string value = a & 1 ? TStr(number, base < 2 || base > 36 ? 10 : base).utf8() : in.field(k);
        const std::string padding(std::max<std::size_t>(static_cast<std::size_t>(std::abs(width)), value.size()) - value.size(),
                                  fill == '\0' ? ' ' : static_cast<unsigned char>(fill) > 127 ? '?' : fill);
        char lowest = 0;
        for (std::size_t i = 0; expected && i + 1 < expected->size(); i += (*expected)[i] == '%' ? 2 : 1) {
            const char digit = (*expected)[i + 1];
            lowest = (*expected)[i] == '%' && digit >= '1' && digit <= '9' && (lowest == 0 || digit < lowest) ? digit : lowest;
        }
        std::string out;
        for (std::size_t i = 0; lowest != 0 && i < expected->size(); ++i) {
            const bool pair = (*expected)[i] == '%' && i + 1 < expected->size();
            out += pair && (*expected)[++i] == lowest ? (width > 0 ? padding + value : value + padding) : expected->substr(i - pair, 1 + pair);
        }
        expected = lowest != 0 ? Model(out) : expected;
        FUZZ_CHECK(matches(result, expected));
    }
}

// nextToken(): the text up to the first delimiter, the string left with what follows the run of
// delimiters; no delimiter: all of it, the string left null (an empty one stays as it is).
void runNextToken(const Input& in)
{
    const TStr delimiters = in.other(1);
    TStr s = make(in.subject());
    for (Model before = in.subject(); before && !before->empty();) {
        const std::string set = in.alias() ? *before : std::string(delimiters.utf8());
        const TStr token = in.alias() ? s.nextToken(s) : s.nextToken(delimiters);
        const std::size_t at = std::strcspn(before->c_str(), set.c_str());
        FUZZ_CHECK(matches(token, before->substr(0, at)));
        before = at == before->size() ? Model() : before->substr(at + 1 + std::strspn(before->c_str() + at + 1, set.c_str()));
        FUZZ_CHECK(matches(s, before));   // and so each round takes at least one byte away
    }
    FUZZ_CHECK((in.subject() && !in.subject()->empty()) || (matches(s.nextToken(delimiters), in.subject()) && matches(s, in.subject())));
}

// indexOf(): the first match from the character `start` on (at the byte offset left() gives),
// ASCII letters folded when asked; -1 past the end; a null needle reads as "".
void runIndexOf(const Input& in)
{
    const TStr s = make(in.subject()), needle = in.other(1);
    const long count = s.charCount();
    for (long start : {static_cast<long>(static_cast<signed char>(in.p[1])), in.p[2] % (count + 3), count, LONG_MIN, LONG_MAX}) {
        for (bool cs : {true, false}) {
            std::string text = s.isNull() ? "" : s.utf8(), wanted = needle.isNull() ? "" : needle.utf8();
            for (std::string* t : {&text, &wanted})
                std::transform(t->begin(), t->end(), t->begin(), [cs](char c) { return !cs && c >= 'a' && c <= 'z' ? c - 32 : c; });
            const std::size_t at = text.find(wanted, start <= 0 ? 0 : static_cast<std::size_t>(s.left(static_cast<int>(start)).length()));
            FUZZ_CHECK(s.indexOf(needle, start, cs) == (s.isNull() || start > count || at == std::string::npos ? -1 : static_cast<long>(at)));
        }
    }
}

// replaceAll() of every match from left to right; an empty `from` changes nothing.
void runReplaceAll(const Input& in)
{
    const Model original = in.subject();
    const std::string from = in.field(1).empty() ? std::string(1, in.p[1] == 0 ? 'a' : static_cast<char>(in.p[1])) : in.field(1);
    const TStr to = in.other(2);
    const std::string fromUsed = in.alias() ? original.value_or("") : from;
    Model expected = original;
    for (std::size_t at = 0; expected && !fromUsed.empty() && (at = expected->find(fromUsed, at)) != std::string::npos; at += std::strlen(to.utf8()))
        expected->replace(at, fromUsed.size(), to.utf8());
    TStr s = make(original);
    FUZZ_CHECK(&s.replaceAll(in.alias() ? s : TStr(from.c_str()), to) == &s && matches(s, expected));
    FUZZ_CHECK(matches(make(original).replaceAll(TStr(""), to).replaceAll(TStr(), to), original));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > 1 << 16)
        return 0;
    Input in;
    std::memcpy(in.p, data + 1, std::min<std::size_t>(size - 1, sizeof in.p));
    const std::string rest(reinterpret_cast<const char*>(data) + std::min<std::size_t>(size, 13), size - std::min<std::size_t>(size, 13));
    for (std::size_t at = 0, end = 0; size > 13 && end != std::string::npos; at = end + 1)
        in.fields.push_back(rest.substr(at, (end = rest.find('\0', at)) - at));
    void (*const run[])(const Input&) = {runArg, runArg, runIndexOf, runNextToken, runNextToken, runIndexOf,
                                         runReplaceAll, runReplaceAll, runArg, runReplaceAll, runIndexOf};
    run[data[0] % 11](in);
    return 0;
}
