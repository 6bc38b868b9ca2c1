// Endpoints: lines out of a byte stream laid out exactly by a scripted device, and the caps
// on lines and on what a peer may leave unread.
#include "kyro/pipe/VexPipeEndpoint.h"

#include "ReportCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// Hands out the chunks it was fed, as a pipe device's queue does.
class ScriptedDevice : public VexPipeIODevice {
public:
    void feed(const std::string& chunk)
    {
        m_queue = m_queue.substr(m_read) + chunk;
        m_read = 0;
    }
    bool reading = true;
    int closes = 0;

    std::uint32_t writeText(const char*) override { return 0; }
    std::uint32_t write(const void*, std::uint32_t) override { return 0; }
    std::uint32_t read(void* buffer, std::uint32_t size) override
    {
        const std::uint32_t take = std::min<std::uint32_t>(size, queuedBytes());
        std::memcpy(buffer, m_queue.data() + m_read, take);
        m_read += take;
        return take;
    }
    bool isOpen() const override { return true; }
    bool open(std::uint32_t) override { return false; }
    void flush() override {}
    bool reservedFlag() override { return false; }
    TStr reservedText() override { return TStr(""); }
    std::uint32_t reservedNumber() override { return 0; }
    kyro::platform::PipeHandle handle() const override { return 1; }
    void close() override { ++closes; }
    bool isReading() const override { return reading; }
    std::uint32_t queuedBytes() const override { return static_cast<std::uint32_t>(m_queue.size() - m_read); }

private:
    std::string m_queue;   // what was fed, read up to m_read
    std::size_t m_read = 0;
};

Lines takeAll(VexPipeReadEndpoint& endpoint)
{
    Lines lines;
    while (endpoint.hasLine())
        lines.emplace_back(endpoint.takeLine().utf8());
    return lines;
}

}  // namespace

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
        ScriptedDevice* device = new ScriptedDevice;
        VexPipeReadEndpoint endpoint(device);
        for (const std::string& chunk : c.chunks) {
            device->feed(chunk);
            endpoint.pendingBytes();
        }
        EXPECT_EQ(takeAll(endpoint), c.lines);
        EXPECT_EQ(endpoint.isIdle(), c.afterEnd.empty());
        EXPECT_FALSE(endpoint.hasEnded());
        device->reading = false;
        EXPECT_EQ(takeAll(endpoint), c.afterEnd);
        EXPECT_EQ(endpoint.takeLine(), "");   // nothing pending: an empty text
        EXPECT_TRUE(endpoint.hasEnded());
    }
}

TEST(VexPipeReadEndpoint, DropsOverlongLinesAndResynchronises)
{
    const std::size_t kCap = VexPipeReadEndpoint::kMaxLineBytes;
    ReportCapture errors;
    ScriptedDevice* device = new ScriptedDevice;
    VexPipeReadEndpoint endpoint(device);
    // Endless text without a line feed: held up to the cap, then dropped with what follows
    // up to the next line feed.
    device->feed("before\n");
    for (int i = 0; i < 17; ++i) {
        device->feed(std::string(1024 * 1024, 'z'));
        endpoint.pendingBytes();
    }
    EXPECT_LE(endpoint.pendingBytes(), static_cast<int>(kCap) + 16);
    device->feed("z\nafter\n" + std::string(kCap + 1, 'y') + "\nnext\n" + std::string(kCap, 'w') + "\n");
    EXPECT_EQ(takeAll(endpoint), (Lines{"before", "after", "next", std::string(kCap, 'w')}));
    const std::string dropped = "Error  Dropped an incoming line longer than 16777216 bytes";
    EXPECT_EQ(errors.lines(), (Lines{dropped, dropped}));
}

TEST(VexPipeReadEndpoint, CutsOffAPeerThatFloods)
{
    const int kLines = VexPipeReadEndpoint::kMaxQueuedLines;
    std::string shortLines, bigLines;
    for (int i = 0; i < kLines; ++i)
        shortLines += "x\n";
    for (int i = 0; i < 5; ++i)
        bigLines += std::string(14 * 1024 * 1024, 'b') + "\n";   // 70 MiB in five lines
    const struct {
        std::string stream;   // followed by one line more: a packet
        bool cutOff;
    } rows[] = {{std::string(kLines - 1, '\n'), false}, {std::string(kLines, '\n'), true}, {shortLines, true},
                {bigLines, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stream.size());
        ReportCapture errors;
        ScriptedDevice* device = new ScriptedDevice;
        VexPipeReadEndpoint endpoint(device);
        device->feed(row.stream + "65536;f.RESP;1;2;0;1\n");
        while (device->queuedBytes() > 0 && !endpoint.wasCutOff())   // nothing taken meanwhile
            endpoint.pendingBytes();
        EXPECT_EQ(device->closes, row.cutOff ? 1 : 0);
        EXPECT_EQ(endpoint.hasEnded(), row.cutOff);
        EXPECT_EQ(takeAll(endpoint).size(), row.cutOff ? 0u : static_cast<std::size_t>(kLines));
        EXPECT_EQ(errors.lines(),
                  row.cutOff ? Lines{"Error  Cut off a peer that sent more than 65536 lines or 67108864 bytes unread"}
                             : Lines{});
    }
}
