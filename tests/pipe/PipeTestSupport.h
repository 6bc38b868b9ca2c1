// Real pipes: unique names, a raw peer playing a conduit's other side, a conduit wired to one.
#ifndef KYRO_TESTS_PIPE_PIPETESTSUPPORT_H
#define KYRO_TESTS_PIPE_PIPETESTSUPPORT_H

#include "ChildRole.h"
#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/platform/named_pipe.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pipetest {

using Lines = std::vector<std::string>;

std::string uniqueName();                        // "kyrotest<pid>x<n>"
std::string uniquePipeName(const char* what);    // "\\.\pipe\kyrotest\<unique><what>"
bool eventually(const std::function<bool()>& condition, int timeoutMs = 10000);

// A server instance of a pipe read into lines on its own thread; `onLine` sees each first.
class LineReader {
public:
    explicit LineReader(const std::string& name, std::function<void(const std::string&)> onLine = nullptr);
    ~LineReader();
    bool next(std::string* line, int timeoutMs = 10000);   // false: none came in time
    std::string take(int timeoutMs = 10000);                // the next line, or "(none)"
    bool writerGone() const { return m_gone.load(); }

private:
    void run();
    kyro::platform::PipeHandle m_handle;
    std::function<void(const std::string&)> m_onLine;
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::deque<std::string> m_queue;
    std::atomic<bool> m_gone{false};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Reads what the conduit writes, writes into its inbound pipe; a responder may answer each line.
class RawPeer {
public:
    using Responder = std::function<Lines(const std::string& line)>;
    RawPeer();
    ~RawPeer() { disconnect(); }
    const std::string& outName() const { return m_outName; }
    const std::string& inName() const { return m_inName; }
    LineReader& received() { return m_reader; }
    bool connect();   // opens the conduit's inbound pipe
    void setResponder(Responder responder);
    bool inject(const std::string& bytes);
    void disconnect();
    // Answers waited-for requests: "RESP" from peer session 91, "RCOD" the method's name.
    static Lines answerAll(const std::string& line);

private:
    std::string m_outName;
    std::string m_inName;
    std::mutex m_writeLock;
    kyro::platform::PipeHandle m_writer = kyro::platform::kNoPipe;
    Responder m_responder;
    LineReader m_reader;   // last: its thread uses the members above
};

// A reader of `peer`'s lines added to `conduit` as `index`, the peer connected: its device or null.
VexPipeFile* addPeerReader(VexPipeConduit& conduit, long index, RawPeer& peer);
// Injects a line from `peer` and processes `conduit`'s incoming lines until one is handled.
bool deliverFrom(VexPipeConduit& conduit, RawPeer& peer, const std::string& line);

// A client conduit wired to a RawPeer: writer 0 to the peer, reader under this process's id.
class WiredConduit {
public:
    WiredConduit();
    VexPipeConduit* conduit() { return m_conduit.get(); }
    RawPeer& peer() { return m_peer; }
    bool ready() const { return m_ready; }
    long readerIndex() const { return m_readerIndex; }
    bool tickUntil(const std::function<bool()>& condition);
    bool deliver(const std::string& line) { return deliverFrom(*m_conduit, m_peer, line); }

private:
    RawPeer m_peer;
    std::unique_ptr<VexPipeConduit> m_conduit;
    long m_readerIndex;
    bool m_ready = false;
};

}  // namespace pipetest

#endif
