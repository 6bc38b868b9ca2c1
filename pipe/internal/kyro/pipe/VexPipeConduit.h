// VexPipeConduit: the transport hub of one connection. It owns the read and write
// endpoints of the connection (by pipe index), the table of sessions with the system
// session (number 1) and the system facility. It sends packets as text lines on its write
// endpoints, reads lines from its read endpoints, turns them into packets and hands each
// to the session it names. VexPipeNamedConduit realises it over named pipes and adds the
// client's connection routine.
//
// Threads: a conduit, its sessions and the facilities they call run on one thread at a
// time; the only other threads are the reader threads of its read devices. Incoming data
// is polled: processIncoming() takes at most one line per read endpoint per pass. While a
// call waits, idleTick() runs the idle callback, processIncoming() and an alertable sleep
// of at most the interval (100 ms); the sleep ends early when a reader queues bytes.
//
// Ownership: the creator owns the conduit and destroys it with `delete` (sessions hold
// references, so release() alone frees it only once every session has been terminated).
// Destruction takes the system facility out of the registry, terminates the sessions that
// are left (without notifying the peer), closes every reader (stopping its thread) and
// closes the writers.
//
// A conduit as a client (what connectToServer() returns):
//
//     VexPipeNamedConduit* conduit = VexPipeNamedConduit::connectToServer(path, prefix, 100000);
//     VexPipePacket request("kyro.ErrorDialog", VexPipePacket::kWait), reply;
//     conduit->call(&request, &reply, 0);       // 0: the reply came; 1: it never will
//     conduit->close(true, true, true);          // "system.cndTerm", waits for the answer
//     delete conduit;
//
// A conduit as a server (the companion's side), accepting clients one after another and
// at the same time on inbound0:
//
//     acquirePresenceLock(VexPipeNamedConduit::presenceLockName(prefix), &lock);
//     VexPipeNamedConduit server(prefix, true, VexPipePacket::kWaitInherit);
//     server.startListening();           // a listening instance of inbound0 as a reader
//     while (running) server.idleTick(100);
//
//  - Each instance that receives its first bytes keeps its client as a reader of its own
//    (indexes -1, -2, ...) and a fresh listening instance takes its place (afterIncoming).
//    A client that opens the pipe and leaves without a word does not use up the listening
//    instance (VexPipeFile::kRelisten). A reader whose client has gone, and whose lines
//    have all been handled, is removed.
//  - A client's "system.cndCnct" (with its "CPID") reaches the system facility in a new
//    session, which connects a writer to the client's inbound<CPID> (connectClient ->
//    connectClientWriter(CPID)) and answers there; every reply of that session goes there.
//    The handshake also binds the reader it came on to that writer: every session that a
//    later line of the same reader opens (a request the client sends in a session of its
//    own) shares the connection and answers on that writer, never on every writer.
//  - Writers are kept by the client process id. A second connection that hands over the
//    same "CPID" while the first is still bound (two conduits of one client process) gets
//    a writer of its own under a key below 0, to the same inbound<CPID>, so both keep their
//    replies. Its writer opens the instance of that pipe that is listening, which is the
//    second conduit's as long as a client process makes its inbound pipe just before its
//    handshake and handshakes one conduit at a time (connectToServer does both).
//  - "system.ssnTerm" and "system.cndTerm" answer, then end the session; the session of a
//    handshake ends the sessions that share its connection and removes its writer (the
//    connection's end), a session that shares the connection ends only itself. A server may register facilities of its own
//    (VexPipeFacilityRegistry).
//  - A server that accepts clients itself can hand each accepted pipe over as a reader:
//    addReader(index, VexPipeReadEndpoint(new VexPipeFile(handle, VexPipeFile::kRead, true))).
#ifndef KYRO_PIPE_VEXPIPECONDUIT_H
#define KYRO_PIPE_VEXPIPECONDUIT_H

#include "kyro/pipe/TProcess.h"
#include "kyro/pipe/VexPipeEndpoint.h"
#include "kyro/pipe/VexPipePacket.h"
#include "kyro/pipe/VexPipeSession.h"
#include "kyro/platform/threads.h"
#include "kyro/util/TMap.h"
#include "kyro/util/TPath.h"
#include "kyro/util/TStr.h"

#include <cstdint>

class VexPipeSystemFacility;

class VexPipeConduit : public VexPipeBase {
public:
    using IdleCallback = void (*)(void* context, std::uint32_t intervalMs);

    enum State : std::uint32_t { kNew = 0, kReady = 1, kClosing = 4, kClosed = 5 };
    static constexpr std::uint32_t kWaitIntervalMs = 100;
    static constexpr long kSystemSessionNumber = 1;
    // Sessions a conduit holds at most for the conversations its peer opens: a packet for
    // an unknown session beyond them is dropped (see dispatchIncoming).
    static constexpr int kMaxSessions = 4096;

    VexPipeConduit(bool serverRole, std::uint32_t waitMode, bool internalSystemFacility);
    ~VexPipeConduit() override;
    VexPipeConduit(const VexPipeConduit&) = delete;
    VexPipeConduit& operator=(const VexPipeConduit&) = delete;

    // Slots 1 and 2 keep a depth count beside the lock.
    bool lock(std::uint32_t timeoutMs) override;
    void unlock() override;
    // Slot 3: transmit() unchanged. Slot 4: transmit() without a reply packet.
    virtual int call(VexPipePacket* request, VexPipePacket* reply, long writerIndex);
    virtual int post(VexPipePacket* request, long writerIndex);
    // Slot 5: sends `request` on the writer `writerIndex` (0: every writer) within the
    // session it names (else the default session), and waits for the reply when the
    // request's wait mode (else the session's, else the conduit's) says so and `reply` is
    // given. 0 when sent (and, when waiting, the reply came into `reply`); 1 when the writer
    // is unknown ("Attempt to write to unknown writer %1"), the line is longer than the
    // peer's reader takes (VexPipeReadEndpoint::kMaxLineBytes; nothing is sent), nothing
    // could be written, or the wait ended without a reply.
    virtual int transmit(VexPipePacket* request, VexPipePacket* reply, long writerIndex);
    // Slot 6: the orderly close. As initiator it ends the other sessions, tells the peer
    // ("system.cndTerm") and waits for its answer, at most the patience; otherwise it only
    // ends the default session. A second close does nothing. Always 0.
    virtual int close(bool initiator, bool readers, bool writers);
    virtual int reserved();                 // slot 7: 0
    // Slot 8: reads and dispatches at most one line per read endpoint; returns the number
    // of packets dispatched. Lines that are not packets (another version, empty) are
    // dropped with a trace line.
    virtual int processIncoming();
    virtual bool isClosed() const;          // slot 9
    virtual std::uint32_t defaultWaitMode() const;   // slot 10
    // Slots 11 and 12: a copy of the endpoint under the index (replacing one there).
    virtual void addReader(long index, const VexPipeReadEndpoint& endpoint);
    virtual void addWriter(long index, const VexPipeWriteEndpoint& endpoint);
    // Slots 13 and 14: close the endpoint's device and forget the endpoint.
    virtual void removeReader(long index);
    virtual void removeWriter(long index);
    virtual void removeAllReaders();        // slot 15
    virtual int writerCount() const;        // slot 16
    virtual std::uint32_t lockDepth() const;   // slot 17
    virtual bool connectWriter(long index); // slot 18: false here
    virtual void afterIncoming();           // slot 19: nothing here
    virtual bool openReader(long index);    // slot 20: false here
    // Slot 21: opens the peer's pipe `pipeIndex` for writing and adds it as writer
    // `writerIndex`. Here: connectWriter(pipeIndex) when both are the same, else false.
    virtual bool connectWriterAs(long pipeIndex, long writerIndex);
    // Whether a waiting call can no longer get its reply: no reader is left that may still
    // deliver a line (all ended and read, or none at all), or the peer let a wait bounded
    // by the patience pass (markUnanswered).
    virtual bool connectionLost();
    // The reader that is this side's own inbound pipe, which a client's session removes
    // when it ends: the current process id here.
    virtual long ownReaderIndex() const;

    // How long, in milliseconds, the connection's own exchanges wait for their answer: the
    // handshake, a session's end ("system.ssnTerm") and the close ("system.cndTerm"). A
    // peer that is alive but silent (a stopped process) holds them no longer. 0 (the
    // default) waits without limit; connectToServer() sets its timeout. Dialogs are not
    // bounded by it: they wait for their person.
    void setPatience(std::uint32_t patienceMs) { m_patienceMs = patienceMs; }
    std::uint32_t patience() const { return m_patienceMs; }
    // A wait bounded by the patience ended without its answer: from now on the connection
    // counts as lost, so that later waits on it end at once and its users start afresh.
    void markUnanswered() { m_unanswered = true; }

    // Installs the idle callback (with its context); returns the one it replaces.
    IdleCallback setIdleCallback(IdleCallback callback, void* context);
    // The idle callback, processIncoming(), then an alertable sleep of `intervalMs` that
    // ends early when a reader receives bytes (skipped when packets were just handled).
    void idleTick(std::uint32_t intervalMs);

    // A new session with the next process-wide number (from 10), peer number 0, wait mode
    // 0, in the sessions map; returned with a reference for the caller. Null on failure.
    VexPipeSession* newSession();
    // Server side of a client's handshake (VexPipeSession::connectClient): connects a writer
    // to the client's inbound<clientProcessId> and binds the connection whose line is being
    // handled to it. Returns the writer's key: the client process id, or a key below 0 of
    // its own while another connection is bound to that one (see above). The result of the
    // connection itself is not checked, as a session's is not.
    long connectClientWriter(long clientProcessId);
    // The writer key that reader `readerIndex`'s connection was handshaken with; 0 when none.
    long connectionWriter(long readerIndex) const;
    // The open session that holds writer `writerIndex` (its handshake bound it), or null.
    VexPipeSession* sessionHoldingWriter(long writerIndex) const;
    VexPipeSession* findSession(long number) const;
    // Hands an incoming packet to the session it names, or to a new one. 1 when handed on.
    // A new one that sent nothing while it handled the packet, and that nothing keeps (an
    // answer it owes, a wait, a handshake), goes again at once: its peer cannot know its
    // number. With kMaxSessions sessions held, no new one is made: the packet is dropped
    // with the report 0xF0000007 "Could not find or allocate session : %1", and 0.
    int dispatchIncoming(VexPipePacket* packet);
    // The session a packet is sent in: the one it names, else the default session. Null
    // only when the conduit has neither.
    VexPipeSession* sessionForPacket(VexPipePacket* packet);

    void setCurrentSession(VexPipeSession* session) { m_currentSession = session; }
    VexPipeSession* currentSession() const { return m_currentSession; }
    void setDefaultSession(VexPipeSession* session) { m_defaultSession = session; }
    VexPipeSession* defaultSession() const { return m_defaultSession; }

    VexPipeSystemFacility* systemFacility() const { return m_systemFacility; }
    bool isServerRole() const { return m_serverRole; }
    std::uint32_t state() const { return m_state; }
    std::uint32_t arrivals() const { return m_arrivals; }
    int readerCount() const { return m_readers.count(); }
    int sessionCount() const { return m_sessions.count(); }
    bool hasReader(long index) const { return m_readers.find(index) != m_readers.end(); }
    bool hasWriter(long index) const { return m_writers.find(index) != m_writers.end(); }
    // A copy of the write endpoint under `index`, sharing its device; one without a device
    // when there is none. Bytes written through it bypass the packet format (a peer that
    // misbehaves on purpose, in tests).
    VexPipeWriteEndpoint writerEndpoint(long index) const;

protected:
    TMap<long, VexPipeReadEndpoint>& readers() { return m_readers; }

private:
    friend class VexPipeSession;
    // Called by a session that detaches: takes it out of the map (dropping the map's
    // reference) and out of the default and current places.
    void removeSession(VexPipeSession* session);
    // A session lets go of its reference (not while the conduit is being destroyed).
    void releaseFromSession();
    // Registers this thread's waker with every reader.
    void ensureWaker();
    // Ends, without a word, the sessions that share the connection of writer `writerIndex`
    // (a server's connection has ended).
    void endSessionsSharing(long writerIndex);
    // Forgets the connection bindings of a reader, or of a writer key.
    void unbindReader(long readerIndex);
    void unbindWriter(long writerIndex);
    // Looks for bytes at the readers for a few microseconds before a sleep.
    bool bytesArriveShortly();
    static constexpr int kShortWaitMicros = 50;
    bool writeLine(VexPipeWriteEndpoint& writer, const TStr& line);

    TMap<long, VexPipeReadEndpoint> m_readers;
    TMap<long, VexPipeWriteEndpoint> m_writers;
    TMap<long, VexPipeSession*> m_sessions;
    // Reader index of a handshaken connection -> the key of its writer.
    TMap<long, long> m_connections;
    // The reader whose line is being dispatched (when m_lineFromReader).
    long m_lineReader;
    bool m_lineFromReader;
    // Keys for the writers of second connections of one client process id: -1, -2, ...
    long m_nextSharedKey;
    VexPipeSystemFacility* m_systemFacility;
    VexPipeSession* m_defaultSession;
    std::uint32_t m_waitMode;
    std::uint32_t m_state;
    IdleCallback m_idleCallback;
    void* m_idleContext;
    std::uint32_t m_arrivals;
    std::uint32_t m_lockDepth;
    bool m_serverRole;
    VexPipeSession* m_currentSession;
    bool m_destroying;
    kyro::platform::SleepWaker m_waker;
    std::uint32_t m_wakerThread;
    std::uint32_t m_patienceMs;
    bool m_unanswered;
};

class VexPipeNamedConduit : public VexPipeConduit {
public:
    // The first part of every pipe name; the prefix and "inbound<index>" follow.
    static const char* const kPipeBase;
    // The timeout the dialog requests pass to connectToServer().
    static constexpr int kDefaultTimeout = 100000;

    // Builds the conduit with a system facility named "system".
    VexPipeNamedConduit(const TPath& prefix, bool serverRole, std::uint32_t waitMode);
    ~VexPipeNamedConduit() override;

    // Slot 5: puts the client process id into the request as "CPID", then sends it.
    int transmit(VexPipePacket* request, VexPipePacket* reply, long writerIndex) override;
    // Slot 6: stops listening, then closes.
    int close(bool initiator, bool readers, bool writers) override;
    // Slot 13: flushes the reader's pipe first.
    void removeReader(long index) override;
    // Slot 18: opens `index`'s pipe of the peer for writing and adds it as writer `index`.
    // False, silently, when the pipe is not there.
    bool connectWriter(long index) override;
    // Slot 21: the same under another writer key.
    bool connectWriterAs(long pipeIndex, long writerIndex) override;
    // Slot 20: creates this side's inbound pipe `index` and adds it as reader `index`.
    bool openReader(long index) override;
    // Also lost when the companion has gone and everything it sent has been handled: the
    // companion this conduit started itself when its process has exited, else (found
    // running, or started through a wrapper) when its presence lock is gone.
    bool connectionLost() override;
    long ownReaderIndex() const override;
    // Server role: keeps a listening instance of inbound0 and drops readers whose client
    // has gone (see VexPipeConduit.h).
    void afterIncoming() override;

    // The client connection routine: finds or starts the companion (`serverPath`, with
    // `prefix` as its argument), opens both pipes and performs the handshake. A connected
    // conduit owned by the caller, or null. A companion it started is waited for about
    // `timeout` ms to open its pipe, unless it ends first (started through the wrapper of
    // TProcess::kSquishVariable: unless its presence lock, once taken, is gone, or the
    // wrapper has ended and no companion has taken the lock within 5 s); making its own
    // inbound pipe is retried at most 10 times, 100 ms apart. `timeout` is also the
    // conduit's patience (setPatience): a companion that does not answer the handshake
    // within it (alive but stopped, say) leaves the result null, with "No reply in session
    // %1 within %2 ms" and "Could not create client pipe".
    static VexPipeNamedConduit* connectToServer(const TStr& serverPath, const TStr& prefix,
                                                int timeout);
    // Whether a companion holds the presence lock of `prefix`.
    static bool isServerRunning(const TStr& prefix);
    // "Global\Norveldt_KYRO_<prefix>": the presence lock a companion holds.
    static TStr presenceLockName(const TStr& prefix);
    // The file name of `serverPath` followed by this process's id ("Vex.exe5120").
    static TStr makePipePrefix(const TStr& serverPath);
    // The process id this side announces as "CPID" and names its inbound pipe after;
    // 0 (the default) means the current process id. Process-wide.
    static void setClientProcessId(std::uint32_t processId);
    static std::uint32_t clientProcessId();

    // "\\.\pipe\Norveldt\kyro\<prefix>\inbound<index>".
    TStr pipeName(long index) const;
    const TPath& prefix() const { return m_prefix; }
    // The companion connectToServer() started; 0 when it found one running, or started it
    // through a wrapper (whose process is not the companion).
    std::uint32_t companionProcessId() const { return m_process.processId(); }

    // Server role: starts accepting clients on inbound0. False when the pipe cannot be made.
    bool startListening();
    bool isListening() const { return m_listenerState == kListening; }

private:
    enum ListenerState : std::uint32_t { kNoListener = 0, kListening = 1, kListenerStopped = 2 };

    bool openInbound(long pipeIndex, long readerIndex, std::uint32_t mode);

    TProcess m_process;
    TPath m_prefix;
    std::uint32_t m_listenerState;
    // The server role polls its listening instances; no listener thread is ever started.
    [[maybe_unused]] kyro::platform::ThreadHandle m_listenerThread;
    long m_listeningIndex;
    long m_ownReaderIndex;
    bool m_companionGoneSeen;
};

#endif
