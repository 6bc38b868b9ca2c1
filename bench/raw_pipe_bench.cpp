// One short line there and one back over the platform's named pipes, with nothing of the
// framework in between: the baseline of the framework's call round trip. The topology is
// the companion connection's: the client writes to the server's inbound pipe (index 0),
// the server answers on the client's own inbound pipe, and each side reads only its own
// inbound pipe. Server and client are two threads of this program.
#include "bench_support.h"

#include "kyro/platform/named_pipe.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/threads.h"

#include <cstring>
#include <string>

namespace {

using namespace kyro::platform;

const char kRequest[] = "65536;kyro.ErrorDialog;12;3;0;2;caption=hKyro Host;icon=i3;CPID=i5120\n";
const char kReply[] = "65536;kyro.RESP;3;12;0;0;RCOD=hErrorDialog\n";

std::string pipeName(const char* leaf)
{
    return "\\\\.\\pipe\\Norveldt\\kyro\\rawbench" + std::to_string(currentProcessId()) + "\\" +
           leaf;
}

// Reads from `pipe` until `pending` holds a whole line, which it removes. False when the
// pipe ends first.
bool takeLine(PipeHandle pipe, std::string* pending)
{
    char buffer[4096];
    std::string::size_type end;
    while ((end = pending->find('\n')) == std::string::npos) {
        const PipeResult got = pipeRead(pipe, buffer, sizeof(buffer));
        if (got.status == PipeStatus::Listening) {
            sleepAlertable(1);
            continue;
        }
        if (got.status != PipeStatus::Ok)
            return false;
        pending->append(buffer, got.bytes);
    }
    pending->erase(0, end + 1);
    return true;
}

bool writeAll(PipeHandle pipe, const char* text)
{
    const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(text));
    const PipeResult written = pipeWrite(pipe, text, length);
    return written.status == PipeStatus::Ok && written.bytes == length;
}

// The server side: takes one client on its inbound pipe, opens the client's inbound pipe
// and answers every line with one line, until the client goes.
struct Server {
    std::string inboundName;
    std::string replyName;
    PipeHandle inbound = kNoPipe;

    static void run(void* self) { static_cast<Server*>(self)->serve(); }

    void serve()
    {
        if (waitForClient(inbound) != PipeConnectResult::Connected ||
            !waitForPipe(replyName.c_str(), 1000))
            return;
        const PipeHandle reply = openPipeForWriting(replyName.c_str());
        std::string pending;
        while (reply != kNoPipe && takeLine(inbound, &pending) && writeAll(reply, kReply)) {
        }
        closePipe(reply);
    }
};

void rawPipeRoundTrip(benchmark::State& state)
{
    Server server;
    server.inboundName = pipeName("inbound0");
    server.replyName = pipeName(("inbound" + std::to_string(currentProcessId())).c_str());
    server.inbound = createInboundPipe(server.inboundName.c_str());
    const PipeHandle replies = createInboundPipe(server.replyName.c_str());
    const ThreadHandle thread =
        server.inbound != kNoPipe ? startThread(&Server::run, &server) : kNoThread;
    PipeHandle requests = kNoPipe;
    if (thread != kNoThread && waitForPipe(server.inboundName.c_str(), 1000))
        requests = openPipeForWriting(server.inboundName.c_str());

    std::string pending;
    if (replies == kNoPipe || requests == kNoPipe ||
        waitForClient(replies) != PipeConnectResult::Connected) {
        state.SkipWithError("the pipes could not be connected");
    } else if (!writeAll(requests, kRequest) || !takeLine(replies, &pending)) {
        state.SkipWithError("the first round trip failed");
    } else {
        for (auto _ : state) {
            if (!writeAll(requests, kRequest) || !takeLine(replies, &pending)) {
                state.SkipWithError("a round trip failed");
                break;
            }
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    }

    // The client going ends the server's loop.
    closePipe(requests);
    if (thread != kNoThread) {
        if (!waitForThread(thread, 5000))
            closePipe(server.inbound);
        waitForThread(thread, kWaitForever);
        releaseThread(thread);
    }
    closePipe(server.inbound);
    closePipe(replies);
}

BENCHMARK(rawPipeRoundTrip)->Name("raw_pipe/round_trip")->UseRealTime();

}  // namespace
