#include "kyro/pipe/VexPipeEndpoint.h"

#include "kyro/pipe/VexMessages.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

// One pump reads at most this much, so that a peer writing faster than it is read cannot
// keep the conduit's thread in here for ever.
constexpr std::size_t kMaxPumpBytes = VexPipeReadEndpoint::kMaxLineBytes + 4096;

TStr asciiLine(const char* bytes, std::size_t count)
{
    if (count == 0)
        return TStr("");
    // Lines are ASCII as a rule, and then their UTF-8 reading is the same text, made
    // without the per-character conversion; a byte above 127 takes the ASCII reading.
    unsigned char high = 0;
    for (std::size_t i = 0; i < count; ++i)
        high |= static_cast<unsigned char>(bytes[i]);
    return TStr(bytes, static_cast<int>(count), (high & 0x80) != 0 ? 0 : 1);
}

}  // namespace

// ---- VexPipeEndpoint ---------------------------------------------------------------------

VexPipeEndpoint::VexPipeEndpoint(VexPipeIODevice* device, std::uint32_t kind)
    : m_device(device), m_kind(kind)
{
    if (m_device != nullptr)
        m_device->addUse();
}

VexPipeEndpoint::VexPipeEndpoint(const VexPipeEndpoint& other)
    : VexPipeBase(other), m_device(other.m_device), m_kind(other.m_kind)
{
    if (m_device != nullptr)
        m_device->addUse();
}

VexPipeEndpoint::VexPipeEndpoint(VexPipeEndpoint&& other) noexcept
    : VexPipeBase(other), m_device(other.m_device), m_kind(other.m_kind)
{
    other.m_device = nullptr;
}

VexPipeEndpoint& VexPipeEndpoint::operator=(const VexPipeEndpoint& other)
{
    if (this != &other) {
        if (other.m_device != nullptr)
            other.m_device->addUse();
        letGo();
        m_device = other.m_device;
        m_kind = other.m_kind;
    }
    return *this;
}

VexPipeEndpoint& VexPipeEndpoint::operator=(VexPipeEndpoint&& other) noexcept
{
    if (this != &other) {
        letGo();
        m_device = other.m_device;
        m_kind = other.m_kind;
        other.m_device = nullptr;
    }
    return *this;
}

VexPipeEndpoint::~VexPipeEndpoint()
{
    letGo();
}

void VexPipeEndpoint::letGo()
{
    VexPipeIODevice* device = m_device;
    m_device = nullptr;
    if (device != nullptr)
        device->dropUse();
}

void VexPipeEndpoint::close()
{
    if (m_device != nullptr)
        m_device->close();
}

// ---- VexPipeReadEndpoint -----------------------------------------------------------------

VexPipeReadEndpoint::VexPipeReadEndpoint(VexPipeIODevice* device)
    : VexPipeEndpoint(device, kReadEndpoint), m_pendingBytes(0), m_discarding(false),
      m_lastUnfinished(false), m_cutOff(false), m_buffer(nullptr)
{
}

VexPipeReadEndpoint::VexPipeReadEndpoint(const VexPipeReadEndpoint& other)
    : VexPipeEndpoint(other), m_pendingBytes(0), m_discarding(false), m_lastUnfinished(false),
      m_cutOff(other.m_cutOff), m_buffer(nullptr)
{
}

VexPipeReadEndpoint::VexPipeReadEndpoint(VexPipeReadEndpoint&& other) noexcept
    : VexPipeEndpoint(std::move(other)), m_pending(other.m_pending),
      m_pendingBytes(other.m_pendingBytes), m_discarding(other.m_discarding),
      m_lastUnfinished(other.m_lastUnfinished), m_cutOff(other.m_cutOff), m_buffer(other.m_buffer)
{
    m_tail.swap(other.m_tail);
    other.m_pending.clear();
    other.m_pendingBytes = 0;
    other.m_discarding = false;
    other.m_lastUnfinished = false;
    other.m_buffer = nullptr;
}

VexPipeReadEndpoint& VexPipeReadEndpoint::operator=(const VexPipeReadEndpoint& other)
{
    if (this != &other) {
        VexPipeEndpoint::operator=(other);
        m_pending.clear();
        m_pendingBytes = 0;
        m_tail.clear();
        m_discarding = false;
        m_lastUnfinished = false;
        m_cutOff = other.m_cutOff;
    }
    return *this;
}

VexPipeReadEndpoint& VexPipeReadEndpoint::operator=(VexPipeReadEndpoint&& other) noexcept
{
    if (this != &other) {
        VexPipeEndpoint::operator=(std::move(other));
        m_pending = other.m_pending;
        m_pendingBytes = other.m_pendingBytes;
        m_tail.swap(other.m_tail);
        m_discarding = other.m_discarding;
        m_lastUnfinished = other.m_lastUnfinished;
        m_cutOff = other.m_cutOff;
        delete[] m_buffer;
        m_buffer = other.m_buffer;
        other.m_pending.clear();
        other.m_pendingBytes = 0;
        other.m_tail.clear();
        other.m_discarding = false;
        other.m_lastUnfinished = false;
        other.m_buffer = nullptr;
    }
    return *this;
}

VexPipeReadEndpoint::~VexPipeReadEndpoint()
{
    delete[] m_buffer;
}

void VexPipeReadEndpoint::addLine(const char* bytes, std::size_t count)
{
    const int before = m_pending.count();
    m_pending.append(asciiLine(bytes, count));
    if (m_pending.count() > before)
        m_pendingBytes += static_cast<int>(count);
}

void VexPipeReadEndpoint::dropLongLine()
{
    kyro::pipe::reportError(TStr("Dropped an incoming line longer than %1 bytes")
                                .arg(static_cast<long>(kMaxLineBytes)));
    std::string().swap(m_tail);
}

void VexPipeReadEndpoint::cutOff()
{
    kyro::pipe::reportError(TStr("Cut off a peer that sent more than %1 lines or %2 bytes unread")
                                .arg(static_cast<long>(kMaxQueuedLines))
                                .arg(static_cast<long>(kMaxQueuedBytes)));
    m_pending.clear();
    m_pendingBytes = 0;
    std::string().swap(m_tail);
    m_discarding = false;
    m_lastUnfinished = false;
    m_cutOff = true;
    // Its pipe goes: the peer's writes fail from now on, and its reader thread stops.
    close();
}

void VexPipeReadEndpoint::split(const char* bytes, std::size_t count)
{
    const char* at = bytes;
    const char* const end = bytes + count;
    while (at < end) {
        const char* feed = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
        const std::size_t length = static_cast<std::size_t>((feed != nullptr ? feed : end) - at);
        if (m_discarding) {
            // The rest of a line that was too long: skip it up to its "\n".
            if (feed == nullptr)
                return;
            m_discarding = false;
        } else if (m_tail.size() + length > kMaxLineBytes) {
            dropLongLine();
            m_discarding = feed == nullptr;
        } else if (feed == nullptr) {
            try {
                m_tail.append(at, length);
            } catch (...) {
                dropLongLine();
                m_discarding = true;
            }
        } else if (m_tail.empty()) {
            addLine(at, length);
        } else {
            try {
                m_tail.append(at, length);
                addLine(m_tail.data(), m_tail.size());
            } catch (...) {
                dropLongLine();
            }
            if (m_tail.capacity() > 65536)
                std::string().swap(m_tail);   // a long line's room is not kept
            else
                m_tail.clear();
        }
        if (feed == nullptr)
            return;
        at = feed + 1;
    }
}

void VexPipeReadEndpoint::pump()
{
    VexPipeIODevice* const source = device();
    if (source == nullptr || m_cutOff)
        return;
    if (m_buffer == nullptr) {
        m_buffer = new (std::nothrow) char[kBufferSize];
        if (m_buffer == nullptr)
            return;
    }
    std::size_t taken = 0;
    for (;;) {
        const std::uint32_t got = source->read(m_buffer, kBufferSize);
        if (got > 0)
            split(m_buffer, got);
        // Checked per buffer: one holds at most kBufferSize lines more.
        if (m_pending.count() > kMaxQueuedLines || m_pendingBytes > kMaxQueuedBytes) {
            cutOff();
            return;
        }
        taken += got;
        if (got != kBufferSize || taken >= kMaxPumpBytes)
            break;
    }
    // A peer that has gone leaves its unfinished last line as a last line. The device is
    // asked whether it still reads before whether anything is queued: once it has stopped
    // nothing more comes, so an empty queue then means everything has been read.
    if (!m_tail.empty() && !source->isReading() && source->queuedBytes() == 0) {
        const int before = m_pending.count();
        addLine(m_tail.data(), m_tail.size());
        m_lastUnfinished = m_pending.count() > before;
        std::string().swap(m_tail);
    }
}

int VexPipeReadEndpoint::pendingBytes()
{
    pump();
    return m_pendingBytes + static_cast<int>(m_tail.size());
}

bool VexPipeReadEndpoint::hasLine()
{
    pump();
    return m_pending.count() > 0;
}

TStr VexPipeReadEndpoint::takeLine(bool* unfinished)
{
    pump();
    if (unfinished != nullptr)
        *unfinished = false;
    TList<TStr>::Iterator first = m_pending.first();
    if (first.atEnd())
        return TStr("");
    TStr line = std::move(first.current());
    m_pending.remove(first);
    m_pendingBytes -= line.length();
    // Nothing comes after the tail of a peer that has gone: it is the last line there is.
    if (m_lastUnfinished && m_pending.count() == 0) {
        m_lastUnfinished = false;
        if (unfinished != nullptr)
            *unfinished = true;
    }
    return line;
}

bool VexPipeReadEndpoint::isIdle()
{
    pump();
    VexPipeIODevice* const source = device();
    return m_pending.count() == 0 && m_tail.empty() &&
           (source == nullptr || m_cutOff || source->queuedBytes() == 0);
}

bool VexPipeReadEndpoint::hasEnded()
{
    pump();
    VexPipeIODevice* const source = device();
    if (source == nullptr || m_cutOff)
        return m_pending.count() == 0;
    return m_pending.count() == 0 && !source->isReading() && source->queuedBytes() == 0 &&
           m_tail.empty();
}

// ---- VexPipeWriteEndpoint ----------------------------------------------------------------

VexPipeWriteEndpoint::VexPipeWriteEndpoint(VexPipeIODevice* device)
    : VexPipeEndpoint(device, kWriteEndpoint)
{
}

int VexPipeWriteEndpoint::writeLine(const TStr& text)
{
    VexPipeIODevice* const target = device();
    if (target == nullptr)
        return 0;
    const std::uint32_t written = target->writeText(text.utf8());
    target->flush();
    return static_cast<int>(written);
}
