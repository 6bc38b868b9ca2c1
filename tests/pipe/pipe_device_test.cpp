// Pipe devices over real platform pipes: the reader thread's queue, the close protocol,
// writes, and a reader that is destroyed while its thread still runs.
#include "kyro/pipe/VexPipeIODevice.h"

#include "PipeTestSupport.h"
#include "ReportCapture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace kyro::platform;
using pipetest::eventually;

namespace {

bool writeAll(PipeHandle pipe, const std::string& bytes)
{
    return pipeWrite(pipe, bytes.data(), static_cast<std::uint32_t>(bytes.size())).status ==
           PipeStatus::Ok;
}

std::string readSome(VexPipeIODevice* device, std::uint32_t size)
{
    std::string buffer(size, '\0');
    const std::uint32_t got = device->read(&buffer[0], size);
    buffer.resize(got);
    return buffer;
}

// Writes one chunk and waits until the reader thread has queued it, so that each write is
// one chunk of the queue.
bool writeChunk(PipeHandle client, VexPipeIODevice* device, const std::string& bytes)
{
    const std::uint32_t before = device->queuedBytes();
    return writeAll(client, bytes) &&
           eventually([&] { return device->queuedBytes() == before + bytes.size(); });
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
    const PipeHandle server = createInboundPipe(name.c_str());
    ASSERT_NE(server, kNoPipe);
    VexPipeFile* device = new VexPipeFile(server, VexPipeFile::kRead, true);
    EXPECT_TRUE(device->isReading());
    EXPECT_FALSE(device->hasReceived());
    const PipeHandle client = openPipeForWriting(name.c_str());
    ASSERT_NE(client, kNoPipe);

    // Chunks of 3, 5 and 4 bytes: a read of 6 takes the first and half of the second.
    ASSERT_TRUE(writeChunk(client, device, "abc"));
    ASSERT_TRUE(writeChunk(client, device, "defgh"));
    ASSERT_TRUE(writeChunk(client, device, "ijkl"));
    EXPECT_TRUE(device->hasReceived());
    EXPECT_EQ(readSome(device, 6), "abcdef");
    EXPECT_EQ(device->queuedBytes(), 6u);
    EXPECT_EQ(readSome(device, 2), "gh");
    // More room than there is: everything, and the queue is empty.
    EXPECT_EQ(readSome(device, 100), "ijkl");
    EXPECT_EQ(readSome(device, 100), "");
    EXPECT_EQ(device->read(nullptr, 0), 0u);

    // A read smaller than the oldest chunk leaves its remainder first in line.
    ASSERT_TRUE(writeChunk(client, device, "mnopq"));
    ASSERT_TRUE(writeChunk(client, device, "rs"));
    EXPECT_EQ(readSome(device, 2), "mn");
    EXPECT_EQ(readSome(device, 0), "");
    EXPECT_EQ(readSome(device, 4), "opqr");
    EXPECT_EQ(readSome(device, 4), "s");

    // The peer goes: what it wrote before can still be read, then nothing more.
    ASSERT_TRUE(writeChunk(client, device, "tail"));
    closePipe(client);
    EXPECT_TRUE(eventually([&] { return !device->isReading(); }));
    EXPECT_EQ(device->threadState(), VexPipeFile::kStopped);
    EXPECT_EQ(device->handle(), 0);   // the broken pipe was closed by the reader
    EXPECT_EQ(readSome(device, 100), "tail");
    EXPECT_EQ(readSome(device, 100), "");
    destroy(device);
}

// However a reader ends, its thread stops quietly. A closed one, or one destroyed that
// owns its handle, closes the pipe for its writer; one that does not own it leaves the
// handle to its owner, and its thread, still blocked in the read, is let go: it ends when
// the owner closes the handle, and touches nothing of the device, which is gone by then.
TEST(VexPipeFile, ReadersStopQuietly)
{
    const struct {
        const char* name;
        bool close;
        bool owns;
    } rows[] = {{"closed twice", true, false},
                {"destroyed, owning", false, true},
                {"destroyed, borrowing", false, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto errors = std::make_unique<ReportCapture>();
        const std::string name = pipetest::uniquePipeName("reader");
        const PipeHandle server = createInboundPipe(name.c_str());
        ASSERT_NE(server, kNoPipe);
        VexPipeFile* device = new VexPipeFile(server, VexPipeFile::kRead, row.owns);
        device->setName(TStr(name.c_str()));
        const PipeHandle client = openPipeForWriting(name.c_str());
        ASSERT_TRUE(writeChunk(client, device, "x"));   // the reader now blocks in its read
        EXPECT_EQ(device->handle(), server);
        if (row.close) {
            EXPECT_EQ(errors->lines(), std::vector<std::string>{});
            errors.reset();   // before the next capture starts: one at a time
            errors = std::make_unique<ReportCapture>(ReportCapture::kTrace);
            device->close();
            device->close();
            const std::string closing = "closing file " + name + " with fd ";
            EXPECT_EQ(errors->lines(),
                      (std::vector<std::string>{closing + std::to_string(server), closing + "0"}));
            errors.reset();
            errors = std::make_unique<ReportCapture>();
            EXPECT_EQ(device->threadState(), VexPipeFile::kStopped);
            EXPECT_FALSE(device->isReading());
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
        EXPECT_EQ(errors->lines(), std::vector<std::string>{});
    }

    // A device whose peer never came: the reader polls, and close ends it as quietly.
    ReportCapture errors;
    VexPipeFile* lonely =
        new VexPipeFile(createInboundPipe(pipetest::uniquePipeName("lonely").c_str()),
                        VexPipeFile::kRead, true);
    EXPECT_TRUE(lonely->isReading());
    lonely->close();
    EXPECT_EQ(lonely->threadState(), VexPipeFile::kStopped);
    destroy(lonely);
    EXPECT_EQ(errors.lines(), std::vector<std::string>{});
}

TEST(VexPipeFile, WritesOnTheCallersThread)
{
    const std::string name = pipetest::uniquePipeName("write");
    pipetest::LineReader other(name);
    ASSERT_TRUE(other.created());
    VexPipeFile* device =
        new VexPipeFile(openPipeForWriting(name.c_str()), VexPipeFile::kWrite, true);
    EXPECT_FALSE(device->isReading());
    EXPECT_EQ(device->writeText("hello\n"), 6u);
    EXPECT_EQ(device->write("ab\ncd", 3), 3u);
    std::string line;
    ASSERT_TRUE(other.next(&line));
    EXPECT_EQ(line, "hello");
    ASSERT_TRUE(other.next(&line));
    EXPECT_EQ(line, "ab");

    // A write device has nothing to read and no reader; the unnamed slots are inert.
    char buffer[4];
    EXPECT_EQ(device->read(buffer, sizeof(buffer)), 0u);
    EXPECT_TRUE(device->isOpen());
    EXPECT_FALSE(device->open(VexPipeFile::kRead));
    EXPECT_FALSE(device->reservedFlag());
    EXPECT_TRUE(device->reservedText().isEmpty());
    EXPECT_EQ(device->reservedNumber(), 0u);

    // After a close every write fails with "Error writing" traced.
    device->close();
    ReportCapture traces(ReportCapture::kTrace);
    EXPECT_EQ(device->writeText("lost\n"), 0u);
    EXPECT_EQ(traces.lines(), std::vector<std::string>{"Error writing"});
    destroy(device);
}

TEST(VexPipeFile, AListeningInstanceOutlivesClientsThatOnlyLooked)
{
    ReportCapture errors;
    const std::string name = pipetest::uniquePipeName("relisten");
    VexPipeFile* device = new VexPipeFile(createInboundPipe(name.c_str()),
                                          VexPipeFile::kRead | VexPipeFile::kRelisten, true);
    // Clients that open the pipe and go again without writing.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(eventually([&] { return waitForPipe(name.c_str(), 100); }));
        const PipeHandle looker = openPipeForWriting(name.c_str());
        ASSERT_NE(looker, kNoPipe);
        closePipe(looker);
    }
    // The instance still listens and takes the next client's bytes.
    PipeHandle client = kNoPipe;
    ASSERT_TRUE(eventually([&] {
        if (client == kNoPipe && waitForPipe(name.c_str(), 100))
            client = openPipeForWriting(name.c_str());
        return client != kNoPipe;
    }));
    ASSERT_TRUE(writeChunk(client, device, "hello"));
    EXPECT_TRUE(device->isReading());
    EXPECT_TRUE(device->hasReceived());
    EXPECT_EQ(readSome(device, 10), "hello");
    // Once it has had its client, that client's end ends it as usual.
    closePipe(client);
    EXPECT_TRUE(eventually([&] { return !device->isReading(); }));

    // A close while the instance waits for its next client ends the wait quietly.
    VexPipeFile* waiting = new VexPipeFile(createInboundPipe(name.c_str()),
                                           VexPipeFile::kRead | VexPipeFile::kRelisten, true);
    ASSERT_TRUE(eventually([&] { return waitForPipe(name.c_str(), 100); }));
    closePipe(openPipeForWriting(name.c_str()));
    waiting->close();
    EXPECT_EQ(waiting->threadState(), VexPipeFile::kStopped);
    destroy(waiting);
    destroy(device);
    EXPECT_TRUE(errors.lines().empty());
}
