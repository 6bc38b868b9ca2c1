// Reading XML files for TinyXML, with the guards it needs.
//
// TinyXML 2.6.2 reads past the end of its input when a file ends inside a multi-byte UTF-8
// sequence, and recurses once per nesting level while parsing, printing and destroying. So
// the library never hands it a file directly: the bytes are read here (size-capped), line
// ends are normalised as TinyXML's own LoadFile does, the text ends at its first NUL (as it
// would there), and the parse runs on a buffer padded with NULs. Before TinyXML sees the
// text, the text is walked the way TinyXML's parser will read it (see countXml), and a file
// that would nest deeper than kXmlDepthLimit, make more than kXmlElementLimit elements or
// kXmlNodeLimit nodes of all kinds, give one element more than kXmlAttributeLimit
// attributes or all of them together more than kXmlAttributeTotalLimit is refused: TinyXML would recurse past its stack, or spend
// time growing with the square of the attribute count (each new attribute is compared with
// every earlier one of its element), and a file of the size cap made of nothing but small
// elements or comments would take far more memory than its size.
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
// The library's files hold a few hundred elements with at most three attributes each.
constexpr std::size_t kXmlElementLimit = 100000;
constexpr int kXmlAttributeLimit = 256;                    // on one element
constexpr std::size_t kXmlAttributeTotalLimit = 100000;    // on all elements together
// Elements, texts, comments, declarations and the like together.
constexpr std::size_t kXmlNodeLimit = 200000;

// Reads the rest of `file` and parses it into `document` (emptied first). False when the
// file cannot be read, is empty, too large, past one of the bounds above, or does not
// parse. The file stays open.
//
// The document is always UTF-8. A file whose XML declaration names another encoding
// ("ISO-8859-1", "windows-1252", ...) is converted from it, and one without a declaration
// that is not UTF-8 from the system code page (kyro/platform/text_encoding.h); the
// converted declaration names UTF-8. A file that cannot be converted is refused.
bool readXmlFile(std::FILE* file, TiXmlDocument* document);

// Opens `path` for reading and reads it as above. Only a plain file is read: a folder, a
// FIFO, a device or a pipe is refused without waiting on it.
bool readXmlFile(const TPath& path, TiXmlDocument* document);

// Parses `size` bytes of XML text as above.
bool parseXmlText(const char* data, std::size_t size, TiXmlDocument* document);

// What TinyXML would make of the text, counted by reading it the way TinyXML's parser does
// (it stops where that parser would stop with an error), without building anything.
// Counting stops one level past kXmlDepthLimit: `deepest` is then kXmlDepthLimit + 1.
struct XmlCounts {
    int deepest = 0;              // element nesting; the top element is 1
    std::size_t elements = 0;     // elements, all levels
    int mostAttributes = 0;       // the most attributes one element has
    std::size_t attributes = 0;   // attributes, all elements
    std::size_t nodes = 0;        // elements, texts, comments and the like
};
XmlCounts countXml(const char* data, std::size_t size,
                   TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN);

// Whether the text is well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF). A parse told that a file is UTF-8 does not check that it is; texts taken from
// such a file are checked before they are handed on.
bool isWellFormedUtf8(const char* text);

// The element's first text child (entities decoded), or empty: also when the element is
// null, has no text child, or that text is not well-formed UTF-8.
TStr firstTextOf(const TiXmlElement* element);

}  // namespace kyro::util

#endif
