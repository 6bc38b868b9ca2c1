// The six text encodings and the conversion between any two of them.
#include "kyro/util/c_str.h"

#include <cstring>

namespace kyro::cstr {

namespace {

constexpr CodePoint kReplacement = '?';

// Anything at or above 0x80000000 (the negative values ASCII decoding gives to the bytes
// 0x80-0xFF) is not a character any encoder can write.
bool isUnwritable(CodePoint c)
{
    return static_cast<std::uint32_t>(c) >= 0x80000000u;
}

bool isSurrogate(std::uint32_t u)
{
    return u >= 0xD800 && u <= 0xDFFF;
}

// ---- ASCII ----

int encodeAscii(CodePoint c, unsigned char* out, std::size_t room)
{
    if (room < 1)
        return 0;
    const std::uint32_t u = static_cast<std::uint32_t>(c);
    out[0] = static_cast<unsigned char>(u < 0x80 ? u : kReplacement);
    return 1;
}

int decodeAscii(const unsigned char* in, std::size_t available, CodePoint* c)
{
    if (available < 1)
        return 0;
    *c = static_cast<signed char>(in[0]);
    return 1;
}

int lengthAscii(CodePoint)
{
    return 1;
}

std::size_t terminatedBytes8(const void* text)
{
    return std::strlen(static_cast<const char*>(text));
}

// ---- UTF-8 ----

int encodeUtf8(CodePoint c, unsigned char* out, std::size_t room)
{
    const std::uint32_t u = static_cast<std::uint32_t>(c);
    if (u < 0x80) {
        if (room < 1)
            return 0;
        out[0] = static_cast<unsigned char>(u);
        return 1;
    }
    if (u < 0x800) {
        if (room < 2)
            return 0;
        out[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        return 2;
    }
    if (u < 0x10000) {
        if (room < 3)
            return 0;
        out[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        return 3;
    }
    if (u < 0x200000) {
        if (room < 4)
            return 0;
        out[0] = static_cast<unsigned char>(0xF0 | (u >> 18));
        out[1] = static_cast<unsigned char>(0x80 | ((u >> 12) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
        out[3] = static_cast<unsigned char>(0x80 | (u & 0x3F));
        return 4;
    }
    if (room < 1)
        return 0;
    out[0] = kReplacement;
    return 1;
}

int leadLength(unsigned char lead)
{
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : lead < 0xFC ? 5 : 6;
}

// The per-length offsets of the classic six-bits-per-byte accumulation.
constexpr std::uint32_t kUtf8Offsets[6] = {0x00000000u, 0x00003080u, 0x000E2080u,
                                           0x03C82080u, 0xFA082080u, 0x82082080u};

int decodeUtf8(const unsigned char* in, std::size_t available, CodePoint* c)
{
    if (available < 1)
        return 0;
    const int length = leadLength(in[0]);
    // A sequence cut off by the end of the source is not read past that end.
    if (static_cast<std::size_t>(length) > available)
        return 0;
    std::uint32_t value = 0;
    for (int i = 0; i < length; ++i)
        value = (value << 6) + in[i];
    value -= kUtf8Offsets[length - 1];
    *c = value >= 0x80000000u ? kReplacement : static_cast<CodePoint>(value);
    return length;
}

int lengthUtf8(CodePoint c)
{
    const std::uint32_t u = static_cast<std::uint32_t>(c);
    if (u < 0x80)
        return 1;
    if (u < 0x800)
        return 2;
    if (u < 0x10000)
        return 3;
    if (u < 0x200000)
        return 4;
    return 1;
}

// ---- UTF-16 ----

template <bool BigEndian>
void putUnit(unsigned char* out, std::uint32_t unit)
{
    if (BigEndian) {
        out[0] = static_cast<unsigned char>(unit >> 8);
        out[1] = static_cast<unsigned char>(unit & 0xFF);
    } else {
        out[0] = static_cast<unsigned char>(unit & 0xFF);
        out[1] = static_cast<unsigned char>(unit >> 8);
    }
}

template <bool BigEndian>
int encodeUtf16(CodePoint c, unsigned char* out, std::size_t room)
{
    std::uint32_t u = static_cast<std::uint32_t>(c);
    if (u > 0x10FFFF)
        u = kReplacement;
    if (isSurrogate(u))
        return 0;
    if (u >= 0x10000) {
        if (room < 4)
            return 0;
        u -= 0x10000;
        putUnit<BigEndian>(out, 0xD800 | (u >> 10));
        putUnit<BigEndian>(out + 2, 0xDC00 | (u & 0x3FF));
        return 4;
    }
    if (room < 2)
        return 0;
    putUnit<BigEndian>(out, u);
    return 2;
}

template <bool BigEndian>
int decodeUtf16(const unsigned char* in, std::size_t available, CodePoint* c)
{
    if (available < 2)
        return 0;
    const std::uint32_t unit = BigEndian ? (std::uint32_t(in[0]) << 8) | in[1]
                                         : (std::uint32_t(in[1]) << 8) | in[0];
    // Surrogates are not combined: any surrogate unit ends the conversion.
    if (isSurrogate(unit))
        return 0;
    *c = static_cast<CodePoint>(unit);
    return 2;
}

int lengthUtf16(CodePoint c)
{
    const std::uint32_t u = static_cast<std::uint32_t>(c);
    if (u > 0x10FFFF)
        return 2;
    if (isSurrogate(u))
        return 0;
    return u >= 0x10000 ? 4 : 2;
}

std::size_t terminatedBytes16(const void* text)
{
    const auto* p = static_cast<const unsigned char*>(text);
    std::size_t bytes = 0;
    while (p[bytes] != 0 || p[bytes + 1] != 0)
        bytes += 2;
    return bytes;
}

// ---- UTF-32 ----

int encodeUtf32(CodePoint c, unsigned char* out, std::size_t room)
{
    if (room < 4)
        return 0;
    const std::uint32_t u = isUnwritable(c) ? std::uint32_t(kReplacement) : std::uint32_t(c);
    std::memcpy(out, &u, 4);
    return 4;
}

int decodeUtf32(const unsigned char* in, std::size_t available, CodePoint* c)
{
    if (available < 4)
        return 0;
    std::uint32_t u;
    std::memcpy(&u, in, 4);
    *c = static_cast<CodePoint>(u);
    return 4;
}

int lengthUtf32(CodePoint)
{
    return 4;
}

std::size_t terminatedBytes32(const void* text)
{
    const auto* p = static_cast<const unsigned char*>(text);
    std::size_t bytes = 0;
    for (;;) {
        std::uint32_t u;
        std::memcpy(&u, p + bytes, 4);
        if (u == 0)
            return bytes;
        bytes += 4;
    }
}

const EncodingInfo kEncodings[kEncodingCount] = {
    {1, 1, 1, false, encodeAscii, decodeAscii, lengthAscii, terminatedBytes8},
    {1, 6, 1, true, encodeUtf8, decodeUtf8, lengthUtf8, terminatedBytes8},
    {2, 4, 2, true, encodeUtf16<false>, decodeUtf16<false>, lengthUtf16, terminatedBytes16},
    {2, 4, 2, true, encodeUtf16<true>, decodeUtf16<true>, lengthUtf16, terminatedBytes16},
    {2, 4, 2, true, encodeUtf16<false>, decodeUtf16<false>, lengthUtf16, terminatedBytes16},
    {4, 4, 4, false, encodeUtf32, decodeUtf32, lengthUtf32, terminatedBytes32},
};

// Encoding 2 reads its byte-order mark once at the start and keeps that order for the
// rest of the conversion: FF FE little-endian, FE FF big-endian, no mark little-endian.
int resolveSourceOrder(const unsigned char*& source, std::size_t& sourceBytes, int encoding)
{
    if (encoding != kUtf16)
        return encoding;
    if (sourceBytes >= 2 && source[0] == 0xFF && source[1] == 0xFE) {
        source += 2;
        sourceBytes -= 2;
        return kUtf16LE;
    }
    if (sourceBytes >= 2 && source[0] == 0xFE && source[1] == 0xFF) {
        source += 2;
        sourceBytes -= 2;
        return kUtf16BE;
    }
    return kUtf16LE;
}

constexpr unsigned char kByteOrderMark[2] = {0xFF, 0xFE};

// The conversion loops are instantiated for every pair of codecs, so each character goes
// through inlined code rather than two calls through the table.
using Decoder = int (*)(const unsigned char*, std::size_t, CodePoint*);
using Encoder = int (*)(CodePoint, unsigned char*, std::size_t);
using Measurer = int (*)(CodePoint);

struct Source {
    const unsigned char* bytes;
    std::size_t available;
};

// Sums the encoded lengths up to where conversion stops (end, a decoded zero, a character
// that cannot be read or written).
template <Decoder Decode, Measurer Length>
std::size_t measureChars(Source in, bool mark)
{
    std::size_t size = 0;
    while (in.available > 0) {
        CodePoint c = 0;
        const int used = Decode(in.bytes, in.available, &c);
        if (used == 0 || c == 0)
            break;
        const int length = Length(c);
        if (length == 0)
            break;
        if (mark) {
            size += sizeof kByteOrderMark;
            mark = false;
        }
        size += static_cast<std::size_t>(length);
        in.bytes += used;
        in.available -= static_cast<std::size_t>(used);
    }
    return size;
}

struct Written {
    std::size_t bytes;
    bool ok;
};

template <Decoder Decode, Encoder Encode, Measurer Length>
Written convertChars(Source in, unsigned char* out, std::size_t room, bool mark)
{
    std::size_t written = 0;
    while (in.available > 0) {
        CodePoint c = 0;
        const int used = Decode(in.bytes, in.available, &c);
        if (used == 0)
            return Written{written, false};
        if (c == 0)
            break;
        if (mark) {
            // The mark goes in only in front of a character that can follow it.
            if (Length(c) == 0 || room - written < sizeof kByteOrderMark)
                return Written{written, false};
            std::memcpy(out + written, kByteOrderMark, sizeof kByteOrderMark);
            written += sizeof kByteOrderMark;
            mark = false;
        }
        const int length = Encode(c, out + written, room - written);
        if (length == 0)
            return Written{written, false};
        written += static_cast<std::size_t>(length);
        in.bytes += used;
        in.available -= static_cast<std::size_t>(used);
    }
    return Written{written, true};
}

// Codec rows: ASCII, UTF-8, UTF-16 BE, UTF-16 LE, UTF-32 (encoding 2 maps onto a UTF-16
// row once its byte order is known).
constexpr int kCodecCount = 5;
int codecOf(int encoding)
{
    return encoding == kUtf16 ? 3 : encoding < kUtf16 ? encoding : encoding - 1;
}

using MeasureLoop = std::size_t (*)(Source, bool);
using ConvertLoop = Written (*)(Source, unsigned char*, std::size_t, bool);

template <Measurer Length>
constexpr MeasureLoop kMeasureRow[kCodecCount] = {
    measureChars<decodeAscii, Length>, measureChars<decodeUtf8, Length>,
    measureChars<decodeUtf16<true>, Length>, measureChars<decodeUtf16<false>, Length>,
    measureChars<decodeUtf32, Length>};

template <Encoder Encode, Measurer Length>
constexpr ConvertLoop kConvertRow[kCodecCount] = {
    convertChars<decodeAscii, Encode, Length>, convertChars<decodeUtf8, Encode, Length>,
    convertChars<decodeUtf16<true>, Encode, Length>, convertChars<decodeUtf16<false>, Encode, Length>,
    convertChars<decodeUtf32, Encode, Length>};

// [target codec][source codec]
const MeasureLoop* const kMeasure[kCodecCount] = {
    kMeasureRow<lengthAscii>, kMeasureRow<lengthUtf8>, kMeasureRow<lengthUtf16>,
    kMeasureRow<lengthUtf16>, kMeasureRow<lengthUtf32>};
const ConvertLoop* const kConvert[kCodecCount] = {
    kConvertRow<encodeAscii, lengthAscii>, kConvertRow<encodeUtf8, lengthUtf8>,
    kConvertRow<encodeUtf16<true>, lengthUtf16>, kConvertRow<encodeUtf16<false>, lengthUtf16>,
    kConvertRow<encodeUtf32, lengthUtf32>};

}  // namespace

const EncodingInfo* encodingInfo(int encoding)
{
    if (encoding < 0 || encoding >= kEncodingCount)
        return nullptr;
    return &kEncodings[encoding];
}

std::size_t convertedSize(const void* source, std::size_t sourceBytes, int sourceEncoding,
                          int targetEncoding)
{
    const EncodingInfo* target = encodingInfo(targetEncoding);
    if (target == nullptr || encodingInfo(sourceEncoding) == nullptr)
        return 0;
    if (sourceEncoding == targetEncoding || sourceBytes == 0 || source == nullptr)
        return (source == nullptr ? 0 : sourceBytes) + target->terminatorSize;

    auto* in = static_cast<const unsigned char*>(source);
    const int from = resolveSourceOrder(in, sourceBytes, sourceEncoding);
    const MeasureLoop measure = kMeasure[codecOf(targetEncoding)][codecOf(from)];
    return target->terminatorSize + measure(Source{in, sourceBytes}, targetEncoding == kUtf16);
}

bool convert(const void* source, std::size_t sourceBytes, int sourceEncoding, void* target,
             std::size_t targetBytes, int targetEncoding)
{
    const EncodingInfo* to = encodingInfo(targetEncoding);
    if (to == nullptr || encodingInfo(sourceEncoding) == nullptr || target == nullptr)
        return false;
    const std::size_t terminator = static_cast<std::size_t>(to->terminatorSize);
    if (targetBytes < terminator)
        return false;
    auto* out = static_cast<unsigned char*>(target);
    // Room for characters; the terminator always has its own place behind them.
    const std::size_t room = targetBytes - terminator;

    if (source == nullptr || sourceBytes == 0) {
        std::memset(out, 0, terminator);
        return true;
    }
    if (sourceEncoding == targetEncoding) {
        const std::size_t copied = sourceBytes < room ? sourceBytes : room;
        std::memmove(out, source, copied);
        std::memset(out + copied, 0, terminator);
        return copied == sourceBytes;
    }

    auto* in = static_cast<const unsigned char*>(source);
    const int from = resolveSourceOrder(in, sourceBytes, sourceEncoding);
    const ConvertLoop loop = kConvert[codecOf(targetEncoding)][codecOf(from)];
    const Written result = loop(Source{in, sourceBytes}, out, room, targetEncoding == kUtf16);
    std::memset(out + result.bytes, 0, terminator);
    return result.ok;
}

}  // namespace kyro::cstr
