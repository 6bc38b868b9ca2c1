#include "kyro/pipe/VexPipeSession.h"

#include "VexPipeInternal.h"
#include "kyro/pipe/VexMessages.h"
#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/pipe/VexPipeFacility.h"
#include "kyro/platform/process_info.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <new>

using vexpipe::Hold;

namespace {

constexpr std::int32_t kNoSystemFacility = static_cast<std::int32_t>(0xF0000006u);


}  // namespace

VexPipeSession::VexPipeSession(VexPipeConduit* conduit, std::uint32_t number,
                               std::uint32_t peerNumber, std::uint32_t waitMode)
    : m_conduit(conduit), m_number(number), m_peerNumber(peerNumber), m_clientProcessId(0),
      m_waitMode(waitMode), m_waiting(false), m_reply(nullptr), m_state(kOpen),
      m_writerIndex(0), m_sharesConnection(false), m_methodOverride(nullptr), m_waitLimitMs(0),
      m_hasSent(false)
{
    if (m_conduit != nullptr)
        m_conduit->addRef();
}

VexPipeSession::~VexPipeSession()
{
    // A session still open when its last reference goes tells its peer. The count is 0
    // here: one reference for the rest of this destructor keeps the references terminate()
    // takes and drops while it runs from deleting this object a second time.
    if (m_state < kTerminating) {
        addRef();
        terminate(true);
    }
    if (m_reply != nullptr)
        m_reply->release();
}

void VexPipeSession::forgetConduit()
{
    m_conduit = nullptr;
}

void VexPipeSession::shareConnection(long writerIndex)
{
    m_writerIndex = writerIndex;
    m_sharesConnection = true;
}

VexPipeSession* VexPipeSession::connectionSession()
{
    if (!m_sharesConnection || m_conduit == nullptr)
        return this;
    if (m_writerIndex == 0) {
        VexPipeSession* const connection = m_conduit->defaultSession();
        return connection != nullptr ? connection : this;
    }
    VexPipeSession* const connection = m_conduit->sessionHoldingWriter(m_writerIndex);
    return connection != nullptr ? connection : this;
}

void VexPipeSession::prepareWait()
{
    lock(0);
    if (m_reply != nullptr) {
        m_reply->release();
        m_reply = nullptr;
    }
    m_waiting = true;
    unlock();
}

void VexPipeSession::cancelWait()
{
    lock(0);
    m_waiting = false;
    unlock();
}

long VexPipeSession::send(VexPipePacket* packet)
{
    if (packet == nullptr)
        return 1;
    packet->setSessionNumber(static_cast<int>(m_number));
    packet->setPeerSessionNumber(static_cast<int>(m_peerNumber));
    VexPipeConduit* const conduit = m_conduit;
    if (conduit == nullptr)
        return 1;
    VexPipePacket reply(VexPipePacket::kWaitInherit);
    return conduit->transmit(packet, &reply, m_writerIndex);
}

bool VexPipeSession::connectionLost()
{
    return m_conduit == nullptr || m_conduit->connectionLost();
}

int VexPipeSession::waitForReply(VexPipePacket* reply, std::uint32_t intervalMs)
{
    Hold self(this);
    const auto started = std::chrono::steady_clock::now();
    lock(0);
    while (m_waiting) {
        VexPipeConduit* const conduit = m_conduit;
        if (conduit != nullptr && !conduit->isServerRole())
            vexpipe::allowCompanionForeground();
        unlock();
        if (conduit == nullptr) {
            cancelWait();
            return 1;
        }
        conduit->idleTick(intervalMs);
        lock(0);
        if (m_waiting && connectionLost()) {
            m_waiting = false;
            unlock();
            kyro::pipe::reportError(
                TStr("Connection lost while session %1 waited for a reply").arg(static_cast<long>(m_number)));
            return 1;
        }
        if (m_waiting && m_waitLimitMs > 0 &&
            std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(m_waitLimitMs)) {
            // Alive but silent (a stopped process answers nothing): nothing more is
            // expected of this connection, so no later wait on it lasts as long again.
            m_waiting = false;
            VexPipeConduit* const silent = m_conduit;
            unlock();
            kyro::pipe::reportError(TStr("No reply in session %1 within %2 ms")
                                        .arg(static_cast<long>(m_number))
                                        .arg(static_cast<long>(m_waitLimitMs)));
            if (silent != nullptr)
                silent->markUnanswered();
            return 1;
        }
    }
    if (m_reply == nullptr) {
        kyro::pipe::trace(TStr("  Not waiting for a packet and no packet set"));
        unlock();
        return 1;
    }
    kyro::pipe::trace("  packet received: %1", m_reply->fullName());
    if (reply != nullptr)
        reply->assign(*m_reply);
    m_reply->release();
    m_reply = nullptr;
    unlock();
    return 0;
}

long VexPipeSession::receive(VexPipePacket* packet)
{
    if (packet == nullptr)
        return 1;
    Hold self(this);
    VexPipeConduit* const conduit = m_conduit;
    if (conduit != nullptr)
        conduit->setCurrentSession(this);
    lock(0);
    if (m_waiting) {
        VexPipePacket* copy = new (std::nothrow) VexPipePacket(*packet);
        if (m_reply != nullptr)
            m_reply->release();
        m_reply = copy;
        m_waiting = false;
        unlock();
        return 0;
    }
    unlock();
    if (m_methodOverride != nullptr) {
        const long result = m_methodOverride(this, packet);
        if (result != kPassOn)
            return result;
    }

    VexPipeFacility* facility = VexPipeFacilityRegistry::acquire(packet->facility());
    if (facility == nullptr)
        facility = VexPipeFacilityRegistry::acquire(TStr("system"));
    if (facility == nullptr)
        facility = VexPipeFacilityRegistry::acquire(TStr("systemInternal"));
    if (facility == nullptr && conduit != nullptr && conduit->systemFacility() != nullptr) {
        // The registry lost its "system" entry (another conduit went): this conduit's own
        // system facility still answers.
        facility = conduit->systemFacility();
        facility->addRef();
    }
    if (facility == nullptr) {
        // Never the end of the host: the packet is dropped.
        kyro::pipe::reportError(kNoSystemFacility, TStr("Can't find system facility!!!! Panic Now!"));
        return 1;
    }
    facility->dispatch(this, packet);
    VexPipeFacilityRegistry::release(facility);
    return 0;
}

bool VexPipeSession::connectClient(std::uint32_t clientProcessId)
{
    char identity[2 * sizeof(void*) + 1];
    std::snprintf(identity, sizeof(identity), "%" PRIxPTR, reinterpret_cast<std::uintptr_t>(this));
    kyro::pipe::trace(TStr("Connecting Client %1 with session %2 at %3")
                          .arg(static_cast<long>(clientProcessId))
                          .arg(static_cast<long>(m_number))
                          .arg(identity));
    if (m_writerIndex != 0) {
        kyro::pipe::reportError(TStr("session %1 is already connected to index %2")
                                    .arg(static_cast<long>(m_number))
                                    .arg(m_writerIndex));
        return false;
    }
    // The writer's key is the client process id, unless another connection of the same
    // process id holds that key (then one of its own).
    m_writerIndex = m_conduit != nullptr
                        ? m_conduit->connectClientWriter(static_cast<long>(clientProcessId))
                        : static_cast<long>(clientProcessId);
    // This session now holds the connection: its end is the connection's end.
    m_sharesConnection = false;
    return true;
}

int VexPipeSession::terminate(bool notify)
{
    if (m_state >= kTerminating)
        return 0;
    Hold self(this);
    lock(0);
    m_state = kTerminating;
    unlock();

    if (notify && m_conduit != nullptr) {
        // A goodbye is no dialog: the peer answers it at once, or not at all.
        m_waitLimitMs = m_conduit->patience();
        VexPipePacket request(TStr("system.ssnTerm"), VexPipePacket::kWait);
        request.setSessionNumber(static_cast<int>(m_number));
        request.setPeerSessionNumber(static_cast<int>(m_peerNumber));
        VexPipePacket reply(VexPipePacket::kWaitInherit);
        m_conduit->transmit(&request, &reply, m_writerIndex);
    }
    detach(m_writerIndex);

    lock(0);
    VexPipeConduit* const conduit = m_conduit;
    m_conduit = nullptr;
    m_state = kTerminated;
    unlock();
    if (conduit != nullptr)
        conduit->releaseFromSession();
    return 0;
}

void VexPipeSession::detach(long writerIndex)
{
    Hold self(this);
    VexPipeConduit* const conduit = m_conduit;
    if (conduit != nullptr) {
        // The connection's pipes belong to the session of its handshake; in a server, the
        // sessions that shared them end with it.
        if (!m_sharesConnection) {
            if (conduit->isServerRole() && writerIndex != 0)
                conduit->endSessionsSharing(writerIndex);
            conduit->removeWriter(writerIndex);
            if (!conduit->isServerRole())
                conduit->removeReader(conduit->ownReaderIndex());
        }
        conduit->removeSession(this);
    }
    m_writerIndex = 0;
}

VexPipeSystemSession::VexPipeSystemSession(VexPipeConduit* conduit, std::uint32_t number)
    : VexPipeSession(conduit, number, number, VexPipePacket::kWaitInherit)
{
}
