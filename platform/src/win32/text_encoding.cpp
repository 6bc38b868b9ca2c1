// Windows backend of text encodings: the IANA name's code page, MultiByteToWideChar.
#include "kyro/platform/text_encoding.h"

#include "windows_support.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kyro::platform {

namespace {

bool sameName(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        const char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        if (x != *b)
            return false;
    }
    return *a == *b;
}

// The digits after `prefix` (any case), or 0.
unsigned numberAfter(const char* name, const char* prefix)
{
    const std::size_t length = std::strlen(prefix);
    if (std::strlen(name) <= length || !sameName(std::string(name, length).c_str(), prefix))
        return 0;
    char* end = nullptr;
    const unsigned long number = std::strtoul(name + length, &end, 10);
    return *end == '\0' && number > 0 && number < 100000 ? static_cast<unsigned>(number) : 0;
}

// The code page of an IANA encoding name; 0 when it is not known.
UINT codePageOf(const char* name)
{
    static const struct {
        const char* name;
        UINT codePage;
    } kNames[] = {
        {"us-ascii", 20127},  {"ascii", 20127},     {"latin1", 28591},    {"l1", 28591},
        {"iso_8859-1", 28591}, {"shift_jis", 932},  {"sjis", 932},        {"x-sjis", 932},
        {"windows-31j", 932}, {"euc-jp", 20932},    {"gbk", 936},         {"gb2312", 936},
        {"big5", 950},        {"euc-kr", 949},      {"ks_c_5601-1987", 949}, {"koi8-r", 20866},
        {"koi8-u", 21866},    {"utf-8", CP_UTF8},   {"utf8", CP_UTF8},
    };
    for (const auto& known : kNames) {
        if (sameName(name, known.name))
            return known.codePage;
    }
    if (const unsigned part = numberAfter(name, "iso-8859-"))
        return part <= 16 ? 28590 + part : 0;
    if (const unsigned page = numberAfter(name, "windows-"))
        return page;
    if (const unsigned page = numberAfter(name, "cp"))
        return page;
    if (const unsigned page = numberAfter(name, "ibm"))
        return page;
    return 0;
}

}  // namespace

bool textToUtf8(const char* data, std::size_t size, const char* encoding, std::string* utf8)
{
    if ((data == nullptr && size != 0) || utf8 == nullptr || size > INT_MAX / 2)
        return false;
    // The system code page by number: CP_ACP is 0, which codePageOf answers for "unknown".
    const UINT codePage =
        encoding != nullptr && *encoding != '\0' ? codePageOf(encoding) : ::GetACP();
    if (codePage == 0 || !::IsValidCodePage(codePage))
        return false;
    if (size == 0) {
        utf8->clear();
        return true;
    }
    const int length = static_cast<int>(size);
    const DWORD strict = MB_ERR_INVALID_CHARS;
    const int units = ::MultiByteToWideChar(codePage, strict, data, length, nullptr, 0);
    if (units <= 0)
        return false;
    std::vector<wchar_t> wide(static_cast<std::size_t>(units));
    if (::MultiByteToWideChar(codePage, strict, data, length, wide.data(), units) != units)
        return false;
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return false;
    std::string text(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &text[0], bytes, nullptr, nullptr);
    utf8->swap(text);
    return true;
}

}  // namespace kyro::platform
