// Splitting wire text into fields, without copying the rest of the text at each step (a
// line may be a megabyte long).
//
// The rule: the text before the first separator is the next field, and splitting goes on
// after it until nothing is left. "a,,b" gives "a", "", "b"; "a," gives "a"; "" gives no
// field; ",a" gives "", "a".
#ifndef KYRO_PIPE_VEXFIELDS_H
#define KYRO_PIPE_VEXFIELDS_H

#include "kyro/util/TStr.h"

#include <cstddef>
#include <cstring>

namespace kyro::pipe {

struct FieldView {
    const char* begin = nullptr;
    std::size_t length = 0;

    TStr text() const { return TStr(begin, static_cast<int>(length), 1); }
};

class FieldSplitter {
public:
    FieldSplitter(const char* text, std::size_t length, char separator)
        : m_next(text), m_end(text + length), m_separator(separator)
    {
    }

    // The next field; false when the text is used up.
    bool next(FieldView* field)
    {
        if (m_next == m_end)
            return false;
        const void* hit = std::memchr(m_next, m_separator, static_cast<std::size_t>(m_end - m_next));
        const char* stop = hit == nullptr ? m_end : static_cast<const char*>(hit);
        field->begin = m_next;
        field->length = static_cast<std::size_t>(stop - m_next);
        m_next = hit == nullptr ? m_end : stop + 1;
        return true;
    }

    // The text not split yet.
    FieldView rest() const { return FieldView{m_next, static_cast<std::size_t>(m_end - m_next)}; }

private:
    const char* m_next;
    const char* m_end;
    char m_separator;
};

}  // namespace kyro::pipe

#endif
