// TStr's searching and replacing against std::string models. Input: byte 0 the operation,
// bytes 1-12 parameters (parameter 0 carries flags), then text fields separated by 0x00: the
// string operated on, then the needle and the replacement.
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
    (data[0] % 2 == 0 ? runIndexOf : runReplaceAll)(in);
    return 0;
}
