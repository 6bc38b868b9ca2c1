// Fuzz target: text in any of the six encodings, read into a TStr and converted to every
// encoding, through TStr and through convertedSize()/convert().
//
// Input: the first byte picks the source encoding (its value modulo 6; 0xFE and 0xFF stand
// for the encoding numbers -1 and 6, which must be refused). The rest is the source text.
// Character positions for charAt/left/right/mid come from the last bytes of the input.
#include "fuzz_check.h"

#include "kyro/util/TStr.h"
#include "kyro/util/c_str.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using namespace kyro::cstr;

namespace {

using Bytes = std::vector<unsigned char>;

std::size_t terminatorOf(int encoding)
{
    return static_cast<std::size_t>(encodingInfo(encoding)->terminatorSize);
}

// A heap block of exactly `size` bytes, so that a write past it lands in ASan's redzone.
class ExactBlock {
public:
    explicit ExactBlock(std::size_t size, unsigned char fill)
        : m_data(static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : size))), m_size(size)
    {
        FUZZ_CHECK(m_data != nullptr);
        std::memset(m_data, fill, size);
    }
    ~ExactBlock() { std::free(m_data); }
    ExactBlock(const ExactBlock&) = delete;
    ExactBlock& operator=(const ExactBlock&) = delete;
    unsigned char* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    unsigned char* m_data;
    std::size_t m_size;
};

struct Conversion {
    Bytes text;        // the whole target buffer, terminator included
    std::size_t size;  // convertedSize()
    bool ok;
};

// Converts with convertedSize() + convert() into a buffer of exactly the reported size
// and checks what the two promise: the size is exactly what convert() fills (text and
// terminator), more room changes nothing, and less room fails but stays inside.
Conversion convertExactly(const void* source, std::size_t sourceBytes, int from, int to,
                          std::size_t cutHint)
{
    const std::size_t size = convertedSize(source, sourceBytes, from, to);
    const std::size_t terminator = terminatorOf(to);
    FUZZ_CHECK(size >= terminator);

    // Two fills: a byte convert() leaves alone shows up as a difference.
    ExactBlock a(size, 0xA5);
    ExactBlock b(size, 0x5A);
    const bool okA = convert(source, sourceBytes, from, a.data(), size, to);
    const bool okB = convert(source, sourceBytes, from, b.data(), size, to);
    FUZZ_CHECK(okA == okB);
    for (std::size_t i = size - terminator; i < size; ++i)
        FUZZ_CHECK(a.data()[i] == 0);
    if (from == to || source == nullptr || sourceBytes == 0) {
        // Same encoding: a plain copy of every byte.
        FUZZ_CHECK(okA);
        const std::size_t copied = source == nullptr ? 0 : sourceBytes;
        FUZZ_CHECK(size == copied + terminator);
        FUZZ_CHECK(copied == 0 || std::memcmp(a.data(), source, copied) == 0);
    } else {
        FUZZ_CHECK(std::memcmp(a.data(), b.data(), size) == 0);
        // The text part holds no terminator of its own.
        const std::size_t unit = static_cast<std::size_t>(encodingInfo(to)->unitSize);
        for (std::size_t at = 0; at + unit <= size - terminator; at += unit) {
            bool zero = true;
            for (std::size_t i = 0; i < unit; ++i)
                zero = zero && a.data()[at + i] == 0;
            FUZZ_CHECK(!zero);
        }
    }

    {
        ExactBlock roomy(size + 16, 0xA5);
        const bool ok = convert(source, sourceBytes, from, roomy.data(), roomy.size(), to);
        FUZZ_CHECK(ok == okA);
        FUZZ_CHECK(std::memcmp(roomy.data(), a.data(), size) == 0);
    }
    if (size > terminator) {
        ExactBlock tight(size - 1, 0xA5);
        FUZZ_CHECK(!convert(source, sourceBytes, from, tight.data(), tight.size(), to));
    }
    {
        // Any smaller size, terminator-less sizes included.
        const std::size_t cut = cutHint % size;
        ExactBlock small(cut, 0xA5);
        FUZZ_CHECK(!convert(source, sourceBytes, from, small.data(), cut, to));
    }
    return Conversion{Bytes(a.data(), a.data() + size), size, okA};
}

std::string asString(const Bytes& bytes)
{
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Character starts of terminated UTF-8 text, stepping by lead bytes and never past the
// terminator; the last entry is the terminator's offset.
std::vector<std::size_t> characterStarts(const char* text)
{
    std::vector<std::size_t> starts;
    const std::size_t length = std::strlen(text);
    std::size_t at = 0;
    while (at < length) {
        starts.push_back(at);
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        const std::size_t want = lead >= 0xFC ? 6 : lead >= 0xF8 ? 5 : lead >= 0xF0 ? 4
                               : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        at = at + want > length ? length : at + want;
    }
    starts.push_back(length);
    return starts;
}

bool sameText(const TStr& s, const char* bytes, std::size_t length)
{
    return !s.isNull() && static_cast<std::size_t>(s.length()) == length &&
           std::memcmp(s.utf8(), bytes, length) == 0;
}

bool identical(const TStr& a, const TStr& b)
{
    return a.isNull() == b.isNull() && a == b;
}

void checkPositions(const TStr& text, const std::vector<long>& positions)
{
    const char* data = text.utf8();
    const std::vector<std::size_t> starts = characterStarts(data);
    const long count = static_cast<long>(starts.size()) - 1;
    FUZZ_CHECK(text.charCount() == count);
    FUZZ_CHECK(count <= text.length());

    for (long k : positions) {
        const int index = static_cast<int>(k);
        const char expectedChar = (k < 0 || k >= count) ? 0 : data[starts[static_cast<std::size_t>(k)]];
        FUZZ_CHECK(text.charAt(index) == expectedChar);

        const TStr left = text.left(index);
        if (k < 0 || k >= count || text.isNull()) {
            FUZZ_CHECK(identical(left, text));
        } else {
            FUZZ_CHECK(sameText(left, data, starts[static_cast<std::size_t>(k)]));
            FUZZ_CHECK(left.charCount() == k);
        }

        const TStr right = text.right(index);
        if (k < 0 || k > count || text.isNull()) {
            FUZZ_CHECK(identical(right, text));
        } else {
            const std::size_t from = starts[static_cast<std::size_t>(count - k)];
            FUZZ_CHECK(sameText(right, data + from, starts.back() - from));
            FUZZ_CHECK(right.charCount() == k);
            FUZZ_CHECK(text.left(static_cast<int>(count - k)) + right == text);
        }

        const int byteCounts[] = {-1, 0, 1, 3, static_cast<int>(k % 7)};
        for (int byteCount : byteCounts) {
            const TStr mid = text.mid(index, byteCount);
            FUZZ_CHECK(!mid.isNull());
            const long start = k < 0 ? 0 : k;
            if (text.isNull() || start > count) {
                FUZZ_CHECK(mid.isEmpty());
                continue;
            }
            const std::size_t from = starts[static_cast<std::size_t>(start)];
            const std::size_t remaining = starts.back() - from;
            const std::size_t bytes = (byteCount >= 0 && static_cast<std::size_t>(byteCount) < remaining)
                                          ? static_cast<std::size_t>(byteCount) : remaining;
            FUZZ_CHECK(sameText(mid, data + from, bytes));
        }
    }
}

// Reading a conversion back and converting that again gives the same text: one pass
// through an encoding drops everything it cannot carry, the second has nothing to drop.
void checkStable(const Conversion& first, int encoding, std::size_t cutHint)
{
    const std::size_t terminator = terminatorOf(encoding);
    const TStr once(first.text.data(), static_cast<int>(first.size - terminator), encoding);
    FUZZ_CHECK(!once.isNull());
    const Conversion again =
        convertExactly(once.utf8(), static_cast<std::size_t>(once.length()), kUtf8, encoding, cutHint);
    const TStr twice(again.text.data(), static_cast<int>(again.size - terminator), encoding);
    FUZZ_CHECK(twice == once);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const kyro_fuzz::AllocationBalance balance;
    if (size == 0 || size > 1 << 16)
        return 0;
    int encoding = data[0] % kEncodingCount;
    if (data[0] == 0xFE)
        encoding = -1;
    else if (data[0] == 0xFF)
        encoding = kEncodingCount;
    const unsigned char* source = data + 1;
    const std::size_t sourceBytes = size - 1;
    const std::size_t cutHint = sourceBytes == 0 ? 0 : source[sourceBytes - 1] * 31u + sourceBytes;

    const TStr text(source, static_cast<int>(sourceBytes), encoding);

    if (encodingInfo(encoding) == nullptr) {
        FUZZ_CHECK(text.isNull());
        unsigned char target[8];
        for (int to = -1; to <= kEncodingCount; ++to) {
            FUZZ_CHECK(convertedSize(source, sourceBytes, encoding, to) == 0);
            FUZZ_CHECK(!convert(source, sourceBytes, encoding, target, sizeof target, to));
        }
        FUZZ_CHECK(convertedSize(source, sourceBytes, kUtf8, encoding) == 0);
        FUZZ_CHECK(!convert(source, sourceBytes, kUtf8, target, sizeof target, encoding));
    } else {
        FUZZ_CHECK(!text.isNull());
        // A null source or no bytes: only the terminator.
        for (int to = 0; to < kEncodingCount; ++to) {
            FUZZ_CHECK(convertedSize(nullptr, sourceBytes, encoding, to) == terminatorOf(to));
            FUZZ_CHECK(convertedSize(source, 0, encoding, to) == terminatorOf(to));
        }

        // The free functions, from the raw bytes to every encoding.
        Conversion direct[kEncodingCount];
        for (int to = 0; to < kEncodingCount; ++to) {
            direct[to] = convertExactly(source, sourceBytes, encoding, to, cutHint);
            checkStable(direct[to], to, cutHint);
        }
        // The TStr holds the UTF-8 conversion.
        FUZZ_CHECK(std::strcmp(text.utf8(), reinterpret_cast<const char*>(direct[kUtf8].text.data())) == 0);

        // Where the source is not UTF-8 the TStr carries every character the direct
        // conversion reached, so converting the TStr gives the same bytes.
        if (encoding != kUtf8) {
            for (int to = 0; to < kEncodingCount; ++to) {
                if (to == encoding)
                    continue;
                const Conversion viaText = convertExactly(
                    text.utf8(), static_cast<std::size_t>(text.length()), kUtf8, to, cutHint);
                FUZZ_CHECK(asString(viaText.text) == asString(direct[to].text));
            }
        }
    }

    // TStr's own conversions.
    FUZZ_CHECK(static_cast<std::size_t>(text.length()) == std::strlen(text.utf8()));
    const std::size_t length = static_cast<std::size_t>(text.length());
    const std::string ascii = text.ascii();
    const Conversion asciiExpected = convertExactly(text.utf8(), length, kUtf8, kAscii, cutHint);
    FUZZ_CHECK(ascii == reinterpret_cast<const char*>(asciiExpected.text.data()));
    for (unsigned char c : ascii)
        FUZZ_CHECK(c < 0x80);
    FUZZ_CHECK(ascii.size() <= length);

    const wchar_t* wide = text.wide();
    const std::size_t wideLength = std::wcslen(wide);
    const Conversion wideExpected = convertExactly(text.utf8(), length, kUtf8, kWideOutputEncoding, cutHint);
    FUZZ_CHECK(wideExpected.size == (wideLength + 1) * sizeof(wchar_t));
    FUZZ_CHECK(std::memcmp(wide, wideExpected.text.data(), wideExpected.size) == 0);
    wchar_t* ownedWide = text.newWide();
    FUZZ_CHECK(ownedWide != nullptr);
    FUZZ_CHECK(std::wcscmp(ownedWide, wide) == 0);
    FUZZ_CHECK(std::strcmp(text.ascii(), ascii.c_str()) == 0);  // the cache switches back
    const TStr fromWide(ownedWide);
    TStr::releaseBuffer(ownedWide);
    FUZZ_CHECK(fromWide == TStr(text.wide()));
    FUZZ_CHECK(TStr(TStr(fromWide.wide()).wide()) == TStr(fromWide.wide()));

    char* ownedUtf8 = text.newUtf8();
    FUZZ_CHECK(ownedUtf8 != nullptr);
    FUZZ_CHECK(std::strcmp(ownedUtf8, text.utf8()) == 0);
    TStr::releaseBuffer(ownedUtf8);

    // wchar_t input: the counted constructor and assignWide() read the machine's wide form.
    if (encoding == kWideInputEncoding) {
        const std::size_t units = sourceBytes / sizeof(wchar_t);
        std::vector<wchar_t> copy(units + 1, 0);
        std::memcpy(copy.data(), source, units * sizeof(wchar_t));
        const TStr counted(copy.data(), static_cast<int>(units));
        FUZZ_CHECK(identical(counted, TStr(source, static_cast<int>(units * sizeof(wchar_t)), encoding)));
        TStr assigned("x");
        assigned.assignWide(copy.data(), static_cast<int>(units * sizeof(wchar_t)));
        FUZZ_CHECK(identical(assigned, counted));
    }

    // Positions: fixed ones around the ends and some taken from the input.
    const long count = text.charCount();
    std::vector<long> positions = {-1, 0, 1, count / 2, count - 1, count, count + 1};
    if (sourceBytes >= 1)
        positions.push_back(static_cast<long>(source[sourceBytes - 1]) % (count + 2));
    if (sourceBytes >= 2)
        positions.push_back(static_cast<long>(static_cast<signed char>(source[sourceBytes - 2])));
    if (sourceBytes >= 3)
        positions.push_back(count - static_cast<long>(source[sourceBytes - 3] % 8));
    checkPositions(text, positions);
    return 0;
}
