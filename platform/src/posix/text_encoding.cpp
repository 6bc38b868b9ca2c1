// POSIX backend of text encodings: iconv, which knows the IANA names itself.
#include "kyro/platform/text_encoding.h"

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace kyro::platform {

namespace {

bool convert(const char* data, std::size_t size, const char* from, std::string* utf8)
{
    const iconv_t converter = ::iconv_open("UTF-8", from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    // No legacy character takes more than four UTF-8 bytes.
    std::vector<char> out(size * 4 + 4);
    char* in = const_cast<char*>(data);
    std::size_t inLeft = size;
    char* outNext = out.data();
    std::size_t outLeft = out.size();
    const std::size_t failed = static_cast<std::size_t>(-1);
    const bool converted =
        size == 0 ||
        (::iconv(converter, &in, &inLeft, &outNext, &outLeft) != failed && inLeft == 0 &&
         ::iconv(converter, nullptr, nullptr, &outNext, &outLeft) != failed);
    ::iconv_close(converter);
    if (!converted)
        return false;
    utf8->assign(out.data(), static_cast<std::size_t>(outNext - out.data()));
    return true;
}

}  // namespace

bool textToUtf8(const char* data, std::size_t size, const char* encoding, std::string* utf8)
{
    if ((data == nullptr && size != 0) || utf8 == nullptr)
        return false;
    if (encoding != nullptr && *encoding != '\0')
        return convert(data, size, encoding, utf8);
    // Windows-1252 leaves five bytes undefined, which Windows itself still reads as the
    // control characters of ISO-8859-1.
    return convert(data, size, "WINDOWS-1252", utf8) || convert(data, size, "ISO-8859-1", utf8);
}

}  // namespace kyro::platform
