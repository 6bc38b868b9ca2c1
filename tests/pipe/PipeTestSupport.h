// Real pipes for the framework's tests: unique names, a raw peer that plays the other side
// of a conduit over the platform's pipes, and a conduit wired to such a peer.
#ifndef KYRO_TESTS_PIPE_PIPETESTSUPPORT_H
#define KYRO_TESTS_PIPE_PIPETESTSUPPORT_H

#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/platform/named_pipe.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pipetest {

// A name no other test (or test process) uses: "kyrotest<pid>x<n>".
std::string uniqueName();
// "\\.\pipe\kyrotest\<unique>".
std::string uniquePipeName(const char* what);

// Repeats `condition` (every millisecond or so) until it holds or `timeoutMs` have passed.
bool eventually(const std::function<bool()>& condition, int timeoutMs = 10000);

// A server instance of a pipe read on its own thread, split into lines.
class LineReader {
public:
    // Creates the inbound instance `name` and starts reading it.
    explicit LineReader(const std::string& name);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool created() const { return m_handle != kyro::platform::kNoPipe; }
    // The next line (without its "\n"); false when none came in `timeoutMs`.
    bool next(std::string* line, int timeoutMs = 10000);
    // Every line so far, taken or not.
    std::vector<std::string> all() const;
    // Whether the writer has gone (the read reported the pipe broken).
    bool writerGone() const { return m_gone.load(); }
    // Called on the reading thread for each line, before it is queued.
    void setOnLine(std::function<void(const std::string&)> onLine);

private:
    void run();

    kyro::platform::PipeHandle m_handle;
    std::thread m_thread;
    mutable std::mutex m_lock;
    std::condition_variable m_arrived;
    std::deque<std::string> m_queue;
    std::vector<std::string> m_all;
    std::function<void(const std::string&)> m_onLine;
    std::atomic<bool> m_gone{false};
    std::atomic<bool> m_stop{false};
};

// The other side of a conduit, over two raw pipes: it reads what the conduit writes (the
// pipe `outName`, which it creates) and writes into the conduit's inbound pipe `inName`
// (which the conduit creates). A responder may answer each line with lines of its own.
class RawPeer {
public:
    using Responder = std::function<std::vector<std::string>(const std::string& line)>;

    RawPeer();
    ~RawPeer();

    const std::string& outName() const { return m_outName; }
    const std::string& inName() const { return m_inName; }
    LineReader& received() { return *m_reader; }

    // Opens the conduit's inbound pipe for writing (once the conduit has made it).
    bool connect();
    void setResponder(Responder responder);
    // Writes raw bytes into the conduit's inbound pipe.
    bool inject(const std::string& bytes);
    // Closes the writer: the conduit's reader sees its peer gone.
    void disconnect();

    // Answers every request of a waiting kind like a companion would: "RESP" in the
    // request's session, addressed back, with "RCOD" the method's name.
    static std::vector<std::string> answerAll(const std::string& line);

private:
    std::string m_outName;
    std::string m_inName;
    LineReader* m_reader;
    std::mutex m_writeLock;
    kyro::platform::PipeHandle m_writer;
    Responder m_responder;
};

// A plain conduit (client role) wired to a RawPeer: writer 0 to the peer, and its inbound
// pipe as the reader under this process's id (where a client's session looks for it).
class WiredConduit {
public:
    explicit WiredConduit(std::uint32_t waitMode = VexPipePacket::kWait, bool serverRole = false);
    ~WiredConduit();

    VexPipeConduit* conduit() { return m_conduit; }
    RawPeer& peer() { return m_peer; }
    bool ready() const { return m_ready; }
    long readerIndex() const { return m_readerIndex; }

    // Runs the conduit's idle ticks until `condition` holds (false after `timeoutMs`).
    bool tickUntil(const std::function<bool()>& condition, int timeoutMs = 10000);
    // Injects one line (a "\n" is added) and ticks until the conduit has handled it.
    bool deliver(const std::string& line);

private:
    RawPeer m_peer;
    VexPipeConduit* m_conduit;
    long m_readerIndex;
    bool m_ready;
};

// Runs a server conduit (the companion's side) on its own thread, holding the presence
// lock of its prefix, until stopped.
class ServerThread {
public:
    explicit ServerThread(const std::string& prefix);
    ~ServerThread();
    bool started() const { return m_started.load(); }
    void stop();
    // Runs `work` on the server's thread with its conduit, between two ticks.
    void run(std::function<void(VexPipeNamedConduit*)> work);

private:
    void main();

    std::string m_prefix;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_failed{false};
    std::mutex m_lock;
    std::vector<std::function<void(VexPipeNamedConduit*)>> m_work;
};

}  // namespace pipetest

#endif
