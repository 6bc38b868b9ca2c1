// Pipe devices and read endpoints over real pipes: relistening, lines, and the caps on them.
#include "kyro/pipe/VexPipeEndpoint.h"

#include "PipeTestSupport.h"
#include "ReportCapture.h"

#include <gtest/gtest.h>

#include <string>

using namespace kyro::platform;
using pipetest::eventually;
using pipetest::Lines;

namespace {

bool writeAll(PipeHandle pipe, const std::string& bytes)
{
    return pipeWrite(pipe, bytes.data(), static_cast<std::uint32_t>(bytes.size())).status == PipeStatus::Ok;
}

// A device reading a pipe of its own, the endpoint that holds it and the peer's end.
struct Piped {
    const std::string name = pipetest::uniquePipeName("device");
    VexPipeFile* device = new VexPipeFile(createInboundPipe(name.c_str()), VexPipeFile::kRead, true);
    VexPipeReadEndpoint endpoint{device};
    PipeHandle client = openPipeForWriting(name.c_str());
    ~Piped() { closePipe(client); }
    // Writes and waits until the reader thread has queued it: one write, one chunk.
    bool send(const std::string& bytes)
    {
        const std::uint32_t before = device->queuedBytes();
        return writeAll(client, bytes) && eventually([&] { return device->queuedBytes() == before + bytes.size(); });
    }
    bool hangUp()
    {
        closePipe(client);
        client = kNoPipe;
        return eventually([&] { return !device->isReading(); });
    }
    Lines takeAll()
    {
        Lines lines;
        while (endpoint.hasLine())
            lines.emplace_back(endpoint.takeLine().utf8());
        return lines;
    }
};

}  // namespace

TEST(VexPipeFile, AListeningInstanceOutlivesClientsThatOnlyLooked)
{
    ReportCapture errors;
    const std::string name = pipetest::uniquePipeName("relisten");
    auto listen = [&] {
        return new VexPipeFile(createInboundPipe(name.c_str()), VexPipeFile::kRead | VexPipeFile::kRelisten, true);
    };
    auto look = [&] {
        return eventually([&] { return waitForPipe(name.c_str(), 100); }) ? openPipeForWriting(name.c_str()) : kNoPipe;
    };
    VexPipeReadEndpoint device(listen());
    for (int i = 0; i < 3; ++i)
        closePipe(look());
    PipeHandle client = kNoPipe;
    ASSERT_TRUE(eventually([&] { return (client = look()) != kNoPipe; }));
    ASSERT_TRUE(writeAll(client, "hello\n"));
    ASSERT_TRUE(eventually([&] { return device.hasLine(); }));
    EXPECT_EQ(device.takeLine(), "hello");
    closePipe(client);   // its first real client's end ends it as usual
    EXPECT_TRUE(eventually([&] { return device.hasEnded(); }));

    // A close while the instance waits for its next client ends the wait quietly.
    VexPipeFile* waiting = listen();
    VexPipeReadEndpoint holder(waiting);
    closePipe(look());
    waiting->close();
    EXPECT_EQ(waiting->threadState(), VexPipeFile::kStopped);
    EXPECT_EQ(errors.lines(), Lines{});
}

TEST(VexPipeReadEndpoint, SplitsTheStreamIntoLines)
{
    const std::string big(5000, 'x');   // longer than the buffer
    const struct {
        std::vector<std::string> chunks;
        Lines lines;      // while the peer is there
        Lines afterEnd;   // once it has gone
    } cases[] = {
        {{"a\nb"}, {"a"}, {"b"}},
        {{"a\n\n"}, {"a", ""}, {}},
        {{"ab", "c", "d\ne"}, {"abcd"}, {"e"}},
        {{big + "\n1\n2\n"}, {big, "1", "2"}, {}},
        {{"caf\xc3\xa9\n"}, {"caf??"}, {}},   // read as ASCII
        {{}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunks.empty() ? "" : c.chunks[0].substr(0, 10));
        Piped piped;
        for (const std::string& chunk : c.chunks) {
            ASSERT_TRUE(piped.send(chunk));
            piped.endpoint.pendingBytes();
        }
        EXPECT_EQ(piped.takeAll(), c.lines);
        EXPECT_EQ(piped.device->hasReceived(), !c.chunks.empty());
        EXPECT_EQ(piped.endpoint.isIdle(), c.afterEnd.empty());
        EXPECT_FALSE(piped.endpoint.hasEnded());
        ASSERT_TRUE(piped.hangUp());   // what it wrote before can still be read
        EXPECT_EQ(piped.device->handle(), 0);   // the broken pipe was closed by the reader
        EXPECT_EQ(piped.takeAll(), c.afterEnd);
        EXPECT_EQ(piped.endpoint.takeLine(), "");   // nothing pending: an empty text
        EXPECT_TRUE(piped.endpoint.hasEnded());
    }
}

TEST(VexPipeReadEndpoint, DropsOverlongLinesAndResynchronises)
{
    const std::size_t kCap = VexPipeReadEndpoint::kMaxLineBytes;
    ReportCapture errors;
    Piped piped;
    // Each write stays below what the device queues unread (32 MiB), whatever sizes the reads come in.
    ASSERT_TRUE(piped.send("before\n" + std::string(kCap + 1, 'y') + "\nafter\n"));
    piped.endpoint.pendingBytes();
    ASSERT_TRUE(piped.send(std::string(kCap, 'z')));
    piped.endpoint.pendingBytes();   // a line still growing: held up to the cap
    ASSERT_TRUE(piped.send("z\nnext\n" + std::string(kCap, 'w') + "\n"));
    EXPECT_EQ(piped.takeAll(), (Lines{"before", "after", "next", std::string(kCap, 'w')}));   // at the cap: kept
    const std::string dropped = "Error  Dropped an incoming line longer than 16777216 bytes";
    EXPECT_EQ(errors.lines(), (Lines{dropped, dropped}));
}

TEST(VexPipeReadEndpoint, CutsOffAPeerThatFloods)
{
    const int kLines = VexPipeReadEndpoint::kMaxQueuedLines;
    std::string bigLines;
    for (int i = 0; i < 5; ++i)
        bigLines += std::string(14 * 1024 * 1024, 'b') + "\n";   // 70 MiB in five lines
    const struct {
        std::string stream;   // followed by one line more: a packet
        bool cutOff;
    } rows[] = {{std::string(kLines - 1, '\n'), false}, {std::string(kLines, '\n'), true}, {bigLines, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stream.size());
        ReportCapture errors;
        Piped piped;
        const std::string stream = row.stream + "65536;f.RESP;1;2;0;1\n";
        for (std::size_t at = 0; at < stream.size() && !piped.endpoint.wasCutOff(); at += 1024 * 1024) {
            ASSERT_TRUE(piped.send(stream.substr(at, 1024 * 1024)));
            piped.endpoint.pendingBytes();   // nothing taken meanwhile
        }
        EXPECT_EQ(piped.device->handle() == 0, row.cutOff);   // cut off: the device is closed
        EXPECT_EQ(piped.endpoint.hasEnded(), row.cutOff);
        EXPECT_EQ(piped.takeAll().size(), row.cutOff ? 0u : static_cast<std::size_t>(kLines));
        EXPECT_EQ(errors.lines(),
                  row.cutOff ? Lines{"Error  Cut off a peer that sent more than 65536 lines or 67108864 bytes unread"}
                             : Lines{});
    }
}
