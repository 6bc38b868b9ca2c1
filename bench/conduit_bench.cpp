// A warm call round trip through the framework: a client conduit calls a server conduit
// that answers with its system facility, each on its own thread of this program, over the
// same two-pipe topology as raw_pipe/round_trip (the baseline: the same lines with nothing
// of the framework in between). The client's call marshals, writes, waits in idle ticks
// and reads the reply; the server's idle ticks read, dispatch and answer.
#include "bench_support.h"

#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/platform/presence_lock.h"
#include "kyro/platform/process_info.h"

#include <atomic>
#include <string>
#include <thread>

namespace {

using namespace kyro::platform;

class Server {
public:
    explicit Server(const std::string& prefix) : m_prefix(prefix)
    {
        m_thread = std::thread(&Server::run, this);
        while (m_state.load() == 0)
            std::this_thread::yield();
    }
    ~Server()
    {
        m_stop = true;
        m_thread.join();
    }
    bool started() const { return m_state.load() == 1; }

private:
    void run()
    {
        PresenceLock presence = kNoPresenceLock;
        const TStr lockName = VexPipeNamedConduit::presenceLockName(TStr(m_prefix.c_str()));
        if (acquirePresenceLock(lockName.utf8(), &presence) != PresenceResult::Acquired) {
            m_state = 2;
            return;
        }
        VexPipeNamedConduit* server =
            new VexPipeNamedConduit(TPath(m_prefix.c_str()), true, VexPipePacket::kWaitInherit);
        m_state = server->startListening() ? 1 : 2;
        while (!m_stop && m_state == 1)
            server->idleTick(VexPipeConduit::kWaitIntervalMs);
        delete server;
        releasePresenceLock(presence);
    }

    std::string m_prefix;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_state{0};
};

void conduitRoundTrip(benchmark::State& state, const char* method)
{
    const std::string prefix = "conduitbench" + std::to_string(currentProcessId());
    Server server(prefix);
    VexPipeNamedConduit* client =
        server.started() ? VexPipeNamedConduit::connectToServer(TStr("Vex.exe"), TStr(prefix.c_str()), 100)
                         : nullptr;
    if (client == nullptr) {
        state.SkipWithError("the conduits could not be connected");
        return;
    }
    VexPipePacket request(TStr(method), VexPipePacket::kWait);
    VexPipePacket reply;
    if (client->call(&request, &reply, 0) != 0) {
        state.SkipWithError("the first round trip failed");
    } else {
        for (auto _ : state) {
            VexPipePacket call(TStr(method), VexPipePacket::kWait);
            VexPipePacket answer;
            if (client->call(&call, &answer, 0) != 0) {
                state.SkipWithError("a round trip failed");
                break;
            }
            benchmark::DoNotOptimize(answer);
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    }
    client->close(true, true, true);
    delete client;
}

BENCHMARK_CAPTURE(conduitRoundTrip, index, "system.index")
    ->Name("conduit/round_trip/index")
    ->UseRealTime();
BENCHMARK_CAPTURE(conduitRoundTrip, listLocales, "system.listLocales")
    ->Name("conduit/round_trip/listLocales")
    ->UseRealTime();

}  // namespace
