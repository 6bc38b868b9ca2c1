// VexPipePacket: one message between the library and the companion, a request for a
// facility's method or a reply ("RESP"), within a numbered session, with its arguments in
// a dictionary. On the pipe it is one line:
//
//   65536;<facility>.<method>;<addressee's session>;<sender's session>;<spare>;<wait mode>;key=value;...
#ifndef KYRO_PIPE_VEXPIPEPACKET_H
#define KYRO_PIPE_VEXPIPEPACKET_H

#include "kyro/pipe/VexBase.h"
#include "kyro/pipe/VexDictionary.h"
#include "kyro/util/TList.h"
#include "kyro/util/TStr.h"

#include <cstdint>

class VexPipeBase : public VexBase {
};

class VexPipePacket : public VexPipeBase {
public:
    // Wait modes: inherit the session's (then the conduit's), do not wait, wait for a reply.
    enum WaitMode : std::uint32_t { kWaitInherit = 0, kNoWait = 1, kWait = 2 };
    static constexpr int kVersion = 0x10000;

    explicit VexPipePacket(std::uint32_t waitMode = kWaitInherit);
    VexPipePacket(const TStr& fullName, std::uint32_t waitMode);
    VexPipePacket(const VexPipePacket& other);
    VexPipePacket& operator=(const VexPipePacket& other);
    ~VexPipePacket() override;
    void assign(const VexPipePacket& other);

    virtual TStr facility() const;
    virtual TStr method() const;
    virtual TStr fullName() const;     // facility "." method; always holds the dot
    virtual void setFacility(const TStr& facility);
    virtual void setMethod(const TStr& method);
    // Splits at the first ".": facility before, method after (which may hold more dots);
    // without a dot the whole text is the facility and the method is empty.
    virtual void setFullName(const TStr& fullName);

    int sessionNumber() const { return m_sessionNumber; }
    void setSessionNumber(int number) { m_sessionNumber = number; }
    int peerSessionNumber() const { return m_peerSessionNumber; }
    void setPeerSessionNumber(int number) { m_peerSessionNumber = number; }
    std::uint32_t waitMode() const { return m_waitMode; }
    void setWaitMode(std::uint32_t mode) { m_waitMode = mode; }

    int getInt(const TStr& key) const { return m_payload.getInt(key); }
    TStr getString(const TStr& key) const { return m_payload.getString(key); }
    bool contains(const TStr& key) const { return m_payload.contains(key); }
    void setString(const TStr& key, const TStr& text);   // a null text is not stored
    void setInt(const TStr& key, int value) { m_payload.setInt(key, value); }
    void setList(const TStr& key, const TList<TStr>& list) { m_payload.setList(key, list); }
    void setDictionaryCopy(const TStr& key, const VexDictionary& dictionary) { m_payload.setDictionaryCopy(key, dictionary); }
    const VexDictionary& payload() const { return m_payload; }
    VexDictionary& payload() { return m_payload; }

    // forSending puts the peer's session number first, so the receiver reads its own
    // number first.
    TStr marshal(bool forSending) const;
    // Reads a line without its line feed. A version other than 65536 leaves the packet as
    // it was; payload items are added to what the payload holds.
    void unmarshal(const TStr& text);

private:
    TStr m_method;
    TStr m_facility;
    std::int32_t m_sessionNumber;
    std::int32_t m_peerSessionNumber;
    std::int32_t m_spareNumber;
    std::uint32_t m_waitMode;
    VexDictionary m_payload;
};

#endif
