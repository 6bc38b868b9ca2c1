// Text in another encoding than UTF-8, as older data files were written, made UTF-8.
#ifndef KYRO_PLATFORM_TEXT_ENCODING_H
#define KYRO_PLATFORM_TEXT_ENCODING_H

#include <cstddef>
#include <string>

namespace kyro::platform {

// `size` bytes in the encoding named `encoding` (an IANA name as XML declarations give it:
// "ISO-8859-1", "windows-1252", "Shift_JIS", ...; case does not matter) into `utf8`. A null
// or empty name means the system code page: on Windows the ANSI code page (CP_ACP); where
// there is none, Windows-1252, in which the Western code page's files were written (a text
// with one of its five undefined bytes is read as ISO-8859-1). False, with `utf8`
// untouched, for an unknown name or bytes the encoding does not define.
// Windows: MultiByteToWideChar, the name mapped to its code page; POSIX: iconv.
bool textToUtf8(const char* data, std::size_t size, const char* encoding, std::string* utf8);

}  // namespace kyro::platform

#endif
