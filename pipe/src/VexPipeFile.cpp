#include "kyro/pipe/VexPipeIODevice.h"

#include "kyro/pipe/VexMessages.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>

using kyro::platform::PipeHandle;
using kyro::platform::PipeResult;
using kyro::platform::PipeStatus;
using kyro::platform::kNoPipe;
using kyro::platform::kNoSleepWaker;
using kyro::platform::kNoThread;

namespace {

constexpr std::uint32_t kReadSize = 4096;
constexpr std::uint32_t kRetryMs = 10;
constexpr std::uint32_t kStopWaitMs = 100;

bool isHandle(PipeHandle handle)
{
    return handle != 0 && handle != kNoPipe;
}

}  // namespace

// What the device and its reader thread share. The thread holds its own reference, so a
// device that goes first leaves the block to the thread, which frees it on its way out.
struct VexPipeFile::Shared {
    std::atomic<int> references{1};
    VexBase guard;   // its lock is the device lock
    PipeHandle handle = kNoPipe;
    // Changed under the device lock; read without it where a stale answer is harmless
    // (the conduit's thread asks several times per tick, the reader never waits for it).
    std::atomic<std::uint32_t> threadState{kNotStarted};
    std::atomic<std::size_t> queued{0};
    std::atomic<bool> received{false};
    bool relisten = false;
    std::uint32_t threadId = 0;
    std::deque<std::string> chunks;   // oldest first
    std::size_t headOffset = 0;       // bytes of the oldest chunk already read
    // The waker has a lock of its own, so that the reader wakes the conduit's thread after
    // letting go of the device lock, which that thread then takes without a wait.
    std::mutex wakerLock;
    kyro::platform::SleepWaker waker = kNoSleepWaker;

    void lock() { guard.lock(0); }
    void unlock() { guard.unlock(); }
    void addReference() { references.fetch_add(1, std::memory_order_relaxed); }
    void dropReference()
    {
        if (references.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }
    // Outside the device lock: counts what was queued and wakes the conduit's thread.
    void publish(std::size_t* uncounted)
    {
        if (*uncounted == 0)
            return;
        queued += *uncounted;
        *uncounted = 0;
        wake();
    }
    void wake()
    {
        std::lock_guard<std::mutex> hold(wakerLock);
        if (waker != kNoSleepWaker)
            kyro::platform::wakeSleeper(waker);
    }
};

VexPipeFile::VexPipeFile(PipeHandle handle, std::uint32_t mode, bool ownsHandle)
    : m_shared(new (std::nothrow) Shared), m_ownsHandle(ownsHandle), m_thread(kNoThread)
{
    if (m_shared == nullptr) {
        // Out of memory: an inert device that reads and writes nothing. The handle is
        // still closed when it was given away.
        if (ownsHandle)
            kyro::platform::closePipe(handle);
        m_ownsHandle = false;
        return;
    }
    m_shared->handle = handle;
    m_shared->relisten = (mode & kRelisten) != 0;
    if ((mode & kRead) == 0)
        return;
    // The state is set before the thread runs, so that a close() right after construction
    // is never overwritten by the thread's start.
    m_shared->threadState = kRunning;
    m_shared->addReference();
    m_thread = kyro::platform::startThread(&VexPipeFile::readerMain, m_shared);
    if (m_thread == kNoThread) {
        m_shared->threadState = kStopped;
        m_shared->dropReference();
    }
}

VexPipeFile::VexPipeFile(const TStr& name)
    : m_shared(new (std::nothrow) Shared), m_name(name), m_ownsHandle(false), m_thread(kNoThread)
{
}

VexPipeFile::~VexPipeFile()
{
    if (m_shared == nullptr)
        return;
    if (m_ownsHandle)
        close();
    else if (m_thread != kNoThread)
        stopReader(false);
    {
        std::lock_guard<std::mutex> hold(m_shared->wakerLock);
        m_shared->waker = kNoSleepWaker;
    }
    m_shared->dropReference();
}

void VexPipeFile::readerMain(void* argument)
{
    Shared* shared = static_cast<Shared*>(argument);
    char buffer[kReadSize];
    // Bytes queued but not yet counted in `queued`. They are counted once the device lock
    // is free again, so that the conduit's thread, which watches the count, takes the lock
    // without a wait; read() never takes more than is counted.
    std::size_t uncounted = 0;
    shared->lock();
    shared->threadId = kyro::platform::currentThreadId();
    for (;;) {
        // Under the device lock here.
        if (shared->threadState >= kStopRequested || !isHandle(shared->handle))
            break;
        if (shared->queued + uncounted >= kMaxQueuedBytes) {
            // Nobody reads: leave the bytes in the pipe until somebody does.
            shared->unlock();
            shared->publish(&uncounted);
            kyro::platform::sleepAlertable(kRetryMs);
            shared->lock();
            continue;
        }
        const PipeHandle handle = shared->handle;
        shared->unlock();
        shared->publish(&uncounted);

        const PipeResult result = kyro::platform::pipeRead(handle, buffer, kReadSize);
        if (result.status == PipeStatus::Listening) {
            // Nobody has connected yet. Waiting for the client (which close() ends) rather
            // than polling every 10 ms lets the first line through the moment it is sent:
            // the handshake's answer is such a line.
            if (kyro::platform::waitForClient(handle) == kyro::platform::PipeConnectResult::Failed)
                kyro::platform::sleepAlertable(kRetryMs);
            shared->lock();
            continue;
        }
        shared->lock();
        if (result.status == PipeStatus::Ok && result.bytes > 0) {
            try {
                shared->chunks.emplace_back(buffer, result.bytes);
                uncounted += result.bytes;
                shared->received = true;
            } catch (...) {
                // Out of memory: this chunk is lost, the next read may fare better.
            }
            continue;
        }
        if (result.status == PipeStatus::OtherError) {
            // During a close the pipe goes away under the read: that is no error.
            if (shared->threadState >= kStopRequested)
                break;
            shared->unlock();
            kyro::pipe::reportError(TStr("pipe read returned false with error: %1")
                                        .arg(static_cast<long>(result.error)));
            kyro::platform::sleepAlertable(kRetryMs);
            shared->lock();
            continue;
        }
        if (result.status == PipeStatus::Broken && shared->relisten && !shared->received &&
            shared->handle == handle) {
            // A client that came and went without a word: wait for the next one. A close
            // releases the wait.
            kyro::platform::pipeDisconnect(handle);
            shared->unlock();
            const kyro::platform::PipeConnectResult next = kyro::platform::waitForClient(handle);
            shared->lock();
            if (next == kyro::platform::PipeConnectResult::Connected)
                continue;
        }
        // Everything else ends the reader.
        if (shared->handle == handle) {
            if (result.status == PipeStatus::Broken) {
                // The peer has gone: this end is of no more use.
                kyro::platform::pipeDisconnect(handle);
                kyro::platform::closePipe(handle);
                shared->handle = 0;
            } else if (result.status == PipeStatus::InvalidHandle) {
                shared->handle = 0;
            }
        }
        break;
    }
    // Counted before the end shows: whoever sees the reader stopped finds all it queued.
    shared->queued += uncounted;
    shared->threadState = kStopped;
    shared->unlock();
    // Whoever waits learns that nothing more comes from here.
    shared->wake();
    shared->dropReference();
}

void VexPipeFile::stopReader(bool closeHandle)
{
    m_shared->lock();
    const PipeHandle handle = m_shared->handle;
    if (closeHandle && isHandle(handle)) {
        m_shared->threadState = kStopRequested;
        // Disconnecting and closing releases a reader blocked in the pipe read.
        kyro::platform::pipeDisconnect(handle);
        kyro::platform::closePipe(handle);
        m_shared->handle = 0;
    }
    if (m_shared->threadState != kStopped)
        m_shared->threadState = kStopRequested;
    m_shared->unlock();

    kyro::platform::waitForThread(m_thread, kStopWaitMs);
    // A thread that has not ended by now is let go; the state block keeps it safe.
    m_shared->lock();
    kyro::platform::releaseThread(m_thread);
    m_thread = kNoThread;
    m_shared->threadState = kStopped;
    m_shared->unlock();
}

bool VexPipeFile::lock(std::uint32_t timeoutMs)
{
    if (m_shared == nullptr)
        return false;
    return m_shared->guard.lock(timeoutMs);
}

void VexPipeFile::unlock()
{
    if (m_shared == nullptr)
        return;
    m_shared->guard.unlock();
}

std::uint32_t VexPipeFile::writeText(const char* text)
{
    if (text == nullptr)
        return 0;
    return write(text, static_cast<std::uint32_t>(std::strlen(text)));
}

std::uint32_t VexPipeFile::write(const void* bytes, std::uint32_t count)
{
    if (m_shared == nullptr)
        return 0;
    // Write devices have no thread: the handle changes only on this thread.
    const PipeResult result = kyro::platform::pipeWrite(m_shared->handle, bytes, count);
    if (result.status != PipeStatus::Ok)
        kyro::pipe::trace(TStr("Error writing"));
    return result.bytes;
}

std::uint32_t VexPipeFile::read(void* buffer, std::uint32_t size)
{
    if (m_shared == nullptr || buffer == nullptr || size == 0)
        return 0;
    const std::size_t counted = m_shared->queued.load();
    if (counted == 0)
        return 0;   // the common case while polling: no lock needed
    if (size > counted)
        size = static_cast<std::uint32_t>(counted);
    char* out = static_cast<char*>(buffer);
    std::uint32_t copied = 0;
    m_shared->lock();
    while (copied < size && !m_shared->chunks.empty()) {
        const std::string& oldest = m_shared->chunks.front();
        const std::size_t available = oldest.size() - m_shared->headOffset;
        const std::size_t room = size - copied;
        const std::size_t take = available < room ? available : room;
        std::memcpy(out + copied, oldest.data() + m_shared->headOffset, take);
        copied += static_cast<std::uint32_t>(take);
        m_shared->headOffset += take;
        if (m_shared->headOffset == oldest.size()) {
            m_shared->chunks.pop_front();
            m_shared->headOffset = 0;
        }
    }
    m_shared->queued -= copied;
    m_shared->unlock();
    return copied;
}

bool VexPipeFile::isOpen() const
{
    return true;
}

bool VexPipeFile::open(std::uint32_t)
{
    return false;
}

void VexPipeFile::flush() {}

bool VexPipeFile::reservedFlag()
{
    return false;
}

TStr VexPipeFile::reservedText()
{
    return TStr("");
}

std::uint32_t VexPipeFile::reservedNumber()
{
    return 0;
}

PipeHandle VexPipeFile::handle() const
{
    if (m_shared == nullptr)
        return kNoPipe;
    m_shared->lock();
    const PipeHandle handle = m_shared->handle;
    m_shared->unlock();
    return handle;
}

void VexPipeFile::close()
{
    if (m_shared == nullptr)
        return;
    const PipeHandle current = handle();
    kyro::pipe::trace(TStr("closing file %1 with fd %2")
                          .arg(m_name)
                          .arg(TStr(std::to_string(static_cast<long long>(current)).c_str())));
    if (m_thread != kNoThread) {
        stopReader(true);
    } else {
        m_shared->lock();
        if (isHandle(m_shared->handle)) {
            kyro::platform::closePipe(m_shared->handle);
            m_shared->handle = 0;
        }
        m_shared->unlock();
    }
    m_ownsHandle = false;
}

bool VexPipeFile::isReading() const
{
    if (m_shared == nullptr)
        return false;
    return m_thread != kNoThread && m_shared->threadState.load() == kRunning;
}

std::uint32_t VexPipeFile::queuedBytes() const
{
    if (m_shared == nullptr)
        return 0;
    return static_cast<std::uint32_t>(m_shared->queued.load());
}

bool VexPipeFile::hasReceived() const
{
    if (m_shared == nullptr)
        return false;
    return m_shared->received.load();
}

void VexPipeFile::setDataWaker(kyro::platform::SleepWaker waker)
{
    if (m_shared == nullptr)
        return;
    std::lock_guard<std::mutex> hold(m_shared->wakerLock);
    m_shared->waker = waker;
}

std::uint32_t VexPipeFile::threadState() const
{
    if (m_shared == nullptr)
        return kStopped;
    return m_shared->threadState.load();
}

std::uint32_t VexPipeFile::threadId() const
{
    if (m_shared == nullptr)
        return 0;
    m_shared->lock();
    const std::uint32_t id = m_shared->threadId;
    m_shared->unlock();
    return id;
}
