// Endpoints: lines out of a byte stream laid out exactly by a scripted device, the caps on
// lines and on what a peer may leave unread, writing lines, and the devices' use count.
#include "kyro/pipe/VexPipeEndpoint.h"

#include "ReportCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// Hands out the chunks it was fed, as a pipe device's queue does, and records what is written.
class ScriptedDevice : public VexPipeIODevice {
public:
    explicit ScriptedDevice(bool* destroyed = nullptr) : m_destroyed(destroyed) {}
    ~ScriptedDevice() override
    {
        if (m_destroyed != nullptr)
            *m_destroyed = true;
    }
    void feed(const std::string& chunk)
    {
        m_queue.erase(0, m_read);
        m_read = 0;
        m_queue += chunk;
    }
    void end() { m_reading = false; }
    int reads = 0;
    int closes = 0;
    std::string written;

    std::uint32_t writeText(const char* text) override { return write(text, static_cast<std::uint32_t>(std::strlen(text))); }
    std::uint32_t write(const void* bytes, std::uint32_t count) override
    {
        written.append(static_cast<const char*>(bytes), count);
        return count;
    }
    std::uint32_t read(void* buffer, std::uint32_t size) override
    {
        ++reads;
        const std::uint32_t take = std::min<std::uint32_t>(size, queuedBytes());
        std::memcpy(buffer, m_queue.data() + m_read, take);
        m_read += take;
        return take;
    }
    bool isOpen() const override { return true; }
    bool open(std::uint32_t) override { return false; }
    void flush() override { written += "<flush>"; }
    bool reservedFlag() override { return false; }
    TStr reservedText() override { return TStr(""); }
    std::uint32_t reservedNumber() override { return 0; }
    kyro::platform::PipeHandle handle() const override { return 1; }
    void close() override { ++closes; }
    bool isReading() const override { return m_reading; }
    std::uint32_t queuedBytes() const override { return static_cast<std::uint32_t>(m_queue.size() - m_read); }

private:
    bool* m_destroyed;
    std::string m_queue;   // what was fed, read up to m_read
    std::size_t m_read = 0;
    bool m_reading = true;
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
    const std::string big(5000, 'x');
    const struct {
        const char* name;
        std::vector<std::string> chunks;
        Lines lines;      // while the peer is there
        Lines afterEnd;   // once it has gone
    } cases[] = {
        {"two lines, the second unfinished", {"a\nb"}, {"a"}, {"b"}},
        {"a line and an empty one", {"a\n\n"}, {"a", ""}, {}},
        {"a line in three pieces", {"ab", "c", "d\ne"}, {"abcd"}, {"e"}},
        {"a queued line longer than the buffer", {big + "\n"}, {big}, {}},
        {"several lines at once", {"1\n2\n3\n"}, {"1", "2", "3"}, {}},
        {"bytes above 127 read as ASCII", {"caf\xc3\xa9\n"}, {"caf??"}, {}},
        {"nothing", {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDevice* device = new ScriptedDevice;
        VexPipeReadEndpoint endpoint(device);
        for (const std::string& chunk : c.chunks) {
            device->feed(chunk);
            endpoint.pendingBytes();
        }
        EXPECT_EQ(takeAll(endpoint), c.lines);
        device->end();
        EXPECT_EQ(takeAll(endpoint), c.afterEnd);
        EXPECT_EQ(endpoint.takeLine(), "");   // nothing pending: an empty text
        EXPECT_TRUE(endpoint.hasEnded());
    }

    // One pump reads on until a read comes up short; a line waits for its line feed.
    ScriptedDevice* device = new ScriptedDevice;
    VexPipeReadEndpoint endpoint(device);
    device->feed(std::string(4095, 'a') + "\nbc\nde");
    EXPECT_EQ(endpoint.pendingBytes(), 4095 + 2 + 2);
    EXPECT_EQ(device->reads, 2);
    EXPECT_EQ(endpoint.takeLine().length(), 4095);
    EXPECT_EQ(endpoint.takeLine(), "bc");
    EXPECT_FALSE(endpoint.hasLine());
    EXPECT_EQ(endpoint.pendingBytes(), 2);
    EXPECT_FALSE(endpoint.isIdle());
    device->feed("\n");
    EXPECT_EQ(endpoint.takeLine(), "de");
    EXPECT_TRUE(endpoint.isIdle());
    EXPECT_FALSE(endpoint.hasEnded());   // the peer is still there
}

TEST(VexPipeReadEndpoint, DropsOverlongLinesAndResynchronises)
{
    ReportCapture errors;
    ScriptedDevice* device = new ScriptedDevice;
    VexPipeReadEndpoint endpoint(device);
    device->feed("before\n");
    // Endless text without a line feed: held up to the cap, then dropped with what follows
    // up to the next line feed.
    const std::string mebibyte(1024 * 1024, 'z');
    for (int i = 0; i < 17; ++i) {
        device->feed(mebibyte);
        endpoint.pendingBytes();
    }
    EXPECT_LE(endpoint.pendingBytes(), static_cast<int>(VexPipeReadEndpoint::kMaxLineBytes) + 16);
    device->feed(mebibyte + "\nafter\n");
    EXPECT_EQ(takeAll(endpoint), (Lines{"before", "after"}));
    EXPECT_EQ(errors.lines(), Lines{"Error  Dropped an incoming line longer than 16777216 bytes"});
    // A complete line over the cap is dropped the same way; one exactly at the cap is kept.
    device->feed(std::string(VexPipeReadEndpoint::kMaxLineBytes + 1, 'y') + "\nnext\n");
    EXPECT_EQ(takeAll(endpoint), (Lines{"next"}));
    EXPECT_EQ(errors.lines().size(), 2u);
    device->feed(std::string(VexPipeReadEndpoint::kMaxLineBytes, 'w') + "\n");
    EXPECT_EQ(endpoint.takeLine().length(), static_cast<int>(VexPipeReadEndpoint::kMaxLineBytes));
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
        const char* name;
        std::string stream;   // followed by one line more: a packet
        bool cutOff;
    } rows[] = {
        {"empty lines up to the cap", std::string(kLines - 1, '\n'), false},
        {"one empty line more", std::string(kLines, '\n'), true},
        {"short lines", shortLines, true},
        {"more bytes than the cap in few lines", bigLines, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ReportCapture errors;
        ScriptedDevice* device = new ScriptedDevice;
        VexPipeReadEndpoint endpoint(device);
        device->feed(row.stream + "65536;f.RESP;1;2;0;1\n");
        while (device->queuedBytes() > 0 && !endpoint.wasCutOff())   // nothing taken meanwhile
            endpoint.pendingBytes();
        EXPECT_EQ(endpoint.wasCutOff(), row.cutOff);
        EXPECT_EQ(device->closes, row.cutOff ? 1 : 0);
        if (!row.cutOff) {
            EXPECT_EQ(static_cast<int>(takeAll(endpoint).size()), kLines);
            EXPECT_EQ(errors.lines(), Lines{});
            continue;
        }
        EXPECT_FALSE(endpoint.hasLine());
        EXPECT_TRUE(endpoint.hasEnded());
        device->feed("65536;f.RESP;1;2;0;1\n");
        EXPECT_EQ(endpoint.takeLine(), "");
        EXPECT_EQ(errors.lines(), Lines{"Error  Cut off a peer that sent more than 65536 lines or 67108864 bytes unread"});
    }
}

TEST(VexPipeEndpoint, SharesTheDeviceByUseCount)
{
    bool destroyed = false;
    ScriptedDevice* device = new ScriptedDevice(&destroyed);
    {
        VexPipeReadEndpoint first(device);
        EXPECT_EQ(device->useCount(), 1u);
        device->feed("one\ntw");
        EXPECT_EQ(first.takeLine(), "one");
        {
            VexPipeReadEndpoint copy(first);   // shares the device, starts with nothing pending
            EXPECT_EQ(device->useCount(), 2u);
            EXPECT_EQ(copy.pendingBytes(), 0);
            EXPECT_EQ(first.pendingBytes(), 2);
            VexPipeReadEndpoint assigned;
            assigned = copy;
            EXPECT_EQ(device->useCount(), 3u);
            VexPipeReadEndpoint moved(std::move(first));   // takes its pending text along
            EXPECT_EQ(device->useCount(), 3u);
            device->feed("o\n");
            EXPECT_EQ(moved.takeLine(), "two");
            moved.close();
            EXPECT_EQ(device->closes, 1);
            first = moved;
        }
        EXPECT_EQ(device->useCount(), 1u);
        EXPECT_FALSE(destroyed);
    }
    EXPECT_TRUE(destroyed);

    // A write endpoint writes a line with one write and flushes it.
    ScriptedDevice* target = new ScriptedDevice(&destroyed);
    VexPipeWriteEndpoint writer(target);
    EXPECT_EQ(writer.kind(), static_cast<std::uint32_t>(VexPipeEndpoint::kWriteEndpoint));
    EXPECT_EQ(writer.writeLine(TStr("65536;f.m;0;0;0;1\n")), 18);
    EXPECT_EQ(target->written, "65536;f.m;0;0;0;1\n<flush>");
    EXPECT_EQ(VexPipeWriteEndpoint().writeLine(TStr("x")), 0);
}
