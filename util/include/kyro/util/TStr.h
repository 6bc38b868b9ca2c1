// TStr: the library's one string type. It keeps its text as UTF-8 and converts to the other
// encodings on demand; messages are built from "%1".."%9" markers with successive arg()s.
//
// A TStr with no buffer (TStr()) and one holding the empty text (TStr("")) are both empty,
// but they differ: TStr() == TStr("") is false, TStr() < TStr("") is true, and TStr() equals
// only a null const char*.
//
// Counting: length(), mid()'s count and indexOf()'s result are bytes; charCount(), left(),
// right(), charAt(), mid()'s start and indexOf()'s start are characters (UTF-8 lead-byte
// steps). For ASCII text the two agree.
#ifndef KYRO_UTIL_TSTR_H
#define KYRO_UTIL_TSTR_H

#include "kyro/export.h"

#include <cstddef>
#include <cstdint>

namespace kyro::cstr {
struct Text;
}

class KYRO_EXPORT TStr {
public:
    TStr();
    TStr(const TStr& other);
    TStr(TStr&& other) noexcept;
    TStr(const char* utf8);
    explicit TStr(char c);                        // taken as ASCII: a byte above 127 is "?"
    TStr(const wchar_t* wide);                    // UTF-16 (mark honoured) where wchar_t has
    TStr(const wchar_t* wide, int count);         // 16 bits, UTF-32 where it has 32
    TStr(const void* data, int byteLength, int encoding);
    explicit TStr(long value, int base = 10);     // the value as a signed 32-bit number
    explicit TStr(int value, int base = 10);
    TStr(double value, char format, int precision);
    virtual ~TStr();

    TStr& operator=(const TStr& other);
    TStr& operator=(TStr&& other) noexcept;
    TStr& operator=(const char* utf8) { return assign(utf8); }
    TStr& assign(const char* utf8);
    // Replaces the text with byteLength bytes of wide text (encoding as for TStr(wchar_t*)).
    TStr& assignWide(const wchar_t* wide, int byteLength);

    // Comparison: bytes of the UTF-8 form, strcmp order. Negative, 0 or positive.
    static int compare(const TStr& a, const TStr& b);
    static int compare(const TStr& a, const char* b);

    TStr& operator+=(const TStr& other);
    TStr& operator+=(const char* utf8);
    TStr& operator+=(char byte);                  // the byte itself, unconverted
    // Appends `part` with `separator` between: one separator is dropped when both sides
    // have it, one is added when neither has. An empty part changes nothing; a string with
    // no buffer becomes a copy of the part.
    TStr& join(const char* part, const char* separator);

    int length() const;                           // bytes
    int charCount() const;
    bool isEmpty() const;                         // no buffer or empty text
    bool isNull() const;                          // no buffer
    char charAt(int index) const;                 // first byte of character `index`, or 0
    TStr left(int count) const;
    TStr right(int count) const;
    TStr mid(int start, int byteCount = -1) const;
    long indexOf(const TStr& needle, long start = 0, bool caseSensitive = true) const;
    long indexOf(char needle, long start = 0, bool caseSensitive = true) const;
    long indexOf(const char* needle, long start = 0, bool caseSensitive = true) const;
    TStr toUpper() const;
    TStr toLower() const;
    TStr trimmed() const;
    int toInt(bool* ok = nullptr, int base = 10) const;
    double toDouble(bool* ok = nullptr) const;
    std::uint32_t hashKey() const;

    // The format with its lowest place marker replaced by the value, padded to
    // |fieldWidth| with `fill` (before the value when positive, after when negative).
    TStr arg(const TStr& value, int fieldWidth = 0, char fill = ' ') const;
    TStr arg(const char* value, int fieldWidth = 0, char fill = ' ') const;
    TStr arg(long value, int fieldWidth = 0, int base = 10, char fill = ' ') const;
    TStr arg(int value, int fieldWidth = 0, int base = 10, char fill = ' ') const;

    void clear();                                 // drops the buffer
    // Returns the text after the last `separator` and cuts this string before it; without
    // one, returns the whole text and leaves this string with no buffer.
    TStr cutLast(const TStr& separator);
    // Returns the text before the first byte found in `delimiters` and removes it, that
    // delimiter and the delimiter bytes right behind it from this string.
    TStr nextToken(const TStr& delimiters);
    // Replaces every occurrence of `from` (not empty) by `to`, left to right.
    TStr& replaceAll(const TStr& from, const TStr& to);
    // A writable buffer of at least size + 1 bytes holding the text, for raw data.
    char* buffer(int size);

    // Conversions. The pointers stay valid until the string changes, converts to another
    // encoding, or dies. A string with no buffer gives an empty text.
    const char* utf8() const;
    const char* ascii() const;
    const wchar_t* wide() const;
    // Copies that belong to the caller; free them with releaseBuffer().
    wchar_t* newWide() const;
    char* newUtf8() const;
    static void releaseBuffer(void* buffer);

protected:
    kyro::cstr::Text* text() const { return m_text; }
    // The text object, created on first need; null only when memory has run out.
    kyro::cstr::Text* writableText();
    void dropCache() const;

private:
    const void* cached(int encoding) const;
    void setEncoded(const void* data, std::size_t byteLength, int encoding);

    // Created lazily: a string that never held text costs no heap block.
    kyro::cstr::Text* m_text;
    mutable char* m_cache;   // 32-bit encoding number, then the converted text
};

inline bool operator==(const TStr& a, const TStr& b) { return TStr::compare(a, b) == 0; }
inline bool operator!=(const TStr& a, const TStr& b) { return TStr::compare(a, b) != 0; }
inline bool operator==(const TStr& a, const char* b) { return TStr::compare(a, b) == 0; }
inline bool operator!=(const TStr& a, const char* b) { return TStr::compare(a, b) != 0; }
inline bool operator==(const char* a, const TStr& b) { return TStr::compare(b, a) == 0; }
inline bool operator!=(const char* a, const TStr& b) { return TStr::compare(b, a) != 0; }
inline bool operator<(const TStr& a, const TStr& b) { return TStr::compare(a, b) < 0; }

// New strings sized exactly for both parts.
KYRO_EXPORT TStr operator+(const TStr& a, const TStr& b);
KYRO_EXPORT TStr operator+(const TStr& a, const char* b);

#endif
