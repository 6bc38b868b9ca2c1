// Endpoints: a conduit's view of one pipe. A read endpoint turns the byte stream of an
// inbound pipe into text lines; a write endpoint writes lines to an outbound pipe.
//
// Endpoints are values. A copy shares the device (and takes its own use of it, see
// VexPipeIODevice); a copied read endpoint starts with its own empty pending lines, so
// lines are only ever pending in one copy (the conduit keeps its copies in its maps). A
// moved read endpoint takes its pending lines along.
//
// Reading lines (the pump, run by pendingBytes(), hasLine() and takeLine()):
//  1. Read up to 4096 bytes from the device; go on while a read fills the whole buffer.
//  2. Split at each "\n": every piece before a "\n" becomes a pending line without it
//     (an empty piece too), read as ASCII (a byte above 127 reads as "?").
//  3. Text after the last "\n" waits for the rest of its line: a line that arrives in
//     several reads comes out whole. Once the device has ended (its peer gone) and
//     everything is read, such a tail comes out as a last line, which takeLine() marks
//     as unfinished.
//  4. A line longer than kMaxLineBytes is dropped with the report "Dropped an incoming line
//     longer than %1 bytes"; reading goes on after its "\n".
//  5. Lines wait here until they are taken, at most kMaxQueuedLines of them (empty ones
//     included) or kMaxQueuedBytes of text. A peer that sends more than that before they
//     are taken floods: it is cut off with the report "Cut off a peer that sent more than
//     %1 lines or %2 bytes unread". What it queued is dropped and the device closed (its
//     pipe goes, its peer's writes fail), and the endpoint has ended, as for a peer that
//     has gone: a call waiting on it ends.
#ifndef KYRO_PIPE_VEXPIPEENDPOINT_H
#define KYRO_PIPE_VEXPIPEENDPOINT_H

#include "kyro/pipe/VexPipeIODevice.h"
#include "kyro/pipe/VexPipePacket.h"
#include "kyro/util/TList.h"
#include "kyro/util/TStr.h"

#include <cstdint>
#include <string>

class VexPipeEndpoint : public VexPipeBase {
public:
    enum Kind : std::uint32_t { kReadEndpoint = 1, kWriteEndpoint = 2 };

    // Takes a use of `device` (which may be null).
    VexPipeEndpoint(VexPipeIODevice* device, std::uint32_t kind);
    VexPipeEndpoint(const VexPipeEndpoint& other);
    VexPipeEndpoint(VexPipeEndpoint&& other) noexcept;
    VexPipeEndpoint& operator=(const VexPipeEndpoint& other);
    VexPipeEndpoint& operator=(VexPipeEndpoint&& other) noexcept;
    ~VexPipeEndpoint() override;   // lets go of the device

    // Slot 3: closes the device, when there is one (its other holders see it closed too).
    virtual void close();

    VexPipeIODevice* device() const { return m_device; }
    std::uint32_t kind() const { return m_kind; }

private:
    void letGo();

    VexPipeIODevice* m_device;
    std::uint32_t m_kind;
};

class VexPipeReadEndpoint : public VexPipeEndpoint {
public:
    static constexpr std::size_t kMaxLineBytes = 16u * 1024u * 1024u;
    static constexpr int kMaxQueuedLines = 65536;
    static constexpr int kMaxQueuedBytes = 64 * 1024 * 1024;
    static constexpr std::uint32_t kBufferSize = 4096;

    explicit VexPipeReadEndpoint(VexPipeIODevice* device = nullptr);
    VexPipeReadEndpoint(const VexPipeReadEndpoint& other);   // shares the device only
    VexPipeReadEndpoint(VexPipeReadEndpoint&& other) noexcept;
    VexPipeReadEndpoint& operator=(const VexPipeReadEndpoint& other);
    VexPipeReadEndpoint& operator=(VexPipeReadEndpoint&& other) noexcept;
    ~VexPipeReadEndpoint() override;

    // Bytes of the pending lines, the unfinished tail included.
    int pendingBytes();
    bool hasLine();
    // The oldest pending line; an empty text when none is pending. With `unfinished`, tells
    // whether the line is the tail its peer left without a line end when it went.
    TStr takeLine(bool* unfinished = nullptr);

    // Nothing pending and nothing left in the device.
    bool isIdle();
    // Whether its peer was cut off for flooding (see above).
    bool wasCutOff() const { return m_cutOff; }
    // The device has stopped reading (peer gone, pipe closed) and everything it delivered
    // has been taken: no line will ever come from here again.
    bool hasEnded();

private:
    void pump();
    void split(const char* bytes, std::size_t count);
    void addLine(const char* bytes, std::size_t count);
    void dropLongLine();
    void cutOff();

    TList<TStr> m_pending;
    int m_pendingBytes;
    std::string m_tail;     // the unfinished last line
    bool m_discarding;      // inside a line that was too long, until its "\n"
    bool m_lastUnfinished;  // the last pending line is the tail of a peer that has gone
    bool m_cutOff;          // its peer flooded: nothing more is read
    char* m_buffer;         // kBufferSize bytes, made on first need
};

class VexPipeWriteEndpoint : public VexPipeEndpoint {
public:
    explicit VexPipeWriteEndpoint(VexPipeIODevice* device = nullptr);

    // Writes the bytes of `text` with one device write, then flushes the device. Returns
    // the byte count the device reports (less than the text's length when it failed).
    int writeLine(const TStr& text);
};

#endif
