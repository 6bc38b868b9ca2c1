// The framework's baseline: one short line there and one back over the platform's named
// pipes with nothing of the framework in between. The topology is the companion
// connection's: the client writes to the server's inbound pipe (index 0), the server
// answers on the client's own inbound pipe, and each side reads only its own inbound pipe.
// Server and client are two threads of this program.
#ifndef KYRO_BENCH_RAW_PIPE_PEER_H
#define KYRO_BENCH_RAW_PIPE_PEER_H

#include "kyro/platform/named_pipe.h"
#include "kyro/platform/threads.h"

#include <string>

namespace kyro::bench {

class RawPipePair {
public:
    RawPipePair();   // connects both pipes; see connected()
    ~RawPipePair();
    RawPipePair(const RawPipePair&) = delete;
    RawPipePair& operator=(const RawPipePair&) = delete;

    bool connected() const { return m_connected; }
    // One request line to the server and its reply back. False when a pipe failed.
    bool roundTrip();

private:
    struct Server;

    Server* m_server;
    kyro::platform::PipeHandle m_replies = kyro::platform::kNoPipe;
    kyro::platform::PipeHandle m_requests = kyro::platform::kNoPipe;
    kyro::platform::ThreadHandle m_thread = kyro::platform::kNoThread;
    std::string m_pending;
    bool m_connected = false;
};

}  // namespace kyro::bench

#endif
