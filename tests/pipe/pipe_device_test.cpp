// Pipe devices over real pipes: the reader thread's queue, closing, relistening. Writes are
// what every conduit test does.
#include "kyro/pipe/VexPipeIODevice.h"

#include "PipeTestSupport.h"
#include "ReportCapture.h"

#include <gtest/gtest.h>

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
    EXPECT_FALSE(device->hasReceived());
    const PipeHandle client = openPipeForWriting(name.c_str());
    for (const char* chunk : {"abc", "defgh", "ijkl"})
        ASSERT_TRUE(writeChunk(client, device, chunk));
    EXPECT_TRUE(device->hasReceived());
    EXPECT_EQ(readSome(device, 6), "abcdef");   // a chunk and a half
    EXPECT_EQ(device->queuedBytes(), 6u);
    EXPECT_EQ(readSome(device, 2), "gh");
    EXPECT_EQ(readSome(device, 100), "ijkl");

    // The peer goes: what it wrote before can still be read, then nothing more.
    ASSERT_TRUE(writeChunk(client, device, "tail"));
    closePipe(client);
    EXPECT_TRUE(eventually([&] { return !device->isReading(); }));
    EXPECT_EQ(device->handle(), 0);   // the broken pipe was closed by the reader
    EXPECT_EQ(readSome(device, 100), "tail");
    EXPECT_EQ(readSome(device, 100), "");
    device->close();   // a second close is harmless
    destroy(device);
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
