// Text in any of the six encodings, read into a TStr and converted to every encoding. The
// first byte picks the source encoding (its value modulo 6; 0xFE and 0xFF stand for the
// encodings -1 and 6, which must be refused); the rest is the text.
#include "fuzz_check.h"

#include "kyro/util/TStr.h"
#include "kyro/util/c_str.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

using namespace kyro::cstr;

namespace {

// Converts into a heap block of exactly convertedSize() bytes (a write past it lands in
// ASan's redzone) and checks the size's promise: the text and a whole terminator fill it,
// and one byte less fails. A plain copy within one encoding. Returns the text.
std::string convertExactly(const void* source, std::size_t bytes, int from, int to)
{
    const std::size_t size = convertedSize(source, bytes, from, to);
    const std::size_t terminator = static_cast<std::size_t>(encodingInfo(to)->terminatorSize);
    FUZZ_CHECK(size >= terminator);
    const std::unique_ptr<unsigned char[]> exact(new unsigned char[size]), tight(new unsigned char[size - 1 + (size == terminator)]);
    std::memset(exact.get(), 0xA5, size);
    const bool ok = convert(source, bytes, from, exact.get(), size, to);
    for (std::size_t i = size - terminator; i < size; ++i)
        FUZZ_CHECK(exact[i] == 0);
    if (from == to || bytes == 0)
        FUZZ_CHECK(ok && size == bytes + terminator && std::memcmp(exact.get(), source, bytes) == 0);
    FUZZ_CHECK(size == terminator || !convert(source, bytes, from, tight.get(), size - 1, to));
    return std::string(reinterpret_cast<const char*>(exact.get()), size - terminator);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const kyro_fuzz::AllocationBalance balance;
    if (size == 0 || size > 1 << 16)
        return 0;
    const int encoding = data[0] == 0xFE ? -1 : data[0] == 0xFF ? kEncodingCount : data[0] % kEncodingCount;
    const unsigned char* source = data + 1;
    const std::size_t bytes = size - 1;
    const TStr text(source, static_cast<int>(bytes), encoding);
    if (encodingInfo(encoding) == nullptr) {
        unsigned char target[8];
        FUZZ_CHECK(text.isNull());
        for (int to = -1; to <= kEncodingCount; ++to)
            FUZZ_CHECK(convertedSize(source, bytes, encoding, to) == 0 && !convert(source, bytes, encoding, target, 8, to));
        FUZZ_CHECK(convertedSize(source, bytes, kUtf8, encoding) == 0 && !convert(source, bytes, kUtf8, target, 8, encoding));
        return 0;
    }
    FUZZ_CHECK(!text.isNull());
    const std::size_t length = static_cast<std::size_t>(text.length());
    FUZZ_CHECK(length == std::strlen(text.utf8()));
    for (int to = 0; to < kEncodingCount; ++to) {
        // Read back and converted again, a conversion stays as it is: the first pass drops
        // what the encoding cannot carry, the second has nothing to drop.
        const std::string once = convertExactly(source, bytes, encoding, to);
        const TStr read(once.data(), static_cast<int>(once.size()), to);
        const std::string twice = convertExactly(read.utf8(), static_cast<std::size_t>(read.length()), kUtf8, to);
        FUZZ_CHECK(TStr(twice.data(), static_cast<int>(twice.size()), to) == read);
        // The TStr holds the UTF-8 conversion, and every character the direct conversion reached.
        if (to == kUtf8)
            FUZZ_CHECK(std::strcmp(once.c_str(), text.utf8()) == 0);
        else if (encoding != kUtf8 && to != encoding)
            FUZZ_CHECK(convertExactly(text.utf8(), length, kUtf8, to) == once);
    }

    // TStr's own conversions.
    const std::string ascii = text.ascii();
    FUZZ_CHECK(ascii == convertExactly(text.utf8(), length, kUtf8, kAscii));
    const std::string wide = convertExactly(text.utf8(), length, kUtf8, kWideOutputEncoding);
    FUZZ_CHECK(wide.size() == std::wcslen(text.wide()) * sizeof(wchar_t) && std::memcmp(text.wide(), wide.data(), wide.size()) == 0);
    FUZZ_CHECK(std::strcmp(text.ascii(), ascii.c_str()) == 0);   // the cache switches back
    FUZZ_CHECK(TStr(text.wide()) == TStr(TStr(text.wide()).wide()));   // wide text reads back

    // Split at a character, the two parts give the text back; charAt and mid agree.
    const long count = text.charCount();
    FUZZ_CHECK(count <= text.length());
    for (long k : {0L, 1L, count / 2, count - 1, count, bytes == 0 ? 0L : static_cast<long>(source[bytes - 1]) % (count + 1)}) {
        if (k < 0 || k > count)
            continue;
        const TStr left = text.left(static_cast<int>(k)), right = text.right(static_cast<int>(count - k));
        FUZZ_CHECK(left.charCount() == k && right.charCount() == count - k && left + right == text);
        FUZZ_CHECK(text.mid(static_cast<int>(k), -1) == right && text.charAt(static_cast<int>(k)) == right.utf8()[0]);
    }
    return 0;
}
