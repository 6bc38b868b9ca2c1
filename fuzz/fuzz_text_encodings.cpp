// Text in any of the six encodings, read into a TStr and converted to every encoding. The
// first byte picks the source encoding (its value modulo 6; 0xFE and 0xFF stand for the
// encodings -1 and 6, which must be refused); the rest is the text.
#include "fuzz_check.h"

#include "kyro/util/TStr.h"
#include "kyro/util/c_str.h"

#include <cstring>
#include <memory>

using namespace kyro::cstr;

// Converts into exactly convertedSize() bytes (a write past them lands in ASan's redzone): the
// text and a whole terminator fill them, one byte less fails; within one encoding a copy.
static std::string convertExactly(const void* source, std::size_t bytes, int from, int to)
{
    const std::size_t size = convertedSize(source, bytes, from, to), terminator = static_cast<std::size_t>(encodingInfo(to)->terminatorSize);
    FUZZ_CHECK(size >= terminator);
    const std::unique_ptr<unsigned char[]> exact(new unsigned char[size]), tight(new unsigned char[size - 1 + (size == terminator)]);
    std::memset(exact.get(), 0xA5, size);
    const bool ok = convert(source, bytes, from, exact.get(), size, to);
    FUZZ_CHECK(std::string(reinterpret_cast<const char*>(exact.get()) + size - terminator, terminator) == std::string(terminator, '\0'));
    FUZZ_CHECK((from != to && bytes != 0) || (ok && size == bytes + terminator && std::memcmp(exact.get(), source, bytes) == 0));
    FUZZ_CHECK(size == terminator || !convert(source, bytes, from, tight.get(), size - 1, to));
    return std::string(reinterpret_cast<const char*>(exact.get()), size - terminator);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > 1 << 16)
        return 0;
    const int encoding = data[0] == 0xFE ? -1 : data[0] == 0xFF ? kEncodingCount : data[0] % kEncodingCount;
    const unsigned char* source = data + 1;
    const std::size_t bytes = size - 1;
    const TStr text(source, static_cast<int>(bytes), encoding);
    if (encodingInfo(encoding) == nullptr) {
        unsigned char target[8];
        FUZZ_CHECK(text.isNull());
        for (int other = -1; other <= kEncodingCount; ++other) {
            FUZZ_CHECK(convertedSize(source, bytes, encoding, other) == 0 && !convert(source, bytes, encoding, target, 8, other));
            FUZZ_CHECK(convertedSize(source, bytes, other, encoding) == 0 && !convert(source, bytes, other, target, 8, encoding));
        }
        return 0;
    }
    const std::size_t length = static_cast<std::size_t>(text.length());
    FUZZ_CHECK(!text.isNull() && length == std::strlen(text.utf8()));
    for (int to = 0; to < kEncodingCount; ++to) {
        // Read back and converted again, a conversion stays as it is (the first pass dropped what
        // the encoding cannot carry); the TStr holds what the direct conversions give.
        const std::string once = convertExactly(source, bytes, encoding, to);
        const TStr read(once.data(), static_cast<int>(once.size()), to);
        const std::string twice = convertExactly(read.utf8(), static_cast<std::size_t>(read.length()), kUtf8, to);
        FUZZ_CHECK(TStr(twice.data(), static_cast<int>(twice.size()), to) == read);
        FUZZ_CHECK(to != kUtf8 || std::strcmp(once.c_str(), text.utf8()) == 0);
        FUZZ_CHECK(to == kUtf8 || encoding == kUtf8 || to == encoding || convertExactly(text.utf8(), length, kUtf8, to) == once);
    }
    return 0;
}
