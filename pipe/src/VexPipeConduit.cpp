#include "kyro/pipe/VexPipeConduit.h"

#include "VexPipeInternal.h"
#include "kyro/pipe/VexMessages.h"
#include "kyro/pipe/VexPipeFacility.h"
#include "kyro/platform/process_info.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

using kyro::platform::kNoSleepWaker;
using vexpipe::Hold;

namespace {

constexpr std::int32_t kNoSession = static_cast<std::int32_t>(0xF0000007u);
// A session made for an arriving packet, held by nothing but the sessions map and its
// creation reference.
constexpr std::uint32_t kMapAndCreationReferences = 2;

// Session numbers are unique in the process, whichever conduit and thread makes them.
std::atomic<long> g_nextSessionNumber{10};


std::uint32_t thisThreadId()
{
    thread_local std::uint32_t id = 0;
    if (id == 0)
        id = kyro::platform::currentThreadId();
    return id;
}

// A line is a packet when it starts with the version field.
bool isPacketLine(const TStr& line)
{
    static const char kVersion[] = "65536";
    const char* text = line.utf8();
    return std::strncmp(text, kVersion, sizeof(kVersion) - 1) == 0 &&
           (text[sizeof(kVersion) - 1] == ';' || text[sizeof(kVersion) - 1] == '\0');
}

// The indexes of a map, so that a pass over it survives changes to the map.
template <class V>
class IndexSnapshot {
public:
    explicit IndexSnapshot(const TMap<long, V>& map)
    {
        const int count = map.count();
        m_indexes = m_local;
        if (count > kLocal) {
            try {
                m_heap.resize(static_cast<std::size_t>(count));
                m_indexes = m_heap.data();
            } catch (...) {
                return;
            }
        }
        for (const auto& entry : map)
            m_indexes[m_count++] = entry.key();
    }
    int count() const { return m_count; }
    long operator[](int i) const { return m_indexes[i]; }

private:
    static constexpr int kLocal = 8;
    long m_local[kLocal];
    std::vector<long> m_heap;
    long* m_indexes;
    int m_count = 0;
};

}  // namespace

VexPipeConduit::VexPipeConduit(bool serverRole, std::uint32_t waitMode, bool internalSystemFacility)
    : m_readers(17), m_writers(17), m_sessions(17), m_connections(17), m_lineReader(0),
      m_lineFromReader(false), m_nextSharedKey(-1), m_systemFacility(nullptr),
      m_defaultSession(nullptr), m_waitMode(waitMode), m_state(kNew), m_idleCallback(nullptr),
      m_idleContext(nullptr), m_arrivals(0), m_lockDepth(0), m_serverRole(serverRole),
      m_currentSession(nullptr), m_destroying(false), m_waker(kNoSleepWaker), m_wakerThread(0),
      m_patienceMs(0), m_unanswered(false)
{
    VexPipeSession* system = new (std::nothrow) VexPipeSystemSession(this, kSystemSessionNumber);
    if (system != nullptr) {
        if (m_sessions.insert(kSystemSessionNumber, system) != m_sessions.end()) {
            m_defaultSession = system;
        } else {
            system->m_state = VexPipeSession::kTerminated;
            system->forgetConduit();
            VexBase::release();
            system->release();
        }
    }
    m_systemFacility = new (std::nothrow) VexPipeSystemFacility(internalSystemFacility);
    if (m_systemFacility != nullptr)
        VexPipeFacilityRegistry::add(m_systemFacility);
    m_state = kReady;
}

VexPipeConduit::~VexPipeConduit()
{
    m_destroying = true;
    if (m_systemFacility != nullptr) {
        VexPipeFacilityRegistry::removeForConduit(m_systemFacility->name());
        VexPipeFacilityRegistry::release(m_systemFacility);
        m_systemFacility = nullptr;
    }
    if (VexPipeSession* system = findSession(kSystemSessionNumber))
        system->terminate(false);
    // Sessions still open lose their conduit here; their holders find them terminated.
    while (m_sessions.count() > 0) {
        VexPipeSession* session = m_sessions.begin().value();
        Hold hold(session);
        session->terminate(false);
        removeSession(session);   // in case it was terminated already but still listed
    }
    // Readers are closed whatever the role: their threads must not outlive the conduit.
    removeAllReaders();
    m_writers.clear();
    if (m_waker != kNoSleepWaker)
        kyro::platform::releaseSleepWaker(m_waker);
}

bool VexPipeConduit::lock(std::uint32_t timeoutMs)
{
    ++m_lockDepth;
    if (VexBase::lock(timeoutMs))
        return true;
    --m_lockDepth;
    return false;
}

void VexPipeConduit::unlock()
{
    if (m_lockDepth > 0)
        --m_lockDepth;
    VexBase::unlock();
}

int VexPipeConduit::call(VexPipePacket* request, VexPipePacket* reply, long writerIndex)
{
    return transmit(request, reply, writerIndex);
}

int VexPipeConduit::post(VexPipePacket* request, long writerIndex)
{
    return transmit(request, nullptr, writerIndex);
}

bool VexPipeConduit::writeLine(VexPipeWriteEndpoint& writer, const TStr& line)
{
    return writer.writeLine(line) == line.length();
}

int VexPipeConduit::transmit(VexPipePacket* request, VexPipePacket* reply, long writerIndex)
{
    if (request == nullptr)
        return 1;
    VexPipeSession* const session = sessionForPacket(request);
    if (session == nullptr) {
        kyro::pipe::reportError(TStr("No session to send %1 in").arg(request->fullName()));
        return 1;
    }
    Hold hold(session);
    request->setSessionNumber(static_cast<int>(session->number()));
    request->setPeerSessionNumber(static_cast<int>(session->peerNumber()));

    // The first wait mode that is set decides: the packet's, the session's, the conduit's.
    std::uint32_t mode = request->waitMode();
    if (mode == VexPipePacket::kWaitInherit)
        mode = session->waitMode();
    if (mode == VexPipePacket::kWaitInherit)
        mode = m_waitMode;
    // Without a reply packet nobody takes the reply: the session does not wait, or the
    // next packet for it would be swallowed as a reply.
    const bool wait = mode != VexPipePacket::kWaitInherit && mode != VexPipePacket::kNoWait &&
                      reply != nullptr;
    if (wait)
        session->prepareWait();

    TStr line = request->marshal(true);
    // The peer's reader drops a longer line, and a wait for its reply would never end.
    if (static_cast<std::size_t>(line.length()) > VexPipeReadEndpoint::kMaxLineBytes) {
        if (wait)
            session->cancelWait();
        kyro::pipe::reportError(TStr("Could not send %1: its line of %2 bytes is longer than %3")
                                    .arg(request->fullName())
                                    .arg(static_cast<long>(line.length()))
                                    .arg(static_cast<long>(VexPipeReadEndpoint::kMaxLineBytes)));
        return 1;
    }
    line += "\n";
    vexpipe::allowCompanionForeground();

    if (writerIndex == 0) {
        bool written = false;
        for (const auto& entry : m_writers) {
            if (writeLine(entry.value(), line))
                written = true;
        }
        if (!written) {
            // Nothing went out, so no reply can come: a wait would never end.
            if (wait)
                session->cancelWait();
            if (m_writers.count() == 0)
                kyro::pipe::trace("No writer to send %1 to", request->fullName());
            else
                kyro::pipe::reportError(TStr("Could not send %1 to any writer").arg(request->fullName()));
            return 1;
        }
    } else {
        const TMap<long, VexPipeWriteEndpoint>::Iterator found = m_writers.find(writerIndex);
        if (found == m_writers.end()) {
            if (wait)
                session->cancelWait();
            kyro::pipe::reportError(TStr("Attempt to write to unknown writer %1").arg(writerIndex));
            return 1;
        }
        if (!writeLine(found.value(), line)) {
            if (wait)
                session->cancelWait();
            kyro::pipe::reportError(
                TStr("Could not send %1 to writer %2").arg(request->fullName()).arg(writerIndex));
            return 1;
        }
    }
    session->markSent();
    if (wait)
        return session->waitForReply(reply, kWaitIntervalMs);
    return 0;
}

int VexPipeConduit::close(bool initiator, bool readers, bool writers)
{
    if (m_state == kClosing || m_state == kClosed) {
        kyro::pipe::trace(TStr("Conduit is already terminating"));
        return 0;
    }
    kyro::pipe::trace(TStr(" ==== Closing Conduit for %1 (init:%2, readers:%3, writers:%4)")
                          .arg(static_cast<long>(kyro::platform::currentProcessId()))
                          .arg(initiator ? 1 : 0)
                          .arg(readers ? 1 : 0)
                          .arg(writers ? 1 : 0));
    m_state = kClosing;
    if (!initiator) {
        if (VexPipeSession* session = m_defaultSession) {
            Hold hold(session);
            session->terminate(false);
        }
        m_state = kClosed;
        return 0;
    }

    // Over a copy: terminating a session takes it out of the map.
    TList<VexPipeSession*> sessions;
    for (const auto& entry : m_sessions) {
        if (entry.key() != kSystemSessionNumber && entry.value() != m_defaultSession) {
            entry.value()->addRef();
            sessions.append(entry.value());
        }
    }
    for (VexPipeSession* session : sessions) {
        session->terminate(false);
        session->release();
    }

    // The goodbye goes in the default session, which waits for its answer no longer than
    // the patience: a peer that is alive but silent must not hold the close for ever. One
    // that has let the patience pass already is not waited for again.
    VexPipePacket request(TStr("system.cndTerm"), VexPipePacket::kWait);
    VexPipePacket reply(VexPipePacket::kWaitInherit);
    if (m_unanswered) {
        post(&request, 0);
    } else {
        if (VexPipeSession* session = sessionForPacket(&request))
            session->setWaitLimit(m_patienceMs);
        call(&request, &reply, 0);
    }

    if (VexPipeSession* session = m_defaultSession) {
        Hold hold(session);
        session->terminate(false);
    }
    m_state = kClosed;
    return 0;
}

int VexPipeConduit::reserved()
{
    return 0;
}

int VexPipeConduit::processIncoming()
{
    if (m_state == kClosed)
        return 0;
    int count = 0;
    // Dispatching may add or remove readers: the pass goes over the indexes it started with.
    const IndexSnapshot<VexPipeReadEndpoint> indexes(m_readers);
    for (int i = 0; i < indexes.count(); ++i) {
        const TMap<long, VexPipeReadEndpoint>::Iterator found = m_readers.find(indexes[i]);
        if (found == m_readers.end() || !found.value().hasLine())
            continue;
        bool unfinished = false;
        const TStr line = found.value().takeLine(&unfinished);
        // A line its writer left without its line end, when it went, is part of a packet
        // at most: taken as a reply, a part would be a wrong answer.
        if (unfinished) {
            kyro::pipe::reportError(TStr("Dropped an unfinished incoming line of %1 bytes")
                                        .arg(static_cast<long>(line.length())));
            continue;
        }
        if (!isPacketLine(line)) {
            kyro::pipe::trace("Dropped an incoming line that is not a packet: %1", line);
            continue;
        }
        VexPipePacket* packet = new (std::nothrow) VexPipePacket(VexPipePacket::kWaitInherit);
        if (packet == nullptr)
            continue;
        packet->unmarshal(line);
        // Sessions the line opens, and a handshake it carries, belong to this reader's
        // connection. (A handler may wait and so dispatch lines of other readers inside.)
        const long outerReader = m_lineReader;
        const bool outerFromReader = m_lineFromReader;
        m_lineReader = indexes[i];
        m_lineFromReader = true;
        count += dispatchIncoming(packet);
        m_lineReader = outerReader;
        m_lineFromReader = outerFromReader;
        packet->release();
    }
    afterIncoming();
    return count;
}

bool VexPipeConduit::isClosed() const
{
    return m_state == kClosed;
}

std::uint32_t VexPipeConduit::defaultWaitMode() const
{
    return m_waitMode;
}

void VexPipeConduit::addReader(long index, const VexPipeReadEndpoint& endpoint)
{
    // A reader replaced is closed like one removed: its thread must stop.
    if (hasReader(index))
        removeReader(index);
    const TMap<long, VexPipeReadEndpoint>::Iterator added = m_readers.insert(index, endpoint);
    if (added != m_readers.end() && m_waker != kNoSleepWaker && added.value().device() != nullptr)
        added.value().device()->setDataWaker(m_waker);
}

void VexPipeConduit::addWriter(long index, const VexPipeWriteEndpoint& endpoint)
{
    if (hasWriter(index))
        removeWriter(index);
    m_writers.insert(index, endpoint);
}

void VexPipeConduit::removeReader(long index)
{
    unbindReader(index);
    const TMap<long, VexPipeReadEndpoint>::Iterator found = m_readers.find(index);
    if (found == m_readers.end())
        return;
    // The copy keeps the device alive until it is closed.
    VexPipeReadEndpoint endpoint(found.value());
    m_readers.remove(found);
    if (endpoint.device() != nullptr)
        endpoint.device()->setDataWaker(kNoSleepWaker);
    endpoint.close();
}

void VexPipeConduit::removeWriter(long index)
{
    // A connection whose writer has gone is no connection any more.
    unbindWriter(index);
    const TMap<long, VexPipeWriteEndpoint>::Iterator found = m_writers.find(index);
    if (found == m_writers.end())
        return;
    VexPipeWriteEndpoint endpoint(found.value());
    m_writers.remove(found);
    endpoint.close();
}

void VexPipeConduit::removeAllReaders()
{
    for (const auto& entry : m_readers) {
        if (entry.value().device() != nullptr)
            entry.value().device()->setDataWaker(kNoSleepWaker);
        entry.value().close();
    }
    m_readers.clear();
    m_connections.clear();
}

int VexPipeConduit::writerCount() const
{
    return m_writers.count();
}

VexPipeWriteEndpoint VexPipeConduit::writerEndpoint(long index) const
{
    const TMap<long, VexPipeWriteEndpoint>::ConstIterator found = m_writers.find(index);
    return found != m_writers.end() ? found.value() : VexPipeWriteEndpoint();
}

std::uint32_t VexPipeConduit::lockDepth() const
{
    return m_lockDepth;
}

bool VexPipeConduit::connectWriter(long)
{
    return false;
}

void VexPipeConduit::afterIncoming() {}

bool VexPipeConduit::openReader(long)
{
    return false;
}

bool VexPipeConduit::connectWriterAs(long pipeIndex, long writerIndex)
{
    return pipeIndex == writerIndex && connectWriter(pipeIndex);
}

long VexPipeConduit::connectClientWriter(long clientProcessId)
{
    long key = clientProcessId;
    if (m_lineFromReader) {
        // Only another connection's binding counts: a reader that handshakes again has its
        // writer replaced, as any writer under the same key is.
        bool taken = false;
        for (const auto& entry : m_connections) {
            if (entry.value() == clientProcessId && entry.key() != m_lineReader)
                taken = true;
        }
        if (taken) {
            while (hasWriter(m_nextSharedKey))
                --m_nextSharedKey;
            key = m_nextSharedKey--;
        }
    }
    if (key == clientProcessId)
        connectWriter(clientProcessId);
    else
        connectWriterAs(clientProcessId, key);
    if (m_lineFromReader)
        m_connections.insert(m_lineReader, key);
    return key;
}

long VexPipeConduit::connectionWriter(long readerIndex) const
{
    const TMap<long, long>::ConstIterator found = m_connections.find(readerIndex);
    return found != m_connections.end() ? found.value() : 0;
}

VexPipeSession* VexPipeConduit::sessionHoldingWriter(long writerIndex) const
{
    for (const auto& entry : m_sessions) {
        VexPipeSession* const session = entry.value();
        if (!session->sharesConnection() && session->writerIndex() == writerIndex &&
            session->state() == VexPipeSession::kOpen)
            return session;
    }
    return nullptr;
}

void VexPipeConduit::endSessionsSharing(long writerIndex)
{
    TList<VexPipeSession*> sharing;
    for (const auto& entry : m_sessions) {
        VexPipeSession* const session = entry.value();
        if (session->sharesConnection() && session->writerIndex() == writerIndex) {
            session->addRef();
            sharing.append(session);
        }
    }
    for (VexPipeSession* session : sharing) {
        session->terminate(false);
        session->release();
    }
}

void VexPipeConduit::unbindReader(long readerIndex)
{
    m_connections.remove(readerIndex);
}

void VexPipeConduit::unbindWriter(long writerIndex)
{
    for (auto entry = m_connections.begin(); entry != m_connections.end();) {
        if (entry.value() == writerIndex)
            entry = m_connections.remove(entry);
        else
            ++entry;
    }
}

bool VexPipeConduit::connectionLost()
{
    if (m_unanswered)
        return true;
    for (const auto& entry : m_readers) {
        if (!entry.value().hasEnded())
            return false;
    }
    return true;
}

long VexPipeConduit::ownReaderIndex() const
{
    return static_cast<long>(kyro::platform::currentProcessId());
}

VexPipeConduit::IdleCallback VexPipeConduit::setIdleCallback(IdleCallback callback, void* context)
{
    const IdleCallback previous = m_idleCallback;
    m_idleCallback = callback;
    m_idleContext = context;
    return previous;
}

void VexPipeConduit::ensureWaker()
{
    const std::uint32_t thread = thisThreadId();
    if (m_waker != kNoSleepWaker && m_wakerThread == thread)
        return;
    const kyro::platform::SleepWaker previous = m_waker;
    m_waker = kyro::platform::sleepWakerForCurrentThread();
    m_wakerThread = thread;
    for (const auto& entry : m_readers) {
        if (entry.value().device() != nullptr)
            entry.value().device()->setDataWaker(m_waker);
    }
    if (previous != kNoSleepWaker)
        kyro::platform::releaseSleepWaker(previous);
}

void VexPipeConduit::idleTick(std::uint32_t intervalMs)
{
    if (m_idleCallback != nullptr)
        m_idleCallback(m_idleContext, intervalMs);
    // The waker goes in before the readers are looked at: bytes that come in after the
    // look end the sleep below at once.
    ensureWaker();
    bool busy = processIncoming() > 0;
    if (!busy) {
        for (const auto& entry : m_readers) {
            if (entry.value().hasLine()) {
                busy = true;
                break;
            }
        }
    }
    // After work the caller looks again at once; a wake-up left pending then only ends
    // one later sleep early.
    if (!busy && !bytesArriveShortly())
        kyro::platform::sleepAlertable(intervalMs);
}

bool VexPipeConduit::bytesArriveShortly()
{
    // An answer often follows within microseconds. Looking for it a little while, giving
    // the processor away between looks, saves the sleeping thread's wake-up, which costs
    // more than the answer itself; after that the sleep waits as usual.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kShortWaitMicros);
    do {
        for (const auto& entry : m_readers) {
            const VexPipeIODevice* device = entry.value().device();
            if (device != nullptr && device->queuedBytes() > 0)
                return true;
        }
        std::this_thread::yield();
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

VexPipeSession* VexPipeConduit::newSession()
{
    const long number = g_nextSessionNumber.fetch_add(1, std::memory_order_relaxed);
    VexPipeSession* session = new (std::nothrow)
        VexPipeSession(this, static_cast<std::uint32_t>(number), 0, VexPipePacket::kWaitInherit);
    if (session == nullptr)
        return nullptr;
    if (m_sessions.insert(number, session) == m_sessions.end()) {
        session->m_state = VexPipeSession::kTerminated;
        session->forgetConduit();
        releaseFromSession();
        session->release();
        return nullptr;
    }
    session->addRef();
    return session;
}

VexPipeSession* VexPipeConduit::findSession(long number) const
{
    const TMap<long, VexPipeSession*>::ConstIterator found = m_sessions.find(number);
    return found != m_sessions.end() ? found.value() : nullptr;
}

VexPipeSession* VexPipeConduit::sessionForPacket(VexPipePacket* packet)
{
    if (packet != nullptr && packet->sessionNumber() != 0) {
        if (VexPipeSession* session = findSession(packet->sessionNumber()))
            return session;
    }
    return m_defaultSession;
}

int VexPipeConduit::dispatchIncoming(VexPipePacket* packet)
{
    if (packet == nullptr)
        return 0;
    const long number = packet->sessionNumber();
    kyro::pipe::trace("PROCESS: %1", TStr(number));
    if (number != 0) {
        if (VexPipeSession* session = findSession(number)) {
            Hold hold(session);
            session->setPeerNumber(static_cast<std::uint32_t>(packet->peerSessionNumber()));
            session->receive(packet);
            return 1;
        }
        kyro::pipe::trace("incoming packet had bad session id : %1. Creating a new session.", TStr(number));
    }
    // A peer that keeps opening conversations and never ends them is refused more.
    VexPipeSession* session = m_sessions.count() < kMaxSessions ? newSession() : nullptr;
    if (session == nullptr) {
        kyro::pipe::reportError(kNoSession, TStr("Could not find or allocate session : %1").arg(number));
        return 0;
    }
    packet->setSessionNumber(static_cast<int>(session->number()));
    ++m_arrivals;
    // A session the peer opens is one more conversation over the connection its line came
    // on: it answers on that connection's writer (a handshaken client's), else on every
    // writer, and its end leaves the connection's pipes alone. Only a handshake makes a
    // session the holder of a connection (VexPipeSession::connectClient).
    session->shareConnection(m_lineFromReader ? connectionWriter(m_lineReader) : 0);
    // The creation reference is kept while the packet is handled (a handler may end the
    // session). A session that sent nothing meanwhile goes afterwards, unless something
    // keeps it (an answer it still owes or a window it shows, each with a reference; a
    // handshake that made it its connection's holder; a wait): its peer never learnt its
    // number, so nothing more can come for it, and each stray packet (a reply for a session
    // that does not exist, a notice nobody answers) would leave one behind. One that
    // answered stays for the rest of its conversation, until its peer ends it.
    session->setPeerNumber(static_cast<std::uint32_t>(packet->peerSessionNumber()));
    session->receive(packet);
    if (session->state() == VexPipeSession::kOpen && session->sharesConnection() &&
        !session->hasSent() && !session->isWaiting() &&
        session->references() <= kMapAndCreationReferences)
        session->terminate(false);
    session->release();
    return 1;
}

void VexPipeConduit::removeSession(VexPipeSession* session)
{
    if (session == nullptr)
        return;
    const TMap<long, VexPipeSession*>::Iterator found = m_sessions.find(session->number());
    if (found == m_sessions.end() || found.value() != session)
        return;
    m_sessions.remove(found);
    if (m_currentSession == session)
        m_currentSession = nullptr;
    if (m_defaultSession == session) {
        // Packets that name no session go to the system session again, while there is one.
        VexPipeSession* system = findSession(kSystemSessionNumber);
        m_defaultSession = system != session ? system : nullptr;
    }
    session->release();
}

void VexPipeConduit::releaseFromSession()
{
    if (!m_destroying)
        VexBase::release();
}
