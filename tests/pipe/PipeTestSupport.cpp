#include "PipeTestSupport.h"

#include "kyro/pipe/VexPipePacket.h"
#include "kyro/platform/process_info.h"

#include <chrono>

namespace pipetest {

using namespace kyro::platform;

std::string uniqueName()
{
    static std::atomic<int> counter{0};
    return "kyrotest" + std::to_string(currentProcessId()) + "x" + std::to_string(++counter);
}

std::string uniquePipeName(const char* what)
{
    return std::string("\\\\.\\pipe\\kyrotest\\") + uniqueName() + what;
}

bool eventually(const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    }
    return true;
}

LineReader::LineReader(const std::string& name, std::function<void(const std::string&)> onLine)
    : m_handle(createInboundPipe(name.c_str())), m_onLine(std::move(onLine))
{
    if (m_handle != kNoPipe)
        m_thread = std::thread(&LineReader::run, this);
}

LineReader::~LineReader()
{
    m_stop = true;
    closePipe(m_handle);
    if (m_thread.joinable())
        m_thread.join();
}

void LineReader::run()
{
    std::string pending;
    char buffer[4096];
    while (!m_stop) {
        const PipeResult result = pipeRead(m_handle, buffer, sizeof(buffer));
        if (result.status == PipeStatus::Listening) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (result.status != PipeStatus::Ok)
            break;
        pending.append(buffer, result.bytes);
        for (std::string::size_type feed; (feed = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, feed);
            pending.erase(0, feed + 1);
            if (m_onLine)
                m_onLine(line);
            std::lock_guard<std::mutex> guard(m_lock);
            m_queue.push_back(line);
            m_arrived.notify_all();
        }
    }
    m_gone = true;
    m_arrived.notify_all();
}

bool LineReader::next(std::string* line, int timeoutMs)
{
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return !m_queue.empty(); }))
        return false;
    *line = m_queue.front();
    m_queue.pop_front();
    return true;
}

std::string LineReader::take(int timeoutMs)
{
    std::string line;
    return next(&line, timeoutMs) ? line : "(none)";
}

RawPeer::RawPeer()
    : m_outName(uniquePipeName("out")), m_inName(uniquePipeName("in")),
      m_reader(m_outName, [this](const std::string& line) {
          Responder responder;
          {
              std::lock_guard<std::mutex> guard(m_writeLock);
              responder = m_responder;
          }
          if (responder) {
              for (const std::string& answer : responder(line))
                  inject(answer + "\n");
          }
      })
{
}

bool RawPeer::connect()
{
    std::lock_guard<std::mutex> guard(m_writeLock);
    if (m_writer == kNoPipe)
        m_writer = openPipeForWriting(m_inName.c_str());
    return m_writer != kNoPipe;
}

void RawPeer::setResponder(Responder responder)
{
    std::lock_guard<std::mutex> guard(m_writeLock);
    m_responder = std::move(responder);
}

bool RawPeer::inject(const std::string& bytes)
{
    std::lock_guard<std::mutex> guard(m_writeLock);
    return m_writer != kNoPipe &&
           pipeWrite(m_writer, bytes.data(), static_cast<std::uint32_t>(bytes.size())).status == PipeStatus::Ok;
}

void RawPeer::disconnect()
{
    std::lock_guard<std::mutex> guard(m_writeLock);
    closePipe(m_writer);
    m_writer = kNoPipe;
}

Lines RawPeer::answerAll(const std::string& line)
{
    VexPipePacket request;
    request.unmarshal(TStr(line.c_str()));
    if (request.method() == "RESP" || request.waitMode() != VexPipePacket::kWait)
        return {};
    VexPipePacket reply(VexPipePacket::kNoWait);
    reply.setFacility(request.facility());
    reply.setMethod("RESP");
    reply.setSessionNumber(request.peerSessionNumber());
    reply.setPeerSessionNumber(91);
    reply.setString("RCOD", request.method());
    return {reply.marshal(false).utf8()};
}

VexPipeFile* addPeerReader(VexPipeConduit& conduit, long index, RawPeer& peer)
{
    const PipeHandle inbound = createInboundPipe(peer.inName().c_str());
    if (inbound == kNoPipe)
        return nullptr;
    VexPipeFile* reader = new VexPipeFile(inbound, VexPipeFile::kRead, false);
    reader->setName(peer.inName().c_str());
    conduit.addReader(index, VexPipeReadEndpoint(reader));
    return peer.connect() ? reader : nullptr;
}

bool deliverFrom(VexPipeConduit& conduit, RawPeer& peer, const std::string& line)
{
    int handled = 0;
    return peer.inject(line + "\n") && eventually([&] {
               handled += conduit.processIncoming();
               return handled > 0;
           });
}

WiredConduit::WiredConduit()
    : m_conduit(std::make_unique<VexPipeConduit>(false, VexPipePacket::kWait, false)),
      m_readerIndex(static_cast<long>(currentProcessId()))
{
    const PipeHandle outbound = openPipeForWriting(m_peer.outName().c_str());
    if (outbound == kNoPipe)
        return;
    VexPipeFile* writer = new VexPipeFile(outbound, VexPipeFile::kWrite, true);
    writer->setName(m_peer.outName().c_str());
    m_conduit->addWriter(0, VexPipeWriteEndpoint(writer));
    m_ready = addPeerReader(*m_conduit, m_readerIndex, m_peer) != nullptr;
}

bool WiredConduit::tickUntil(const std::function<bool()>& condition)
{
    return eventually([&] { return condition() || (m_conduit->idleTick(5), false); });
}

}  // namespace pipetest
