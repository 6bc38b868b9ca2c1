#include "kyro/pipe/VexPipeConduit.h"

#include "kyro/pipe/VexMessages.h"
#include "kyro/platform/named_pipe.h"
#include "kyro/platform/presence_lock.h"
#include "kyro/platform/process_info.h"

#include <atomic>
#include <chrono>
#include <new>

using kyro::platform::PipeHandle;
using kyro::platform::kNoPipe;

namespace {

std::atomic<std::uint32_t> g_clientProcessId{0};

constexpr std::uint32_t kWaitForPipeMs = 1000;
// What opening a pipe reports when every instance has a client (ERROR_PIPE_BUSY).
constexpr std::uint32_t kPipeBusy = 231;
constexpr std::uint32_t kStartPollMs = 10;
constexpr std::uint32_t kInboundRetryMs = 100;
constexpr int kInboundAttempts = 10;
// How long a wrapper that has ended is given for the companion it started to take its
// presence lock, before the companion counts as never started.
constexpr auto kWrappedStartGrace = std::chrono::milliseconds(5000);
// The listening instance of a server starts under this reader index; each instance that
// gets its client keeps its index and the next one listens under the index below.
constexpr long kFirstListeningIndex = -1;
constexpr std::uint32_t kListeningMode = VexPipeFile::kRead | VexPipeFile::kRelisten;

}  // namespace

const char* const VexPipeNamedConduit::kPipeBase = "\\\\.\\pipe\\Norveldt\\kyro";

VexPipeNamedConduit::VexPipeNamedConduit(const TPath& prefix, bool serverRole, std::uint32_t waitMode)
    : VexPipeConduit(serverRole, waitMode, false), m_prefix(prefix), m_listenerState(kNoListener),
      m_listenerThread(kyro::platform::kNoThread), m_listeningIndex(0), m_ownReaderIndex(0),
      m_companionGoneSeen(false)
{
}

VexPipeNamedConduit::~VexPipeNamedConduit()
{
    // No listener thread is ever started (the server listens from afterIncoming()), so
    // there is none to wake and wait for; listening just stops.
    m_listenerState = kListenerStopped;
}

void VexPipeNamedConduit::setClientProcessId(std::uint32_t processId)
{
    g_clientProcessId.store(processId, std::memory_order_relaxed);
}

std::uint32_t VexPipeNamedConduit::clientProcessId()
{
    const std::uint32_t processId = g_clientProcessId.load(std::memory_order_relaxed);
    return processId != 0 ? processId : kyro::platform::currentProcessId();
}

TStr VexPipeNamedConduit::pipeName(long index) const
{
    TPath name(kPipeBase);
    name /= m_prefix.utf8();
    name /= TStr("inbound%1").arg(index).utf8();
    if (name.indexOf('/') >= 0)
        name.replaceAll(TStr("/"), TStr("\\"));
    return name;
}

TStr VexPipeNamedConduit::presenceLockName(const TStr& prefix)
{
    return TStr("Global\\Norveldt_KYRO_%1").arg(prefix);
}

bool VexPipeNamedConduit::isServerRunning(const TStr& prefix)
{
    return kyro::platform::presenceLockHeld(presenceLockName(prefix).utf8());
}

TStr VexPipeNamedConduit::makePipePrefix(const TStr& serverPath)
{
    TStr path(serverPath);
    const TStr fileName = path.cutLast(TStr("\\"));
    return TStr("%2%3").arg(fileName).arg(static_cast<long>(kyro::platform::currentProcessId()));
}

int VexPipeNamedConduit::transmit(VexPipePacket* request, VexPipePacket* reply, long writerIndex)
{
    if (request != nullptr)
        request->setInt("CPID", static_cast<int>(clientProcessId()));
    return VexPipeConduit::transmit(request, reply, writerIndex);
}

int VexPipeNamedConduit::close(bool initiator, bool readers, bool writers)
{
    lock(0);
    m_listenerState = kListenerStopped;
    const int result = VexPipeConduit::close(initiator, readers, writers);
    unlock();
    return result;
}

void VexPipeNamedConduit::removeReader(long index)
{
    const TMap<long, VexPipeReadEndpoint>::Iterator found = readers().find(index);
    if (found != readers().end() && found.value().device() != nullptr) {
        VexPipeIODevice* device = found.value().device();
        device->lock(0);
        const PipeHandle handle = device->handle();
        if (handle != 0 && handle != kNoPipe)
            kyro::platform::pipeFlush(handle);
        device->unlock();
    }
    VexPipeConduit::removeReader(index);
}

bool VexPipeNamedConduit::connectWriter(long index)
{
    return connectWriterAs(index, index);
}

bool VexPipeNamedConduit::connectWriterAs(long pipeIndex, long writerIndex)
{
    const TStr name = pipeName(pipeIndex);
    if (!kyro::platform::waitForPipe(name.utf8(), kWaitForPipeMs))
        return false;
    kyro::pipe::trace("Attempting to connect to the server on %1", name);
    // Another client may take the instance the wait found free before this open gets to
    // it ("all instances busy", 231). As pipe clients do, wait for the next instance and
    // try again, within the same second the first wait had.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitForPipeMs);
    std::uint32_t error = 0;
    PipeHandle handle = kyro::platform::openPipeForWriting(name.utf8(), &error);
    while (handle == kNoPipe && error == kPipeBusy) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 ||
            !kyro::platform::waitForPipe(name.utf8(), static_cast<std::uint32_t>(left.count())))
            break;
        handle = kyro::platform::openPipeForWriting(name.utf8(), &error);
    }
    if (handle == kNoPipe) {
        kyro::pipe::reportError(TStr("Could not open named pipe %1 for writing").arg(name));
        return false;
    }
    VexPipeFile* file = new (std::nothrow) VexPipeFile(handle, VexPipeFile::kWrite, true);
    if (file == nullptr) {
        kyro::platform::closePipe(handle);
        return false;
    }
    file->setName(name);
    addWriter(writerIndex, VexPipeWriteEndpoint(file));
    return true;
}

bool VexPipeNamedConduit::openInbound(long pipeIndex, long readerIndex, std::uint32_t mode)
{
    const TStr name = pipeName(pipeIndex);
    kyro::pipe::trace("opening read pipe: %1", name);
    const PipeHandle handle = kyro::platform::createInboundPipe(name.utf8());
    if (handle == kNoPipe) {
        kyro::pipe::reportError(TStr("Could not open named pipe %1 for writing").arg(name));
        return false;
    }
    // The device does not own the handle: the conduit closes it when it removes the reader.
    VexPipeFile* file = new (std::nothrow) VexPipeFile(handle, mode, false);
    if (file == nullptr) {
        kyro::platform::closePipe(handle);
        return false;
    }
    file->setName(name);
    addReader(readerIndex, VexPipeReadEndpoint(file));
    return true;
}

bool VexPipeNamedConduit::openReader(long index)
{
    if (!openInbound(index, index, VexPipeFile::kRead))
        return false;
    if (!isServerRole())
        m_ownReaderIndex = index;
    return true;
}

long VexPipeNamedConduit::ownReaderIndex() const
{
    // The index the inbound pipe was opened with, which follows the client process id
    // override; the real process id before one was opened.
    return m_ownReaderIndex != 0 ? m_ownReaderIndex
                                 : static_cast<long>(kyro::platform::currentProcessId());
}

bool VexPipeNamedConduit::connectionLost()
{
    if (VexPipeConduit::connectionLost())
        return true;
    // A companion this conduit started itself is known by its process; one it found
    // running, or started through a wrapper (whose process is not the companion's), by its
    // presence lock, which goes with it. Such a companion that was ending when it took the
    // connection never connects back: without this look the handshake's wait would last
    // for ever. (A host's conduits connect one at a time, so no new companion of this
    // prefix can have taken the lock meanwhile.)
    const std::uint32_t companion = m_process.processId();
    bool running;
    if (companion != 0)
        running = kyro::platform::processIsAlive(companion);
    else
        running = isServerRole() || isServerRunning(m_prefix.utf8());
    if (running) {
        m_companionGoneSeen = false;
        return false;
    }
    // The companion has exited. What it wrote before may still be on its way from the
    // pipe to a reader: the connection counts as lost once everything is handled, seen so
    // on two checks in a row.
    for (const auto& entry : readers()) {
        if (!entry.value().isIdle())
            return false;
    }
    if (!m_companionGoneSeen) {
        m_companionGoneSeen = true;
        return false;
    }
    return true;
}

bool VexPipeNamedConduit::startListening()
{
    if (!isServerRole())
        return false;
    if (m_listenerState == kListening)
        return true;
    m_listeningIndex = kFirstListeningIndex;
    while (hasReader(m_listeningIndex))
        --m_listeningIndex;
    if (!openInbound(0, m_listeningIndex, kListeningMode))
        return false;
    m_listenerState = kListening;
    return true;
}

void VexPipeNamedConduit::afterIncoming()
{
    if (!isServerRole() || m_listenerState != kListening)
        return;
    const TMap<long, VexPipeReadEndpoint>::Iterator listening = readers().find(m_listeningIndex);
    if (listening == readers().end() || listening.value().device() == nullptr) {
        openInbound(0, m_listeningIndex, kListeningMode);
    } else if (!listening.value().device()->hasReceived() && listening.value().hasEnded()) {
        // A client came and went without a word: the instance is of no more use. The new
        // one is made first, so that the pipe never has no instance at all (on POSIX the
        // clients queued for it would go with the last one).
        const long ended = m_listeningIndex;
        long next = m_listeningIndex - 1;
        while (hasReader(next))
            --next;
        if (openInbound(0, next, kListeningMode)) {
            m_listeningIndex = next;
            removeReader(ended);
        }
    } else if (listening.value().device() != nullptr && listening.value().device()->hasReceived()) {
        // The instance has its client: it stays that client's reader, and a new instance
        // listens for the next one.
        long next = m_listeningIndex - 1;
        while (hasReader(next))
            --next;
        if (openInbound(0, next, kListeningMode))
            m_listeningIndex = next;
    }

    // Clients that have gone, with everything they sent handled.
    long gone[8];
    int goneCount = 0;
    for (const auto& entry : readers()) {
        if (entry.key() < 0 && entry.key() != m_listeningIndex && goneCount < 8 &&
            entry.value().hasEnded())
            gone[goneCount++] = entry.key();
    }
    for (int i = 0; i < goneCount; ++i)
        removeReader(gone[i]);
}

VexPipeNamedConduit* VexPipeNamedConduit::connectToServer(const TStr& serverPath,
                                                          const TStr& prefix, int timeout)
{
    kyro::pipe::trace("connecting with prefix %1", prefix);
    VexPipeNamedConduit* conduit =
        new (std::nothrow) VexPipeNamedConduit(TPath(prefix), false, VexPipePacket::kWait);
    if (conduit == nullptr)
        return nullptr;
    conduit->setPatience(timeout > 0 ? static_cast<std::uint32_t>(timeout) : 0);
    TProcess process(serverPath, prefix);

    bool failed = false;
    if (isServerRunning(prefix)) {
        failed = !conduit->connectWriter(0);
    } else {
        if (process.launch() != TProcess::kStarted) {
            conduit->close(false, true, true);
            delete conduit;
            kyro::pipe::reportError(TStr("Could not execute server process"));
            return nullptr;
        }
        // The companion needs a moment to make its pipe. One that has ended meanwhile
        // never will: waiting out the timeout for it would hold the caller for nothing.
        // Started directly, it is its process, which counts as ended once its presence
        // lock is gone too. Started through a wrapper, the process is the wrapper's, which
        // may end at once or at any time while the companion lives on: then only the
        // presence lock tells, ended once it has been held and let go, or when the wrapper
        // has ended and no companion has taken it within a grace.
        // Its pipe is waited for, not polled: the wait ends as soon as it appears, and
        // every kStartPollMs the companion is checked for having ended.
        const TStr inbound = conduit->pipeName(0);
        const auto started = std::chrono::steady_clock::now();
        const bool wrapped = process.isWrapped();
        bool lockSeen = false;
        auto wrapperEnded = std::chrono::steady_clock::time_point::max();
        for (;;) {
            if (conduit->connectWriter(0))
                break;
            const auto now = std::chrono::steady_clock::now();
            const bool locked = isServerRunning(prefix);
            lockSeen = lockSeen || locked;
            bool ended = false;
            if (!wrapped) {
                ended = !locked && !kyro::platform::processIsAlive(process.processId());
            } else if (lockSeen) {
                ended = !locked;
            } else if (wrapperEnded == std::chrono::steady_clock::time_point::max()) {
                if (!kyro::platform::processIsAlive(process.processId()))
                    wrapperEnded = now;
            } else {
                ended = now - wrapperEnded >= kWrappedStartGrace;
            }
            if (now - started >= std::chrono::milliseconds(timeout) || ended) {
                delete conduit;
                return nullptr;
            }
            // There but not listening yet: a moment's pause rather than a busy loop.
            if (kyro::platform::waitForPipeToAppear(inbound.utf8(), 0))
                kyro::platform::sleepAlertable(1);
            else
                kyro::platform::waitForPipeToAppear(inbound.utf8(), kStartPollMs);
        }
    }

    if (!failed) {
        // Making a pipe fails when the process is out of handles or memory, which passes
        // or does not: a few tries, not `timeout` of them 100 ms apart (hours).
        const int attempts = timeout < kInboundAttempts ? timeout : kInboundAttempts;
        for (int attempt = 0;; ++attempt) {
            if (conduit->openReader(static_cast<long>(clientProcessId())))
                break;
            if (attempt >= attempts) {
                delete conduit;
                return nullptr;
            }
            kyro::platform::sleepAlertable(kInboundRetryMs);
        }

        // Handshake. The companion's id is kept first, so that the wait for its answer
        // ends should it exit instead; a wrapper's id is not the companion's, which its
        // presence lock stands for then. A companion that is alive but does not answer
        // (stopped) is given the patience.
        if (!process.isWrapped())
            conduit->m_process.assign(process);
        VexPipeSession* session = conduit->newSession();
        if (session == nullptr) {
            failed = true;
        } else {
            conduit->setDefaultSession(session);
            VexPipePacket request(TStr("system.cndCnct"), VexPipePacket::kWait);
            request.setSessionNumber(static_cast<int>(session->number()));
            request.setInt("CPID", static_cast<int>(clientProcessId()));
            VexPipePacket reply(VexPipePacket::kWaitInherit);
            session->setWaitLimit(conduit->patience());
            if (conduit->call(&request, &reply, 0) == 0)
                session->setPeerNumber(static_cast<std::uint32_t>(reply.peerSessionNumber()));
            else
                failed = true;   // no answer will come: the companion has gone or is silent
            // The default session's later calls are the caller's: dialogs wait for their
            // person.
            session->setWaitLimit(0);
            session->release();
        }
    }
    if (failed) {
        kyro::pipe::reportError(TStr("Could not create client pipe"));
        delete conduit;
        return nullptr;
    }
    return conduit;
}
