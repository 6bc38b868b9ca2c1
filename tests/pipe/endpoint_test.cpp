// Endpoints: lines out of a byte stream (over a scripted device, so that the stream's
// pieces are exactly as the test lays them out), the line cap,
// writing lines, and the devices' use count.
#include "kyro/pipe/VexPipeEndpoint.h"

#include "ReportCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

// A device that hands out the chunks it was given, as a pipe device's queue does, and
// records what is written to it.
class ScriptedDevice : public VexPipeIODevice {
public:
    explicit ScriptedDevice(bool* destroyed = nullptr) : m_destroyed(destroyed) {}
    ~ScriptedDevice() override
    {
        if (m_destroyed != nullptr)
            *m_destroyed = true;
    }

    void feed(const std::string& chunk) { m_chunks.push_back(chunk); }
    void end() { m_reading = false; }
    int reads() const { return m_reads; }
    int closes() const { return m_closes; }
    const std::string& written() const { return m_written; }

    std::uint32_t writeText(const char* text) override
    {
        return write(text, static_cast<std::uint32_t>(std::strlen(text)));
    }
    std::uint32_t write(const void* bytes, std::uint32_t count) override
    {
        m_written.append(static_cast<const char*>(bytes), count);
        return count;
    }
    std::uint32_t read(void* buffer, std::uint32_t size) override
    {
        ++m_reads;
        std::uint32_t copied = 0;
        while (copied < size && !m_chunks.empty()) {
            const std::string& oldest = m_chunks.front();
            const std::uint32_t take = std::min<std::uint32_t>(
                size - copied, static_cast<std::uint32_t>(oldest.size() - m_offset));
            std::memcpy(static_cast<char*>(buffer) + copied, oldest.data() + m_offset, take);
            copied += take;
            m_offset += take;
            if (m_offset == oldest.size()) {
                m_chunks.pop_front();
                m_offset = 0;
            }
        }
        return copied;
    }
    bool isOpen() const override { return true; }
    bool open(std::uint32_t) override { return false; }
    void flush() override { m_written += "<flush>"; }
    bool reservedFlag() override { return false; }
    TStr reservedText() override { return TStr(""); }
    std::uint32_t reservedNumber() override { return 0; }
    kyro::platform::PipeHandle handle() const override { return 1; }
    void close() override { ++m_closes; }
    bool isReading() const override { return m_reading; }
    std::uint32_t queuedBytes() const override
    {
        std::uint32_t total = 0;
        for (const std::string& chunk : m_chunks)
            total += static_cast<std::uint32_t>(chunk.size());
        return total - static_cast<std::uint32_t>(m_offset);
    }

private:
    bool* m_destroyed;
    std::deque<std::string> m_chunks;
    std::size_t m_offset = 0;
    std::string m_written;
    bool m_reading = true;
    int m_reads = 0;
    int m_closes = 0;
};

std::vector<std::string> takeAll(VexPipeReadEndpoint& endpoint)
{
    std::vector<std::string> lines;
    while (endpoint.hasLine())
        lines.emplace_back(endpoint.takeLine().utf8());
    return lines;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(VexPipeReadEndpoint, SplitsTheStreamIntoLines)
{
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        Lines lines;           // while the peer is there
        Lines afterEnd;        // once it has gone
    };
    const std::string big(5000, 'x');
    const Case cases[] = {
        {"two lines, the second unfinished", {"a\nb"}, {"a"}, {"b"}},
        {"a line and an empty one", {"a\n\n"}, {"a", ""}, {}},
        {"a lone line feed", {"\n"}, {""}, {}},
        {"a line in three pieces", {"ab", "c", "d\ne"}, {"abcd"}, {"e"}},
        {"a queued line longer than the buffer", {big + "\n"}, {big}, {}},
        {"several lines at once", {"1\n2\n3\n"}, {"1", "2", "3"}, {}},
        {"bytes above 127 read as ASCII", {"caf\xc3\xa9\n"}, {"caf??"}, {}},
        {"nothing", {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDevice* device = new ScriptedDevice;
        VexPipeReadEndpoint endpoint(device);
        for (const std::string& chunk : c.chunks)
            device->feed(chunk);
        EXPECT_EQ(takeAll(endpoint), c.lines);
        device->end();
        EXPECT_EQ(takeAll(endpoint), c.afterEnd);
        EXPECT_EQ(endpoint.takeLine(), "");   // nothing pending: an empty text
        EXPECT_TRUE(endpoint.hasEnded());
    }
}

TEST(VexPipeReadEndpoint, CountsPendingBytesAndReadsFullBuffersAtOnce)
{
    ScriptedDevice* device = new ScriptedDevice;
    VexPipeReadEndpoint endpoint(device);
    // Exactly one full buffer, then more: one pump reads on until a read comes up short.
    device->feed(std::string(4095, 'a') + "\n");
    device->feed("bc\nde");
    EXPECT_EQ(endpoint.pendingBytes(), 4095 + 2 + 2);
    EXPECT_EQ(device->reads(), 2);
    EXPECT_TRUE(endpoint.hasLine());
    EXPECT_EQ(endpoint.takeLine().length(), 4095);
    EXPECT_EQ(endpoint.takeLine(), "bc");
    EXPECT_FALSE(endpoint.hasLine());   // "de" waits for its line feed
    EXPECT_EQ(endpoint.pendingBytes(), 2);
    EXPECT_FALSE(endpoint.isIdle());
    EXPECT_FALSE(endpoint.hasEnded());
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
    // Endless text without a line feed: held up to the cap, then dropped...
    const std::string mebibyte(1024 * 1024, 'z');
    for (int i = 0; i < 17; ++i) {
        device->feed(mebibyte);
        endpoint.pendingBytes();
    }
    EXPECT_LE(endpoint.pendingBytes(), static_cast<int>(VexPipeReadEndpoint::kMaxLineBytes) + 16);
    // ...and what follows up to the next line feed goes too.
    device->feed(mebibyte + "\nafter\n");
    EXPECT_EQ(takeAll(endpoint), (Lines{"before", "after"}));
    EXPECT_EQ(errors.lines(),
              std::vector<std::string>{"Error  Dropped an incoming line longer than 16777216 bytes"});

    // A complete line over the cap in one go is dropped the same way.
    device->feed(std::string(VexPipeReadEndpoint::kMaxLineBytes + 1, 'y') + "\nnext\n");
    EXPECT_EQ(takeAll(endpoint), (Lines{"next"}));
    EXPECT_EQ(errors.lines().size(), 2u);
    // One exactly at the cap is kept.
    device->feed(std::string(VexPipeReadEndpoint::kMaxLineBytes, 'w') + "\n");
    EXPECT_EQ(endpoint.takeLine().length(), static_cast<int>(VexPipeReadEndpoint::kMaxLineBytes));
}

TEST(VexPipeReadEndpoint, CutsOffAPeerThatFloods)
{
    const int kLines = VexPipeReadEndpoint::kMaxQueuedLines;
    std::string shortLines;
    for (int i = 0; i < kLines; ++i)
        shortLines += "x\n";
    std::string bigLines;   // five of 14 MiB: 70 MiB
    for (int i = 0; i < 5; ++i)
        bigLines += std::string(14 * 1024 * 1024, 'b') + "\n";
    const struct {
        const char* name;
        std::string stream;
        bool cutOff;
    } rows[] = {
        // Each stream ends with one line more: a packet.
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
        device->feed(row.stream);
        device->feed("65536;f.RESP;1;2;0;1\n");
        // Nothing is taken meanwhile: what comes waits, up to the cap.
        while (device->queuedBytes() > 0 && !endpoint.wasCutOff())
            endpoint.pendingBytes();
        if (!row.cutOff) {
            EXPECT_EQ(static_cast<int>(takeAll(endpoint).size()), kLines);
            EXPECT_EQ(errors.lines(), Lines{});
            EXPECT_EQ(device->closes(), 0);
            continue;
        }
        // Cut off: nothing of it is taken, and no line comes from it again.
        EXPECT_TRUE(endpoint.wasCutOff());
        EXPECT_FALSE(endpoint.hasLine());
        EXPECT_TRUE(endpoint.hasEnded());
        EXPECT_EQ(device->closes(), 1);
        device->feed("65536;f.RESP;1;2;0;1\n");
        EXPECT_EQ(endpoint.takeLine(), "");
        EXPECT_EQ(errors.lines(),
                  Lines{"Error  Cut off a peer that sent more than 65536 lines or 67108864 bytes unread"});
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
            // A copy shares the device but starts with nothing pending.
            VexPipeReadEndpoint copy(first);
            EXPECT_EQ(device->useCount(), 2u);
            EXPECT_EQ(copy.pendingBytes(), 0);
            EXPECT_EQ(first.pendingBytes(), 2);
            VexPipeReadEndpoint assigned;
            assigned = copy;
            EXPECT_EQ(device->useCount(), 3u);
            // A moved endpoint takes its pending text along.
            VexPipeReadEndpoint moved(std::move(first));
            EXPECT_EQ(device->useCount(), 3u);
            device->feed("o\n");
            EXPECT_EQ(moved.takeLine(), "two");
            moved.close();
            EXPECT_EQ(device->closes(), 1);
            first = moved;   // the moved-from endpoint can be given a device again
        }
        EXPECT_EQ(device->useCount(), 1u);
        EXPECT_FALSE(destroyed);
    }
    EXPECT_TRUE(destroyed);

    // A write endpoint writes a line with one write and flushes it.
    bool writerGone = false;
    ScriptedDevice* target = new ScriptedDevice(&writerGone);
    {
        VexPipeWriteEndpoint writer(target);
        EXPECT_EQ(writer.kind(), static_cast<std::uint32_t>(VexPipeEndpoint::kWriteEndpoint));
        EXPECT_EQ(writer.writeLine(TStr("65536;f.m;0;0;0;1\n")), 18);
        EXPECT_EQ(target->written(), "65536;f.m;0;0;0;1\n<flush>");
        VexPipeWriteEndpoint none;
        EXPECT_EQ(none.writeLine(TStr("x")), 0);
        none.close();
    }
    EXPECT_TRUE(writerGone);
}
