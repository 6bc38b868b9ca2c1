// The escaping of value text on the wire: letters, digits, "-" and "_" travel as they are,
// every other byte as "!" and two lower-case hex digits. Escaped text never holds ",", "=",
// ";", "." or a line break, which is what keeps the wire format unambiguous.
#ifndef KYRO_PIPE_VEXESCAPE_H
#define KYRO_PIPE_VEXESCAPE_H

#include "kyro/util/TStr.h"

#include <cstddef>
#include <string>

namespace kyro::pipe {

TStr escape(const TStr& text);
// The escaped form of `length` bytes, appended to `out`.
void appendEscaped(std::string& out, const char* text, std::size_t length);

// Decodes "!hh" escapes (either case). A bad escape is reported to the framework's error
// report and ends the decoding: the result holds what was decoded before it. An escape cut
// short by the end of the text decodes to nothing.
TStr unescape(const TStr& text);
TStr unescape(const char* text, std::size_t length);

}  // namespace kyro::pipe

#endif
