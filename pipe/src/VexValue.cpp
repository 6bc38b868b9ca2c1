#include "kyro/pipe/VexValue.h"

#include "kyro/pipe/VexDictionary.h"
#include "kyro/pipe/VexEscape.h"
#include "kyro/pipe/VexMessages.h"
#include "kyro/util/c_str.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

using kyro::pipe::escape;
using kyro::pipe::reportError;
using kyro::pipe::unescape;

VexValue::VexValue() : m_type(kEmpty)
{
    m_payload.integer = 0;
}

VexValue::VexValue(int value) : m_type(kInteger)
{
    m_payload.integer = value;
}

VexValue::VexValue(const TStr& text) : VexValue()
{
    setText(kString, text);
}

VexValue::VexValue(VexDictionary* dictionary) : VexValue()
{
    setDictionary(dictionary);
}

VexValue::VexValue(const TList<TStr>& list) : VexValue()
{
    setText(kList, listText(list));
}

VexValue::VexValue(const VexValue& other) : VexValue()
{
    assign(other);
}

VexValue& VexValue::operator=(const VexValue& other)
{
    assign(other);
    return *this;
}

VexValue::VexValue(VexValue&& other) noexcept : m_type(other.m_type), m_payload(other.m_payload)
{
    other.m_type = kEmpty;
    other.m_payload.integer = 0;
}

VexValue& VexValue::operator=(VexValue&& other) noexcept
{
    if (this != &other) {
        reset();
        m_type = other.m_type;
        m_payload = other.m_payload;
        other.m_type = kEmpty;
        other.m_payload.integer = 0;
    }
    return *this;
}

VexValue::~VexValue()
{
    reset();
}

void VexValue::assign(const VexValue& other)
{
    if (this == &other)
        return;
    // The other's content is taken before this value's old payload goes: the other may
    // live inside a dictionary that only this value keeps alive.
    switch (other.m_type) {
    case kBoolean: {
        const bool value = other.m_payload.boolean;
        reset();
        setBool(value);
        break;
    }
    case kInteger: {
        const std::int32_t value = other.m_payload.integer;
        reset();
        m_type = kInteger;
        m_payload.integer = value;
        break;
    }
    case kDouble: {
        const double value = *other.m_payload.real;
        reset();
        setDouble(value);
        break;
    }
    case kString:
    case kList: {
        const TStr text(*other.m_payload.text);
        const std::uint32_t type = other.m_type;
        reset();
        setText(type, text);
        break;
    }
    case kDictionary: {
        VexDictionary* dictionary = other.m_payload.dictionary;
        dictionary->addRef();
        reset();
        m_type = kDictionary;
        m_payload.dictionary = dictionary;
        break;
    }
    default:
        reset();
        break;
    }
}

void VexValue::reset()
{
    switch (m_type) {
    case kDouble:
        delete m_payload.real;
        break;
    case kString:
    case kList:
        m_payload.text->~TStr();
        kyro::cstr::release(m_payload.text);
        break;
    case kDictionary:
        m_payload.dictionary->release();
        break;
    default:
        break;
    }
    m_type = kEmpty;
    m_payload.integer = 0;
}

void VexValue::setBool(bool value)
{
    m_type = kBoolean;
    m_payload.boolean = value;
}

void VexValue::setDouble(double value)
{
    m_payload.real = new (std::nothrow) double(value);
    m_type = m_payload.real != nullptr ? kDouble : kEmpty;
}

void VexValue::setText(std::uint32_t type, TStr text)
{
    // The owned text object comes from the string allocator like the text it holds:
    // small blocks, served from the thread's cache.
    void* storage = kyro::cstr::allocateUnfilled(sizeof(TStr));
    m_payload.text = storage == nullptr ? nullptr : ::new (storage) TStr(std::move(text));
    m_type = m_payload.text != nullptr ? type : kEmpty;
}

void VexValue::setDictionary(VexDictionary* dictionary)
{
    if (dictionary == nullptr)
        return;
    dictionary->addRef();
    m_type = kDictionary;
    m_payload.dictionary = dictionary;
}

TStr VexValue::asString() const
{
    switch (m_type) {
    case kBoolean:
        return TStr(m_payload.boolean ? "true" : "false");
    case kInteger:
        return TStr(m_payload.integer);
    case kDouble:
        return TStr(*m_payload.real, 'g', 6);
    case kString:
    case kList:
        return *m_payload.text;
    case kDictionary:
        return m_payload.dictionary->marshal();
    default:
        return TStr("");
    }
}

int VexValue::asInt() const
{
    switch (m_type) {
    case kBoolean:
        return m_payload.boolean ? 1 : 0;
    case kInteger:
        return m_payload.integer;
    case kDouble: {
        // Truncated toward zero; out-of-range values are clamped instead of overflowing.
        const double value = *m_payload.real;
        if (!(value == value))
            return 0;
        if (value >= 2147483647.0)
            return 2147483647;
        if (value <= -2147483648.0)
            return -2147483647 - 1;
        return static_cast<int>(value);
    }
    case kString: {
        bool ok = false;
        const int value = m_payload.text->toInt(&ok, 10);
        return ok ? value : 0;
    }
    default:
        return 0;
    }
}

double VexValue::asDouble() const
{
    switch (m_type) {
    case kBoolean:
        return m_payload.boolean ? 1.0 : 0.0;
    case kInteger:
        return m_payload.integer;
    case kDouble:
        return *m_payload.real;
    case kString: {
        bool ok = false;
        const double value = m_payload.text->toDouble(&ok);
        return ok ? value : 0.0;
    }
    default:
        return 0.0;
    }
}

bool VexValue::asBool() const
{
    switch (m_type) {
    case kBoolean:
        return m_payload.boolean;
    case kInteger:
        return m_payload.integer != 0;
    case kDouble:
        return *m_payload.real != 0.0;
    case kString:
    case kList:
        return !m_payload.text->isNull();
    case kDictionary:
        return m_payload.dictionary != nullptr;
    default:
        return false;
    }
}

TStr VexValue::marshal() const
{
    std::string marshalled;
    appendMarshalled(marshalled);
    return TStr(marshalled.data(), static_cast<int>(marshalled.size()), kyro::cstr::kUtf8);
}

void VexValue::appendMarshalled(std::string& out) const
{
    out += static_cast<char>('a' + m_type);
    switch (m_type) {
    case kString:
    case kList:
        kyro::pipe::appendEscaped(out, m_payload.text->utf8(), static_cast<std::size_t>(m_payload.text->length()));
        break;
    case kInteger: {
        // Digits and "-" travel as they are.
        char digits[40];
        out.append(digits, static_cast<std::size_t>(kyro::cstr::formatInt(m_payload.integer, 10, digits)));
        break;
    }
    case kBoolean:
        out += m_payload.boolean ? "true" : "false";
        break;
    case kDictionary: {
        std::string inner;
        m_payload.dictionary->appendItems(inner, ',', false);
        kyro::pipe::appendEscaped(out, inner.data(), inner.size());
        break;
    }
    case kEmpty:
        break;
    default: {
        const TStr text = asString();
        kyro::pipe::appendEscaped(out, text.utf8(), static_cast<std::size_t>(text.length()));
        break;
    }
    }
}

TStr VexValue::listText(const TList<TStr>& list)
{
    TStr text = TStr("#%1:").arg(list.count());
    bool first = true;
    for (TList<TStr>::Iterator element = list.first(); !element.atEnd(); element.advance()) {
        if (!first)
            text += ",";
        first = false;
        text += escape(element.current());
    }
    return text;
}

VexValue VexValue::unmarshal(const TStr& text)
{
    return unmarshal(text.utf8(), static_cast<std::size_t>(text.length()));
}

VexValue VexValue::unmarshal(const char* text, std::size_t length)
{
    int keysLeft = VexDictionary::kMaxKeys;
    return unmarshal(text, length, 0, &keysLeft);
}

VexValue VexValue::unmarshal(const char* text, std::size_t length, int depth, int* keysLeft)
{
    VexValue value;
    if (length == 0)
        return value;
    // Numbers and booleans without escapes are read in place.
    const bool plain = std::memchr(text + 1, '!', length - 1) == nullptr;
    if (plain && text[0] == 'd' && length < 48) {
        char digits[48];
        std::memcpy(digits, text + 1, length - 1);
        digits[length - 1] = '\0';
        std::int32_t number = 0;
        kyro::cstr::parseInt(digits, 10, &number);
        value.m_type = kInteger;
        value.m_payload.integer = number;
        return value;
    }
    if (plain && text[0] == 'c') {
        value.setBool(length == 5 && std::memcmp(text + 1, "true", 4) == 0);
        return value;
    }
    TStr body = unescape(text + 1, length - 1);
    switch (text[0]) {
    case 'c':
        value.setBool(body == "true");
        break;
    case 'd': {
        bool ok = false;
        const int number = body.toInt(&ok, 10);
        value.m_type = kInteger;
        value.m_payload.integer = ok ? number : 0;
        break;
    }
    case 'e':
        // Read as strtod does in the "C" locale, what it can from the start; trailing
        // text is ignored here.
        value.setDouble(kyro::cstr::parseDouble(body.utf8(), nullptr));
        break;
    case 'h':
        value.setText(kString, std::move(body));
        break;
    case 'i':
        if (depth >= kMaxNesting) {
            reportError(TStr("could not unmarshal data value %1: dictionaries nested deeper than %2")
                            .arg(TStr(text, static_cast<int>(length), kyro::cstr::kUtf8))
                            .arg(kMaxNesting));
            break;
        }
        if (VexDictionary* dictionary = VexDictionary::unmarshal(body, depth + 1, keysLeft)) {
            value.setDictionary(dictionary);
            dictionary->release();  // the value holds the only reference now
        }
        break;
    case 'j':
        value.setText(kList, std::move(body));
        break;
    default:
        reportError(TStr("could not unmarshal data value %1").arg(TStr(text, static_cast<int>(length), kyro::cstr::kUtf8)));
        break;
    }
    return value;
}
