// VexPipeIODevice: the byte-level end of one pipe; VexPipeFile: the device over a pipe
// handle of the platform layer (named_pipe.h).
//
// A device in read mode runs its own reader thread, which blocks in the pipe read and
// queues what arrives, so that the conduit's thread reads without ever blocking. A device
// in write mode writes on the caller's thread.
//
// Lifetime: devices are shared by endpoints (VexPipeEndpoint). Each endpoint that holds a
// device adds one use (addUse) and drops it when it lets go (dropUse); the device destroys
// itself when the last use goes. The VexBase reference count plays no part in that.
//
// Reader thread of a VexPipeFile in read mode:
//  1. Loop: under the device lock, end when a stop was requested (quietly) or the handle
//     is gone; otherwise read up to 4096 bytes outside the lock.
//  2. Nobody connected yet (Listening): wait for the client (waitForClient, which close()
//     ends), then read again; only when that wait fails, sleep 10 ms first.
//  3. Peer gone (Broken): disconnect and close the pipe, forget the handle, end. A
//     kRelisten instance whose client left before sending anything disconnects and waits
//     for the next client instead.
//  4. Handle closed meanwhile (InvalidHandle), instance disconnected, or a zero-byte read
//     (EndOfData): end.
//  5. Any other error: report "pipe read returned false with error: %1" and retry after
//     10 ms; during a close (stop requested) it ends quietly instead.
//  6. Bytes: queue them as one chunk under the lock and wake the thread registered with
//     setDataWaker(), so a conduit waiting in an alertable sleep handles them at once.
// While more than kMaxQueuedBytes are queued and unread the thread pauses (10 ms steps)
// instead of reading: a peer that floods a reader nobody drains fills the pipe, not memory.
//
// close(): marks the thread stopping, disconnects and closes the pipe (which releases a
// blocked read), waits up to 100 ms for the thread and otherwise lets it go. The thread
// and the device share one reference-counted state block, the device lock included, so a
// thread that is let go, or a device destroyed while its thread still runs, never touches
// freed memory. Destroying a read device that does not own its handle stops its thread
// the same way, without closing the handle (which its owner still holds).
#ifndef KYRO_PIPE_VEXPIPEIODEVICE_H
#define KYRO_PIPE_VEXPIPEIODEVICE_H

#include "kyro/pipe/VexPipePacket.h"
#include "kyro/platform/named_pipe.h"
#include "kyro/platform/threads.h"
#include "kyro/util/TStr.h"

#include <cstdint>

class VexPipeIODevice : public VexPipeBase {
public:
    VexPipeIODevice();
    ~VexPipeIODevice() override;
    VexPipeIODevice(const VexPipeIODevice&) = delete;
    VexPipeIODevice& operator=(const VexPipeIODevice&) = delete;

    // Slots 3 to 13.
    virtual std::uint32_t writeText(const char* text) = 0;   // the bytes up to the zero
    virtual std::uint32_t write(const void* bytes, std::uint32_t count) = 0;
    virtual std::uint32_t read(void* buffer, std::uint32_t size);   // never blocks; base: 0
    virtual bool isOpen() const = 0;
    virtual bool open(std::uint32_t mode) = 0;
    virtual void flush() = 0;
    virtual bool reservedFlag() = 0;
    virtual TStr reservedText() = 0;
    virtual std::uint32_t reservedNumber() = 0;
    virtual kyro::platform::PipeHandle handle() const = 0;
    virtual void close() = 0;

    // What the conduit asks of a read device. The base has no reader: not reading,
    // nothing queued, nothing received, no waker.
    virtual bool isReading() const;                 // a reader may still deliver bytes
    virtual std::uint32_t queuedBytes() const;      // received and not yet read
    virtual bool hasReceived() const;               // any byte has ever arrived
    // The thread to wake when bytes arrive or the reader ends; kNoSleepWaker for none. The
    // device does not own the token: whoever sets one clears it before releasing it.
    virtual void setDataWaker(kyro::platform::SleepWaker waker);

    void addUse() { ++m_useCount; }
    // Drops one use; the device destroys itself when none is left.
    void dropUse();
    std::uint32_t useCount() const { return m_useCount; }

private:
    std::uint32_t m_useCount;
};

class VexPipeFile : public VexPipeIODevice {
public:
    // Mode bits. kRelisten is for a server's instance that waits for its client: when a
    // client leaves before it has sent anything, the instance listens for the next one
    // instead of closing (so a pipe name never loses its last listening instance to a
    // client that only looked).
    enum Mode : std::uint32_t { kRead = 1, kWrite = 2, kAppend = 4, kRelisten = 8 };
    // Reader thread states.
    enum ThreadState : std::uint32_t { kNotStarted = 0, kRunning = 1, kStopRequested = 2, kStopped = 3 };
    // Chunk bytes the reader lets pile up before it waits for them to be read.
    static constexpr std::uint32_t kMaxQueuedBytes = 32u * 1024u * 1024u;

    // A device over `handle`. With kRead in `mode` the reader thread starts at once. With
    // `ownsHandle`, destruction runs close().
    VexPipeFile(kyro::platform::PipeHandle handle, std::uint32_t mode, bool ownsHandle);
    // A device without a handle, named for open() and the close trace.
    explicit VexPipeFile(const TStr& name);
    ~VexPipeFile() override;

    // The device lock lives in the state block the reader thread shares.
    bool lock(std::uint32_t timeoutMs) override;
    void unlock() override;

    std::uint32_t writeText(const char* text) override;
    std::uint32_t write(const void* bytes, std::uint32_t count) override;
    std::uint32_t read(void* buffer, std::uint32_t size) override;
    bool isOpen() const override;                  // always true
    // Files are not opened through pipe devices: the platform layer hands out pipe handles
    // only. Nothing changes and the answer is false, as it always is.
    bool open(std::uint32_t mode) override;
    void flush() override;                         // nothing to do
    bool reservedFlag() override;                  // false
    TStr reservedText() override;                  // empty
    std::uint32_t reservedNumber() override;       // 0
    // The pipe handle; kNoPipe before one is given, 0 after close.
    kyro::platform::PipeHandle handle() const override;
    void close() override;

    bool isReading() const override;
    std::uint32_t queuedBytes() const override;
    bool hasReceived() const override;
    void setDataWaker(kyro::platform::SleepWaker waker) override;

    const TStr& name() const { return m_name; }
    void setName(const TStr& name) { m_name = name; }
    bool ownsHandle() const { return m_ownsHandle; }
    std::uint32_t threadState() const;
    std::uint32_t threadId() const;

private:
    struct Shared;
    static void readerMain(void* argument);
    void stopReader(bool closeHandle);

    Shared* m_shared;
    TStr m_name;
    bool m_ownsHandle;
    kyro::platform::ThreadHandle m_thread;
};

#endif
