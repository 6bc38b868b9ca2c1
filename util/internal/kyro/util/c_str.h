// The text library under TStr and TPath: the counting string allocator, the table of
// six text encodings, and free functions over a text object (a counted UTF-8 buffer).
//
// Trade-offs, on purpose:
//  - Buffers are sized exactly (terminator included) and grown only by reallocation to
//    the exact new size. There is no spare capacity and no small-string storage.
//  - Characters are found by stepping over UTF-8 lead bytes from the start, so positional
//    operations are linear. Continuation bytes are not checked, but a step never passes
//    the terminator, so damaged text cannot make anything read past its buffer.
//  - Every buffer of the text and container libraries comes from one allocator that
//    counts the bytes and blocks it holds. The counters are statistics: they are updated
//    without a lock, so they may be off by a little when threads allocate at once.
#ifndef KYRO_UTIL_C_STR_H
#define KYRO_UTIL_C_STR_H

#include <cstddef>
#include <cstdint>

namespace kyro::cstr {

// ---- String allocator ----------------------------------------------------------------

// A zero-filled block of `size` bytes; null when the heap has none. The block is counted
// as size + 4 bytes (its size header).
void* allocate(std::size_t size);

// The same without the zero fill, for callers that write every byte themselves.
void* allocateUnfilled(std::size_t size);

// Frees a block from allocate() and returns the bytes it was counted as; 0 for null.
std::size_t release(void* block);

// The bytes and blocks currently held through allocate().
std::int64_t allocatedBytes();
std::int64_t allocatedBlocks();

// ---- Encodings -----------------------------------------------------------------------

enum Encoding : int {
    kAscii = 0,      // one byte per character; bytes 0x80-0xFF and non-ASCII become "?"
    kUtf8 = 1,       // the internal form
    kUtf16 = 2,      // UTF-16 with byte-order mark (read: either order; written: FF FE)
    kUtf16BE = 3,
    kUtf16LE = 4,    // the Windows wide form
    kUtf32 = 5,      // machine order
};
constexpr int kEncodingCount = 6;

// How wchar_t text is read (TStr(const wchar_t*)) and produced (TStr::wide()): UTF-16
// where wchar_t has 16 bits (Windows), UTF-32 where it has 32.
constexpr int kWideInputEncoding = sizeof(wchar_t) == 2 ? kUtf16 : kUtf32;
constexpr int kWideOutputEncoding = sizeof(wchar_t) == 2 ? kUtf16LE : kUtf32;

// A decoded character. ASCII bytes 0x80-0xFF decode to negative values; every encoder
// writes those, like anything it cannot represent, as "?".
using CodePoint = std::int32_t;

struct EncodingInfo {
    int unitSize;
    int maxBytesPerChar;
    int terminatorSize;
    bool variableWidth;
    // Writes one character; returns the bytes written, 0 when it cannot (no room, or a
    // character the encoding refuses).
    int (*encode)(CodePoint c, unsigned char* out, std::size_t room);
    // Reads one character; returns the bytes consumed, 0 on failure.
    int (*decode)(const unsigned char* in, std::size_t available, CodePoint* c);
    // The bytes encode() would write, 0 when it would refuse.
    int (*encodedLength)(CodePoint c);
    // Byte length of a terminated string of this encoding, terminator excluded.
    std::size_t (*terminatedLength)(const void* text);
};

// The row of an encoding number; null outside 0-5.
const EncodingInfo* encodingInfo(int encoding);

// Bytes needed to hold `source` converted to `targetEncoding`, terminator included.
// Counting stops where conversion would stop (end of source, a decoded zero, a character
// that cannot be decoded or encoded). Same encoding: sourceBytes + the terminator.
std::size_t convertedSize(const void* source, std::size_t sourceBytes, int sourceEncoding,
                          int targetEncoding);

// Converts into target (targetBytes of room, terminator included) and always terminates
// what it wrote when there is room for a terminator. False when a character could not
// be decoded or encoded or the room ran out; the target then holds what was converted.
bool convert(const void* source, std::size_t sourceBytes, int sourceEncoding, void* target,
             std::size_t targetBytes, int targetEncoding);

// ---- UTF-8 stepping ------------------------------------------------------------------

// Bytes of the character led by `lead`: 6 from 0xFC, 5 from 0xF8, 4 from 0xF0, 3 from
// 0xE0, 2 from 0xC0, otherwise 1.
int utf8LeadLength(unsigned char lead);

// Bytes of the character at `p`, never passing the terminator. 0 at the terminator.
int utf8Step(const char* p);

// Byte offset of character `index` in terminated text; -1 when the text is shorter.
long utf8ByteOffset(const char* text, long index);

// Number of characters in terminated text.
long utf8CharCount(const char* text);

// Bytes taken by the first `count` characters (all of them when count < 0 or when the text
// has fewer).
std::size_t utf8PrefixBytes(const char* text, long count);

// ---- Numbers -----------------------------------------------------------------------------

// The C locale's decimal point as the host's setlocale() made it ("." or "," or longer).
const char* localeDecimalPoint();

// strtod() as it reads in the "C" locale, whatever locale the host has set: "." is the
// decimal point, and reading stops at the host locale's own point. *end (when given) is
// where reading stopped in `text`.
double parseDouble(const char* text, const char** end);

// ---- Text objects --------------------------------------------------------------------

// A counted UTF-8 buffer. With data set, the text ends at the first NUL inside the buffer.
// No buffer (null data) and a buffer holding only the terminator are both empty, but they
// are different texts.
struct Text {
    char* data;
    std::int32_t capacity;  // buffer size in bytes, terminator included; 0 with no buffer
};

Text* textCreate();                // a text object with no buffer, from the allocator
// A text object holding a copy of `bytes` UTF-8 bytes (the common case of a new string,
// in one call). Null when memory runs out.
Text* textCreateFrom(const char* utf8, std::size_t bytes);
// A text object with a buffer for `bytes` bytes plus the terminator, which is in place; the
// caller writes the bytes. Its buffer is null when memory runs out.
Text* textCreateSized(std::size_t bytes);
void textDestroy(Text* text);      // frees the buffer and the object; null is fine
void textClear(Text* text);        // drops the buffer

// Byte length of the text (0 with no buffer).
std::size_t textLength(const Text* text);

// Replaces the text by `sourceBytes` bytes of `source` in `encoding` (0-5), stopping early
// at a decoded zero. The buffer is reallocated, to exactly the needed size, only when it
// is too small. An encoding outside 0-5 leaves the text unchanged (false). The source may
// point into the text's own buffer.
bool textSet(Text* text, const void* source, std::size_t sourceBytes, int encoding);

// Appends `bytes` UTF-8 bytes (stopping at a NUL among them). The buffer grows to exactly
// the new length + 1 when it is too small. The source may point into the text itself.
// Empty or null sources change nothing. False only when memory runs out.
bool textAppend(Text* text, const char* source, std::size_t bytes);

// Puts `part` in front of the text, with the same separator rule as textJoin.
bool textPrepend(Text* text, const char* part, const char* separator);

// Joins `part` to the text with `separator` (may be null or empty): an empty or null
// part changes nothing; a text with no buffer becomes a copy of the part; when both the
// text ends with and the part starts with the separator, one is dropped; when neither
// has it, it is put between them.
bool textJoin(Text* text, const char* part, const char* separator);

// Makes sure the buffer holds at least `size` bytes, keeping the text.
bool textReserve(Text* text, std::size_t size);

// strcmp order of the UTF-8 bytes; no buffer sorts before any buffer and equals only
// another text with no buffer (or a null pointer).
int textCompare(const Text* a, const Text* b);
int textCompare(const Text* a, const char* b);

// ---- Searching and parsing over terminated UTF-8 ------------------------------------

// Byte offset of `needle` in `text` at or after byte offset `from`; -1 when absent.
// caseSensitive false compares ASCII letters without regard to case.
long findBytes(const char* text, std::size_t from, const char* needle, bool caseSensitive);

// Byte offset of the last occurrence of `needle` (not empty) in `text`; -1 when absent.
long findLastBytes(const char* text, const char* needle);

// Parses a whole number in `base` (2-36) with the library's rules: blanks (space, tab,
// line feed) around it, one sign, no prefix, the value must fit in 32 bits. False, with
// *value 0, otherwise.
bool parseInt(const char* text, int base, std::int32_t* value);

// Writes `value` (taken as a signed 32-bit number) in `base` (2-36, otherwise 10) with
// lower-case digits and a leading "-" when negative. Returns the length; `out` needs 34
// bytes.
int formatInt(std::int32_t value, int base, char* out);

}  // namespace kyro::cstr

#endif
