#include "kyro/pipe/VexPipePacket.h"

#include "kyro/pipe/VexMessages.h"
#include "VexFields.h"
#include "kyro/util/c_str.h"

#include <cstring>

#include <string>

using kyro::pipe::FieldSplitter;
using kyro::pipe::FieldView;
using kyro::pipe::trace;

namespace {

// A decimal field (blanks around it allowed), 0 when it is not a number.
std::int32_t numberOf(const FieldView& field)
{
    char digits[48];
    std::int32_t value = 0;
    if (field.length < sizeof digits) {
        std::memcpy(digits, field.begin, field.length);
        digits[field.length] = '\0';
        kyro::cstr::parseInt(digits, 10, &value);
    } else {
        value = field.text().toInt(nullptr, 10);
    }
    return value;
}

}  // namespace

VexPipePacket::VexPipePacket(std::uint32_t waitMode)
    : m_method(""), m_facility(""), m_sessionNumber(0), m_peerSessionNumber(0), m_spareNumber(0),
      m_waitMode(waitMode)
{
}

VexPipePacket::VexPipePacket(const TStr& fullName, std::uint32_t waitMode) : VexPipePacket(waitMode)
{
    setFullName(fullName);
}

VexPipePacket::VexPipePacket(const VexPipePacket& other) : VexPipePacket(kWaitInherit)
{
    assign(other);
}

VexPipePacket& VexPipePacket::operator=(const VexPipePacket& other)
{
    assign(other);
    return *this;
}

VexPipePacket::~VexPipePacket() = default;

void VexPipePacket::assign(const VexPipePacket& other)
{
    if (this == &other)
        return;
    m_method = other.m_method;
    m_facility = other.m_facility;
    m_sessionNumber = other.m_sessionNumber;
    m_peerSessionNumber = other.m_peerSessionNumber;
    m_spareNumber = other.m_spareNumber;
    m_waitMode = other.m_waitMode;
    m_payload.assign(other.m_payload);
}

TStr VexPipePacket::facility() const
{
    return m_facility;
}

TStr VexPipePacket::method() const
{
    return m_method;
}

TStr VexPipePacket::fullName() const
{
    TStr name(m_facility);
    name += ".";
    name += m_method;
    return name;
}

void VexPipePacket::setFacility(const TStr& facility)
{
    m_facility = facility;
}

void VexPipePacket::setMethod(const TStr& method)
{
    m_method = method;
}

void VexPipePacket::setFullName(const TStr& fullName)
{
    const long dot = fullName.indexOf('.');
    if (dot < 0) {
        m_facility = fullName;
        m_method = "";
        return;
    }
    m_facility = TStr(fullName.utf8(), static_cast<int>(dot), 1);
    m_method = TStr(fullName.utf8() + dot + 1);
}

void VexPipePacket::setString(const TStr& key, const TStr& text)
{
    if (!text.isNull())
        m_payload.setString(key, text);
}

TStr VexPipePacket::marshal(bool forSending) const
{
    const int first = forSending ? m_peerSessionNumber : m_sessionNumber;
    const int second = forSending ? m_sessionNumber : m_peerSessionNumber;
    std::string text;
    text.reserve(256);
    text += std::to_string(kVersion);
    text += ';';
    text.append(m_facility.utf8(), static_cast<std::size_t>(m_facility.length()));
    text += '.';
    text.append(m_method.utf8(), static_cast<std::size_t>(m_method.length()));
    for (const std::int32_t number : {first, second, m_spareNumber}) {
        char digits[40];
        text += ';';
        text.append(digits, static_cast<std::size_t>(kyro::cstr::formatInt(number, 10, digits)));
    }
    // The wait mode is unsigned, as it is kept.
    text += ';';
    text += std::to_string(m_waitMode);
    m_payload.appendItems(text, ';', true);
    TStr marshalled(text.data(), static_cast<int>(text.size()), 1);
    trace("Packet Marshalled:%1", marshalled);
    return marshalled;
}

// 1. Trace the line. 2. Take fields from the front, split at ";" (missing ones are empty).
// 3. The version must read 65536, or nothing changes. 4. The full name. 5. Four numbers:
// session, peer session, spare, wait mode. 6. Every further field is one payload item, up
// to VexDictionary::kMaxKeys keys for the whole line (nested dictionaries' included).
void VexPipePacket::unmarshal(const TStr& text)
{
    trace("Packet Unmarshalling:%1", text);
    FieldSplitter fields(text.utf8(), static_cast<std::size_t>(text.length()), ';');
    FieldView field;
    if (!fields.next(&field))
        return;
    if (numberOf(field) != kVersion)
        return;
    setFullName(fields.next(&field) ? field.text() : TStr(""));
    std::int32_t* const numbers[] = {&m_sessionNumber, &m_peerSessionNumber, &m_spareNumber};
    for (std::int32_t* number : numbers)
        *number = fields.next(&field) ? numberOf(field) : 0;
    m_waitMode = fields.next(&field) ? static_cast<std::uint32_t>(numberOf(field)) : 0;
    int keysLeft = VexDictionary::kMaxKeys;
    while (keysLeft >= 0 && fields.next(&field))
        m_payload.addItem(field.begin, field.length, &keysLeft);
}
