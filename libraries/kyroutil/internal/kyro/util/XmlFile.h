// Reading XML files for TinyXML, with the guards it needs.
//
// TinyXML 2.6.2 reads past the end of its input when a file ends inside a multi-byte UTF-8
// sequence, and recurses once per nesting level while parsing, printing and destroying. So
// the library never hands it a file directly: the bytes are read here (size-capped), line
// ends are normalised as TinyXML's own LoadFile does, the text ends at its first NUL (as it
// would there), nesting deeper than kXmlDepthLimit is refused, and the parse runs on a
// buffer padded with NULs.
//
// Internal: TinyXML types never appear in the library's public headers.
#ifndef KYRO_UTIL_XMLFILE_H
#define KYRO_UTIL_XMLFILE_H

#include "kyro/util/TPath.h"

#include <tinyxml.h>

#include <cstddef>
#include <cstdio>

namespace kyro::util {

// Larger files are refused unread: the library's own files are a few kilobytes.
constexpr std::size_t kXmlFileSizeLimit = 16u * 1024u * 1024u;
// The library's files are at most four levels deep.
constexpr int kXmlDepthLimit = 32;

// Reads the rest of `file` and parses it into `document` (emptied first). False when the
// file cannot be read, is empty, too large or too deep, or does not parse. The file stays
// open.
bool readXmlFile(std::FILE* file, TiXmlDocument* document,
                 TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN);

// Opens `path` for reading and reads it as above.
bool readXmlFile(const TPath& path, TiXmlDocument* document,
                 TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN);

// Parses `size` bytes of XML text as above.
bool parseXmlText(const char* data, std::size_t size, TiXmlDocument* document,
                  TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN);

// The deepest element nesting of the text, counted without parsing it. Comments,
// processing instructions, CDATA sections and declarations do not count.
int xmlNestingDepth(const char* data, std::size_t size);

// Whether the text is well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF). A parse told that a file is UTF-8 does not check that it is; texts taken from
// such a file are checked before they are handed on.
bool isWellFormedUtf8(const char* text);

// The element's first text child (entities decoded), or empty: also when the element is
// null, has no text child, or that text is not well-formed UTF-8.
TStr firstTextOf(const TiXmlElement* element);

}  // namespace kyro::util

#endif
