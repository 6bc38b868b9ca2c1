#include "kyro/pipe/VexEscape.h"

#include "kyro/pipe/VexMessages.h"
#include "kyro/util/c_str.h"

#include <cstring>
#include <string>

namespace kyro::pipe {

namespace {

bool travelsAsIs(unsigned char byte)
{
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '_';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

void appendEscaped(std::string& out, const char* text, std::size_t length)
{
    static const char kHex[] = "0123456789abcdef";
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    // Room for the worst case, written through a pointer, then cut to what was written.
    const std::size_t start = out.size();
    out.resize(start + 3 * length);
    char* write = &out[start];
    for (std::size_t i = 0; i < length; ++i) {
        if (travelsAsIs(bytes[i])) {
            *write++ = static_cast<char>(bytes[i]);
        } else {
            *write++ = '!';
            *write++ = kHex[bytes[i] >> 4];
            *write++ = kHex[bytes[i] & 15];
        }
    }
    out.resize(static_cast<std::size_t>(write - out.data()));
}

TStr escape(const TStr& text)
{
    static const char kHex[] = "0123456789abcdef";
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.utf8());
    const std::size_t length = static_cast<std::size_t>(text.length());
    std::size_t escapedLength = 0;
    for (std::size_t i = 0; i < length; ++i)
        escapedLength += travelsAsIs(bytes[i]) ? 1 : 3;
    TStr escaped;
    char* out = escaped.buffer(static_cast<int>(escapedLength));
    if (out == nullptr)
        return TStr("");
    for (std::size_t i = 0; i < length; ++i) {
        if (travelsAsIs(bytes[i])) {
            *out++ = static_cast<char>(bytes[i]);
        } else {
            *out++ = '!';
            *out++ = kHex[bytes[i] >> 4];
            *out++ = kHex[bytes[i] & 15];
        }
    }
    return escaped;
}

TStr unescape(const char* text, std::size_t length)
{
    // Most wire text has no escape at all.
    if (std::memchr(text, '!', length) == nullptr)
        return TStr(text, static_cast<int>(length), kyro::cstr::kUtf8);
    // Decoded text is never longer than its escaped form; short texts stay on the stack.
    char onStack[256];
    std::string onHeap;
    char* decodedStart = onStack;
    if (length > sizeof onStack) {
        onHeap.resize(length);
        decodedStart = &onHeap[0];
    }
    char* decoded = decodedStart;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != '!') {
            *decoded++ = text[i];
            continue;
        }
        const std::size_t available = length - i - 1;
        const std::size_t taken = available < 2 ? available : 2;
        // The two bytes are read by the library's integer parse (so blanks and a sign are
        // accepted there too), from a small terminated copy.
        char digits[3] = {0, 0, 0};
        std::memcpy(digits, text + i + 1, taken);
        std::int32_t value = 0;
        const int high = hexValue(digits[0]);
        const int low = hexValue(digits[1]);
        if (high >= 0 && low >= 0)
            value = high * 16 + low;   // the common case, as the parse would read it
        else if (available < 2 || !kyro::cstr::parseInt(digits, 16, &value)) {
            // A bad escape, or one cut short by the end of the text: decoding stops here.
            reportError(TStr("Could not decode escape in string: %1 (%2)")
                            .arg(TStr(text, static_cast<int>(length), kyro::cstr::kUtf8))
                            .arg(TStr(digits, static_cast<int>(taken), kyro::cstr::kUtf8)));
            break;
        }
        if (value > 255) {
            reportError(TStr("UTF-8 character out of range: %1").arg(static_cast<int>(value)));
            break;
        }
        *decoded++ = static_cast<char>(value & 0xFF);
        i += 2;
    }
    return TStr(decodedStart, static_cast<int>(decoded - decodedStart), kyro::cstr::kUtf8);
}

TStr unescape(const TStr& text)
{
    return unescape(text.utf8(), static_cast<std::size_t>(text.length()));
}

}  // namespace kyro::pipe
