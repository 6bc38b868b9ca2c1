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

}  // namespace

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
    std::string decoded;
    decoded.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] != '!') {
            decoded += text[i];
            continue;
        }
        const std::size_t available = length - i - 1;
        const TStr digits(text + i + 1, static_cast<int>(available < 2 ? available : 2), kyro::cstr::kUtf8);
        if (available < 2) {
            // Cut short by the end of the text: nothing more to decode.
            reportError(TStr("Could not decode escape in string: %1 (%2)")
                            .arg(TStr(text, static_cast<int>(length), kyro::cstr::kUtf8))
                            .arg(digits));
            break;
        }
        bool ok = false;
        const int value = digits.toInt(&ok, 16);
        if (!ok) {
            reportError(TStr("Could not decode escape in string: %1 (%2)")
                            .arg(TStr(text, static_cast<int>(length), kyro::cstr::kUtf8))
                            .arg(digits));
            break;
        }
        if (value > 255) {
            reportError(TStr("UTF-8 character out of range: %1").arg(value));
            break;
        }
        decoded += static_cast<char>(value & 0xFF);
        i += 2;
    }
    return TStr(decoded.data(), static_cast<int>(decoded.size()), kyro::cstr::kUtf8);
}

TStr unescape(const TStr& text)
{
    return unescape(text.utf8(), static_cast<std::size_t>(text.length()));
}

}  // namespace kyro::pipe
