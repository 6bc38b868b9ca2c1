#include "raw_pipe_peer.h"

#include "kyro/platform/process_info.h"

#include <cstring>

namespace kyro::bench {

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

}  // namespace

// The server side: takes one client on its inbound pipe, opens the client's inbound pipe
// and answers every line with one line, until the client goes.
struct RawPipePair::Server {
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

RawPipePair::RawPipePair() : m_server(new Server)
{
    m_server->inboundName = pipeName("inbound0");
    m_server->replyName = pipeName(("inbound" + std::to_string(currentProcessId())).c_str());
    m_server->inbound = createInboundPipe(m_server->inboundName.c_str());
    m_replies = createInboundPipe(m_server->replyName.c_str());
    if (m_server->inbound != kNoPipe)
        m_thread = startThread(&Server::run, m_server);
    if (m_thread != kNoThread && waitForPipe(m_server->inboundName.c_str(), 1000))
        m_requests = openPipeForWriting(m_server->inboundName.c_str());
    m_connected = m_replies != kNoPipe && m_requests != kNoPipe &&
                  waitForClient(m_replies) == PipeConnectResult::Connected;
}

RawPipePair::~RawPipePair()
{
    // The client going ends the server's loop.
    closePipe(m_requests);
    if (m_thread != kNoThread) {
        if (!waitForThread(m_thread, 5000))
            closePipe(m_server->inbound);
        waitForThread(m_thread, kWaitForever);
        releaseThread(m_thread);
    }
    closePipe(m_server->inbound);
    closePipe(m_replies);
    delete m_server;
}

bool RawPipePair::roundTrip()
{
    return m_connected && writeAll(m_requests, kRequest) && takeLine(m_replies, &m_pending);
}

}  // namespace kyro::bench
