// Conversions between the six text encodings, byte for byte. fuzz/fuzz_text_encodings.cpp
// checks on any input that they agree with each other and with TStr.
#include "kyro/util/c_str.h"
#include "kyro/util/TStr.h"

#include <gtest/gtest.h>

#include <string>

using namespace kyro::cstr;

namespace {

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes)
        out += std::string{digits[c >> 4], digits[c & 15], ' '};
    return out;
}

// "Aé€" in each encoding (UTF-32 as on little-endian machines), and its ASCII rendering "A??".
const std::string kForms[kEncodingCount] = {
    "A??", "A\xC3\xA9\xE2\x82\xAC", std::string("\xFF\xFE" "A\0\xE9\0\xAC\x20", 8),
    std::string("\0A\0\xE9\x20\xAC", 6), std::string("A\0\xE9\0\xAC\x20", 6),
    std::string("A\0\0\0\xE9\0\0\0\xAC\x20\0\0", 12)};
const std::string kAsciiForms[kEncodingCount] = {
    "A??", "A??", std::string("\xFF\xFE" "A\0?\0?\0", 8), std::string("\0A\0?\0?", 6),
    std::string("A\0?\0?\0", 6), std::string("A\0\0\0?\0\0\0?\0\0\0", 12)};

}  // namespace

// The reported size holds the text and a whole terminator, and nothing is written past it.
TEST(Encodings, EveryPairConvertsTheSameText)
{
    for (int from = 0; from < kEncodingCount; ++from) {
        for (int to = 0; to < kEncodingCount; ++to) {
            SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
            const std::string& source = kForms[from];
            const std::string& text = from == kAscii || to == kAscii ? kAsciiForms[to] : kForms[to];
            const std::size_t size = convertedSize(source.data(), source.size(), from, to);
            std::string target(size + 4, '\xAA');
            EXPECT_TRUE(convert(source.data(), source.size(), from, &target[0], size, to));
            const std::string terminator(encodingInfo(to)->terminatorSize, '\0');
            EXPECT_EQ(hex(target), hex(text + terminator + "\xAA\xAA\xAA\xAA"));
        }
    }
}

TEST(Encodings, MarksSurrogatesRangesAndDamage)
{
    const std::string smile = "\xF0\x9F\x98\x80";  // U+1F600
    const struct { std::string source; int from, to; const char* text; } rows[] = {
        {std::string("\xFE\xFF\0A", 4), kUtf16, kUtf8, "41 "},  // a big-endian mark
        {std::string("A\0\xFF\xFE", 4), kUtf16, kUtf8, "41 EF BB BF "},  // a later FF FE is a character
        {"hi", kUtf8, kUtf16, "FF FE 68 00 69 00 "},  // written little-endian, with its mark
        // The decoders never combine surrogate pairs: each stops at its first surrogate unit,
        // as at an odd trailing byte; UTF-16 refuses to write an encoded surrogate.
        {std::string("A\0\0\xD8" "B\0", 6), kUtf16LE, kUtf8, "41 "},
        {std::string("A\0B", 3), kUtf16LE, kUtf8, "41 "}, {"A\xED\xA0\x80" "B", kUtf8, kUtf16LE, "41 00 "},
        {smile, kUtf8, kUtf16BE, "D8 3D DE 00 "}, {smile, kUtf8, kUtf32, "00 F6 01 00 "},
        // Above U+10FFFF: UTF-8 writes four bytes up to 0x1FFFFF and "?" beyond.
        {std::string("\0\0\x11\0\xFF\xFF\x1F\0\0\0\x20\0", 12), kUtf32, kUtf8, "F4 90 80 80 F7 BF BF BF 3F "},
        {"x\xC0\x80y", kUtf8, kUtf16LE, "78 00 "},  // an overlong zero ends the text
        {"a\x80", kAscii, kUtf16LE, "61 00 3F 00 "},
    };
    for (const auto& row : rows) {
        const std::size_t size = convertedSize(row.source.data(), row.source.size(), row.from, row.to);
        const std::size_t unit = static_cast<std::size_t>(encodingInfo(row.to)->unitSize);
        std::string target(size, '\xAA');
        convert(row.source.data(), row.source.size(), row.from, &target[0], size, row.to);
        std::size_t end = 0;  // up to the first zero unit
        while (end + unit <= size && target.compare(end, unit, std::string(unit, '\0')) != 0)
            end += unit;
        EXPECT_EQ(hex(target.substr(0, end)), row.text) << hex(row.source) << row.from << "->" << row.to;
    }
    EXPECT_TRUE(TStr("x", 1, kEncodingCount).isNull() && TStr("x", 1, -1).isNull());
    EXPECT_EQ(TStr("\xE9", 1, kAscii), "?");
    // A target too small for the text fails and still terminates what fits.
    char small[4];
    EXPECT_FALSE(convert("abcdef", 6, kUtf8, small, sizeof small, kUtf8));
    EXPECT_STREQ(small, "abc");
}
