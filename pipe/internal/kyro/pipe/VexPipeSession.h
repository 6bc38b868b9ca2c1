// VexPipeSession: one numbered conversation inside a conduit. A session remembers the
// peer's number for the same conversation, sends packets for its owner, waits for
// replies, and hands requests that arrive for it to the facility the packet names.
// Session number 1 is the system session every conduit has (VexPipeSystemSession).
//
// References: the conduit's sessions map holds one; VexPipeConduit::newSession() returns
// a session with one more for the caller, who release()s it. A session holds a reference
// to its conduit until it is terminated.
//
// Waiting (waitForReply): while a reply is awaited the calling thread runs the conduit's
// idleTick() (idle callback, incoming packets, a sleep of at most the interval that ends
// early when bytes arrive). Any packet that arrives for a waiting session is its reply.
// There is no time limit - a dialog waits for its person - unless one is set
// (setWaitLimit): the connection's own exchanges (the handshake, a session's end, the
// connection's close) wait at most the conduit's patience, and a peer that lets that pass
// leaves the connection lost. The wait also ends with 1 when the connection is gone: the
// session lost its conduit, or the conduit reports its connection lost (its inbound pipes
// ended, its companion has gone).
//
// Connections and sessions: a session made here (newSession) holds its connection's
// pipes, and its end takes them along: in a client the writer to the peer and the own
// inbound pipe, in a server the writer to its client. That is right for the session of a
// connection's handshake. Any number of other conversations may run over the same
// connection at the same time, each in a session that shares the connection
// (shareConnection): it writes on the connection's writer, and its end leaves the pipes to
// the connection. A client opens one per request (newSession(), then shareConnection(0));
// every session that a peer's packet opens shares the connection the packet came on (in a
// server: the writer of that client's handshake, VexPipeConduit::connectClientWriter),
// until a handshake in it makes it the connection's holder (connectClient).
#ifndef KYRO_PIPE_VEXPIPESESSION_H
#define KYRO_PIPE_VEXPIPESESSION_H

#include "kyro/pipe/VexPipePacket.h"

#include <cstdint>

class VexPipeConduit;

class VexPipeSession : public VexPipeBase {
public:
    // Tried before the facilities when a request arrives; returning kPassOn lets the
    // request go on to them, anything else ends its handling with that result.
    using MethodOverride = long (*)(VexPipeSession* session, VexPipePacket* packet);
    static constexpr long kPassOn = 3;

    enum State : std::uint32_t { kOpen = 1, kTerminating = 4, kTerminated = 5 };

    // Takes a reference to `conduit` (which may be null for a session of no conduit).
    VexPipeSession(VexPipeConduit* conduit, std::uint32_t number, std::uint32_t peerNumber,
                   std::uint32_t waitMode);
    // Terminates the session, notifying the peer, when it is still open.
    ~VexPipeSession() override;
    VexPipeSession(const VexPipeSession&) = delete;
    VexPipeSession& operator=(const VexPipeSession&) = delete;

    std::uint32_t number() const { return m_number; }
    std::uint32_t peerNumber() const { return m_peerNumber; }
    void setPeerNumber(std::uint32_t number) { m_peerNumber = number; }
    std::uint32_t clientProcessId() const { return m_clientProcessId; }
    void setClientProcessId(std::uint32_t processId) { m_clientProcessId = processId; }
    std::uint32_t waitMode() const { return m_waitMode; }
    void setWaitMode(std::uint32_t mode) { m_waitMode = mode; }
    VexPipeConduit* conduit() const { return m_conduit; }
    std::uint32_t state() const { return m_state; }
    bool isWaiting() const { return m_waiting; }
    // The pipe index the session writes to; 0 means every writer of the conduit.
    long writerIndex() const { return m_writerIndex; }
    // Makes this a session that shares its connection: it writes on `writerIndex` (0: every
    // writer), and its end (terminate, detach) leaves the connection's pipes alone.
    void shareConnection(long writerIndex);
    bool sharesConnection() const { return m_sharesConnection; }
    // The session that holds the connection this one shares: in a server the session whose
    // handshake bound the same writer, in a client the conduit's default session. This
    // session itself when it holds its connection, or when none is found.
    VexPipeSession* connectionSession();
    void setMethodOverride(MethodOverride function) { m_methodOverride = function; }
    // The longest a wait for a reply in this session lasts, in milliseconds; 0 (the
    // default) waits without limit.
    void setWaitLimit(std::uint32_t limitMs) { m_waitLimitMs = limitMs; }
    std::uint32_t waitLimit() const { return m_waitLimitMs; }

    // Whether a packet has been sent in this session, telling the peer its number.
    bool hasSent() const { return m_hasSent; }
    void markSent() { m_hasSent = true; }

    // Marks the session as waiting for a reply (a reply left from before is dropped).
    void prepareWait();
    // Clears the waiting mark without a reply.
    void cancelWait();

    // Writes this session's numbers into `packet` and transmits it on the session's writer
    // (used for replies). Returns the conduit's transmit result; 1 without a conduit.
    long send(VexPipePacket* packet);

    // Waits for the reply and copies it into `reply`. 0 when a reply came; 1 when the wait
    // ended without one (see above): "Connection lost while session %1 waited for a reply",
    // or past the wait limit "No reply in session %1 within %2 ms", after which the conduit
    // counts its connection lost (VexPipeConduit::markUnanswered).
    int waitForReply(VexPipePacket* reply, std::uint32_t intervalMs);

    // A packet for this session (from the conduit's dispatchIncoming). Taken as the reply
    // when the session waits; otherwise handed to the method override, then to the
    // facility named in the packet, else to the "system" facility ("systemInternal", the
    // conduit's own). With no facility at all it is dropped with a report.
    long receive(VexPipePacket* packet);

    // Server side of "cndCnct": binds the session to the client's inbound pipe (through
    // VexPipeConduit::connectClientWriter, which also binds the client's connection). False
    // (with a report) when the session is bound already.
    bool connectClient(std::uint32_t clientProcessId);

    // Ends the session: with `notify`, tells the peer ("system.ssnTerm") and waits for its
    // answer, at most the conduit's patience; then detaches from the conduit's pipes and sessions and lets go of the
    // conduit. Only an open session is terminated; always 0.
    int terminate(bool notify);

    // Removes the session's writer (and, in a client, the conduit's own inbound pipe) and
    // the session itself from the conduit; a session that shares its connection removes
    // only itself.
    void detach(long writerIndex);

private:
    friend class VexPipeConduit;
    // The conduit is being destroyed: forget it without touching its reference count.
    void forgetConduit();
    bool connectionLost();

    VexPipeConduit* m_conduit;
    std::uint32_t m_number;
    std::uint32_t m_peerNumber;
    std::uint32_t m_clientProcessId;
    std::uint32_t m_waitMode;
    bool m_waiting;
    VexPipePacket* m_reply;
    std::uint32_t m_state;
    long m_writerIndex;
    bool m_sharesConnection;
    MethodOverride m_methodOverride;
    std::uint32_t m_waitLimitMs;
    bool m_hasSent;
};

// Session 1 of every conduit: its number is its peer number too.
class VexPipeSystemSession : public VexPipeSession {
public:
    VexPipeSystemSession(VexPipeConduit* conduit, std::uint32_t number);
};

#endif
