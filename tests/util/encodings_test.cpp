// Conversions between the six text encodings, byte for byte.
#include "kyro/util/c_str.h"
#include "kyro/util/TStr.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kyro::cstr;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes(std::initializer_list<int> values)
{
    Bytes out;
    for (int v : values)
        out.push_back(static_cast<unsigned char>(v));
    return out;
}

Bytes utf32(std::initializer_list<std::uint32_t> units)
{
    Bytes out;
    for (std::uint32_t u : units) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(&u);
        out.insert(out.end(), p, p + 4);
    }
    return out;
}

struct Converted {
    Bytes text;  // without the terminator
    bool ok;
    std::size_t size;  // as reported by convertedSize, terminator included
};

Converted convertBytes(const Bytes& source, int from, int to)
{
    const std::size_t size = convertedSize(source.data(), source.size(), from, to);
    Bytes target(size + 8, 0xAA);
    const bool ok = convert(source.data(), source.size(), from, target.data(), size, to);
    const std::size_t terminator = static_cast<std::size_t>(encodingInfo(to)->terminatorSize);
    // Nothing is written past the reported size, and a full terminator ends the text within it.
    EXPECT_EQ(Bytes(target.begin() + static_cast<long>(size), target.end()), Bytes(8, 0xAA));
    const std::size_t unit = static_cast<std::size_t>(encodingInfo(to)->unitSize);
    std::size_t end = 0;
    while (end + unit <= size && Bytes(&target[end], &target[end] + unit) != Bytes(unit, 0))
        end += unit;
    EXPECT_LE(end + terminator, size);
    return Converted{Bytes(target.begin(), target.begin() + static_cast<long>(end)), ok, size};
}

std::string hex(const Bytes& b)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : b) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

// "Aé€" in each encoding, and its ASCII rendering "A??" in each encoding.
const Bytes kForms[kEncodingCount] = {
    bytes({'A', '?', '?'}),
    bytes({0x41, 0xC3, 0xA9, 0xE2, 0x82, 0xAC}),
    bytes({0xFF, 0xFE, 0x41, 0x00, 0xE9, 0x00, 0xAC, 0x20}),
    bytes({0x00, 0x41, 0x00, 0xE9, 0x20, 0xAC}),
    bytes({0x41, 0x00, 0xE9, 0x00, 0xAC, 0x20}),
    utf32({0x41, 0xE9, 0x20AC}),
};
const Bytes kAsciiForms[kEncodingCount] = {
    bytes({'A', '?', '?'}),
    bytes({'A', '?', '?'}),
    bytes({0xFF, 0xFE, 'A', 0, '?', 0, '?', 0}),
    bytes({0, 'A', 0, '?', 0, '?'}),
    bytes({'A', 0, '?', 0, '?', 0}),
    utf32({'A', '?', '?'}),
};

}  // namespace

TEST(Encodings, EveryPairConvertsTheSameText)
{
    for (int from = 0; from < kEncodingCount; ++from) {
        for (int to = 0; to < kEncodingCount; ++to) {
            const Bytes& expected = (from == kAscii || to == kAscii) ? kAsciiForms[to] : kForms[to];
            const Converted result = convertBytes(kForms[from], from, to);
            EXPECT_TRUE(result.ok) << from << " -> " << to;
            EXPECT_EQ(hex(result.text), hex(expected)) << from << " -> " << to;
            EXPECT_EQ(result.size, expected.size() + encodingInfo(to)->terminatorSize)
                << from << " -> " << to;
        }
    }
}

TEST(Encodings, ByteOrderMarks)
{
    const struct { Bytes source; const char* utf8; } rows[] = {
        {bytes({0xFE, 0xFF, 0x00, 0x41}), "A"},                  // big-endian mark
        {bytes({0xFF, 0xFE, 0x41, 0x00}), "A"},                  // little-endian mark
        {bytes({0x41, 0x00}), "A"},                              // no mark: little-endian
        {bytes({0xFE, 0xFF, 0x00, 0xE9, 0x20, 0xAC}), "\xC3\xA9\xE2\x82\xAC"},
        {bytes({0xFF, 0xFE}), ""},                               // a mark and nothing else
        {bytes({0x41, 0x00, 0xFF, 0xFE}), "A\xEF\xBB\xBF"},       // a later FF FE is a character
    };
    for (const auto& row : rows) {
        const TStr text(row.source.data(), static_cast<int>(row.source.size()), kUtf16);
        EXPECT_EQ(text, row.utf8) << hex(row.source);
    }
    // Writing encoding 2 puts FF FE in front of the first unit, and only then.
    EXPECT_EQ(hex(convertBytes(bytes({'h', 'i'}), kUtf8, kUtf16).text), "FF FE 68 00 69 00 ");
    EXPECT_EQ(hex(convertBytes(Bytes(), kUtf8, kUtf16).text), "");
}

TEST(Encodings, SurrogatesRangesDamageAndAscii)
{
    const Bytes smile = bytes({0xF0, 0x9F, 0x98, 0x80});  // U+1F600
    const struct {
        Bytes source;
        int from, to;
        std::string text;
        int ok;  // -1: either
    } rows[] = {
        // The decoders never combine surrogate pairs: each stops at its first surrogate unit,
        // as at an odd trailing byte.
        {bytes({0x41, 0x00, 0x00, 0xD8, 0x42, 0x00}), kUtf16LE, kUtf8, "41 ", 0},
        {bytes({0x41, 0x00, 0x00, 0xDC, 0x42, 0x00}), kUtf16LE, kUtf8, "41 ", 0},
        {bytes({0x41, 0x00, 0x3D, 0xD8, 0x00, 0xDE}), kUtf16LE, kUtf8, "41 ", 0},
        {bytes({0x00, 0x41, 0xDB, 0xFF}), kUtf16BE, kUtf8, "41 ", -1},
        {bytes({0x41, 0x00, 0x42}), kUtf16LE, kUtf8, "41 ", 0},
        // UTF-8 may hold an encoded surrogate; UTF-16 refuses to write it, UTF-32 keeps it.
        {bytes({'A', 0xED, 0xA0, 0x80, 'B'}), kUtf8, kUtf16LE, "41 00 ", 0},
        {bytes({'A', 0xED, 0xA0, 0x80, 'B'}), kUtf8, kUtf32, hex(utf32({'A', 0xD800, 'B'})), -1},
        // Supplementary code points: a surrogate pair in UTF-16, one unit in UTF-32.
        {smile, kUtf8, kUtf16LE, "3D D8 00 DE ", 1}, {smile, kUtf8, kUtf16BE, "D8 3D DE 00 ", 1},
        {smile, kUtf8, kUtf32, hex(utf32({0x1F600})), 1}, {utf32({0x1F600}), kUtf32, kUtf8, hex(smile), 1},
        // Above U+10FFFF: UTF-16 writes "?", UTF-8 four bytes up to 0x1FFFFF and "?" beyond;
        // values with the top bit set are "?" everywhere.
        {utf32({0x110000, 0x1FFFFF, 0x200000, 0xFFFFFFFFu}), kUtf32, kUtf16LE, "3F 00 3F 00 3F 00 3F 00 ", -1},
        {utf32({0x110000, 0x1FFFFF, 0x200000, 0xFFFFFFFFu}), kUtf32, kUtf8, "F4 90 80 80 F7 BF BF BF 3F 3F ", -1},
        {utf32({0x110000, 0x1FFFFF, 0x200000, 0xFFFFFFFFu}), kUtf32, kAscii, "3F 3F 3F 3F ", -1},
        {bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), kUtf8, kUtf32, hex(utf32({0x200000})), -1},
        // Truncated sequences at the end of the source are not read past it.
        {bytes({'A', 0xE2, 0x82}), kUtf8, kUtf16LE, "41 00 ", 0},
        {bytes({'A', 0xF0}), kUtf8, kUtf32, hex(utf32({'A'})), -1},
        // Overlong forms decode to their value; a decoded zero ends the text.
        {bytes({'x', 0xC1, 0x81, 'y'}), kUtf8, kUtf16LE, "78 00 41 00 79 00 ", -1},
        {bytes({'x', 0xC0, 0x80, 'y'}), kUtf8, kUtf16LE, "78 00 ", -1},
        {bytes({'x', 0xE0, 0x80, 0x80, 'y'}), kUtf8, kUtf32, hex(utf32({'x'})), -1},
        {bytes({0xA9, 'z'}), kUtf8, kUtf16LE, "A9 00 7A 00 ", -1},  // a stray continuation byte
        {bytes({'a', 0x80, 0xFF}), kAscii, kUtf16LE, "61 00 3F 00 3F 00 ", -1},
        {bytes({'a', 0x80}), kAscii, kUtf32, hex(utf32({'a', '?'})), -1},
    };
    for (const auto& row : rows) {
        const Converted result = convertBytes(row.source, row.from, row.to);
        EXPECT_EQ(hex(result.text), row.text) << hex(row.source) << row.from << "->" << row.to;
        EXPECT_TRUE(row.ok < 0 || result.ok == (row.ok == 1)) << hex(row.source) << row.from << "->" << row.to;
    }
    EXPECT_EQ(TStr(rows[0].source.data(), 6, kUtf16LE), "A");
    EXPECT_EQ(TStr("\xF4\x90\x80\x80").wide()[0], sizeof(wchar_t) == 2 ? L'?' : wchar_t(0x110000));
    // Damaged text is kept verbatim in a TStr, but character stepping never passes the end.
    const TStr damaged("A\xE2\x82");
    EXPECT_EQ(damaged.length(), 3);
    EXPECT_EQ(damaged.charCount(), 2);
    EXPECT_EQ(damaged.charAt(2), 0);
    EXPECT_EQ(damaged.right(1), "\xE2\x82");
    EXPECT_EQ(TStr("\xFC").charCount(), 1);
    EXPECT_EQ(TStr("\xC3\xA9").ascii(), std::string("?"));
    EXPECT_EQ(TStr("\xE9", 1, kAscii), "?");
    EXPECT_EQ(TStr('\xE9'), "?");
    EXPECT_EQ(TStr('x'), "x");
}

TEST(Encodings, InvalidEncodingNumbersAndEmptySources)
{
    EXPECT_TRUE(TStr("x", 1, 6).isNull());
    EXPECT_TRUE(TStr("x", 1, -1).isNull());
    EXPECT_EQ(encodingInfo(6), nullptr);
    EXPECT_EQ(convertedSize("x", 1, kUtf8, 9), 0u);
    // No characters: a buffer with only the terminator, not a null string.
    EXPECT_EQ(TStr("", 0, kUtf16LE), "");
    EXPECT_EQ(TStr("\0\0A\0", 4, kUtf16LE), "");

    // A target too small for the text fails and still terminates what fits.
    unsigned char small[4];
    EXPECT_FALSE(convert("abcdef", 6, kUtf8, small, sizeof small, kUtf8));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(small)), "abc");
    EXPECT_FALSE(convert("abcdef", 6, kUtf8, small, sizeof small, kUtf16LE));
    EXPECT_EQ(hex(Bytes(small, small + 4)), "61 00 00 00 ");
}

TEST(Encodings, WideInterfaces)
{
    const TStr text("A\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(std::wstring(text.wide()), std::wstring(L"A\u00E9\u20AC"));
    EXPECT_EQ(TStr(L"A\u00E9\u20AC"), text);
    EXPECT_EQ(TStr(L"A\u00E9\u20AC", 2), "A\xC3\xA9");
    EXPECT_EQ(TStr(L"AB\0CD", 5), "AB");

    wchar_t* owned = text.newWide();
    EXPECT_EQ(std::wstring(owned), std::wstring(L"A\u00E9\u20AC"));
    TStr::releaseBuffer(owned);
    char* copy = text.newUtf8();
    EXPECT_STREQ(copy, text.utf8());
    TStr::releaseBuffer(copy);
    TStr assigned;
    assigned.assignWide(L"xyz", static_cast<int>(2 * sizeof(wchar_t)));
    EXPECT_EQ(assigned, "xy");
    // The wide constructor honours a leading mark where wchar_t is UTF-16.
    EXPECT_TRUE(sizeof(wchar_t) != 2 || TStr(L"\xFEFFok") == "ok");
}
