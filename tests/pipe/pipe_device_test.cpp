// Pipe devices over real pipes: the reader thread's queue, closing, relistening. Writes are
// what every conduit test does.
#include "kyro/pipe/VexPipeIODevice.h"

#include "PipeTestSupport.h"
#include "ReportCapture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace kyro::platform;
using pipetest::eventually;
using Lines = std::vector<std::string>;

namespace {

bool writeAll(PipeHandle pipe, const std::string& bytes)
{
    return pipeWrite(pipe, bytes.data(), static_cast<std::uint32_t>(bytes.size())).status == PipeStatus::Ok;
}

std::string readSome(VexPipeIODevice* device, std::uint32_t size)
{
    std::string buffer(size, '\0');
    buffer.resize(device->read(&buffer[0], size));
    return buffer;
}

// Writes and waits until the reader thread has queued it: one write, one chunk.
bool writeChunk(PipeHandle client, VexPipeIODevice* device, const std::string& bytes)
{
    const std::uint32_t before = device->queuedBytes();
    return writeAll(client, bytes) && eventually([&] { return device->queuedBytes() == before + bytes.size(); });
}

void destroy(VexPipeIODevice* device)
{
    device->addUse();
    device->dropUse();
}

}  // namespace

TEST(VexPipeFile, ReadsQueuedChunksInArrivalOrder)
{
    const std::string name = pipetest::uniquePipeName("chunks");
    VexPipeFile* device = new VexPipeFile(createInboundPipe(name.c_str()), VexPipeFile::kRead, true);
    EXPECT_TRUE(device->isReading());
    EXPECT_FALSE(device->hasReceived());
    const PipeHandle client = openPipeForWriting(name.c_str());
    ASSERT_NE(client, kNoPipe);
    for (const char* chunk : {"abc", "defgh", "ijkl"})
        ASSERT_TRUE(writeChunk(client, device, chunk));
    EXPECT_TRUE(device->hasReceived());
    EXPECT_EQ(readSome(device, 6), "abcdef");   // a chunk and a half
    EXPECT_EQ(device->queuedBytes(), 6u);
    EXPECT_EQ(readSome(device, 0), "");
    EXPECT_EQ(readSome(device, 2), "gh");
    EXPECT_EQ(readSome(device, 100), "ijkl");
    EXPECT_EQ(readSome(device, 100), "");

    // The peer goes: what it wrote before can still be read, then nothing more.
    ASSERT_TRUE(writeChunk(client, device, "tail"));
    closePipe(client);
    EXPECT_TRUE(eventually([&] { return !device->isReading(); }));
    EXPECT_EQ(device->threadState(), VexPipeFile::kStopped);
    EXPECT_EQ(device->handle(), 0);   // the broken pipe was closed by the reader
    EXPECT_EQ(readSome(device, 100), "tail");
    destroy(device);
}

// However a reader ends, its thread stops quietly and the writer sees the pipe go. One that
// does not own its handle leaves it to the owner; its thread ends when the owner closes it.
TEST(VexPipeFile, ReadersStopQuietly)
{
    const struct {
        const char* name;
        bool close;
        bool owns;
    } rows[] = {{"closed twice", true, false}, {"destroyed, owning", false, true}, {"destroyed, borrowing", false, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto errors = std::make_unique<ReportCapture>();
        const std::string name = pipetest::uniquePipeName("reader");
        const PipeHandle server = createInboundPipe(name.c_str());
        VexPipeFile* device = new VexPipeFile(server, VexPipeFile::kRead, row.owns);
        device->setName(TStr(name.c_str()));
        const PipeHandle client = openPipeForWriting(name.c_str());
        ASSERT_TRUE(writeChunk(client, device, "x"));   // the reader now blocks in its read
        if (row.close) {
            errors.reset();   // one capture at a time
            errors = std::make_unique<ReportCapture>(ReportCapture::kTrace);
            device->close();
            device->close();
            const std::string closing = "closing file " + name + " with fd ";
            EXPECT_EQ(errors->lines(), (Lines{closing + std::to_string(server), closing + "0"}));
            errors.reset();
            errors = std::make_unique<ReportCapture>();
            EXPECT_EQ(device->threadState(), VexPipeFile::kStopped);
            EXPECT_EQ(device->handle(), 0);
            EXPECT_EQ(readSome(device, 10), "x");   // queued bytes survive the close
        }
        destroy(device);
        if (!row.close && !row.owns) {
            EXPECT_TRUE(writeAll(client, "after the device"));
            closePipe(server);
        }
        EXPECT_TRUE(eventually([&] { return !writeAll(client, "more"); }));
        closePipe(client);
        EXPECT_EQ(errors->lines(), Lines{});
    }
}

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
    VexPipeFile* device = listen();
    for (int i = 0; i < 3; ++i)
        closePipe(look());
    PipeHandle client = kNoPipe;
    ASSERT_TRUE(eventually([&] { return (client = look()) != kNoPipe; }));
    ASSERT_TRUE(writeChunk(client, device, "hello"));
    EXPECT_TRUE(device->isReading());
    EXPECT_EQ(readSome(device, 10), "hello");
    closePipe(client);   // its first real client's end ends it as usual
    EXPECT_TRUE(eventually([&] { return !device->isReading(); }));

    // A close while the instance waits for its next client ends the wait quietly.
    VexPipeFile* waiting = listen();
    closePipe(look());
    waiting->close();
    EXPECT_EQ(waiting->threadState(), VexPipeFile::kStopped);
    destroy(waiting);
    destroy(device);
    EXPECT_EQ(errors.lines(), Lines{});
}
