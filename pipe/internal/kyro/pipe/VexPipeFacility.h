// Facilities: named groups of methods that answer request packets ("system.cndCnct" is
// method "cndCnct" of facility "system"), the process-wide facility registry, and the
// system facility every conduit registers.
//
// A handler takes (session, request, reply) and returns a result: 0 answers now (the
// facility adds "RSCD" 0 and sends the reply); anything else sends nothing more, where 3
// (kHandled) is what a handler returns after it has answered or ended the session itself
// and 1 (kFailed) means failure or an unknown method.
//
// A reply goes back as a packet named "<request's facility>.RESP", wait mode 1, in the
// request's session, with "RCOD" set to the answered method's name (left out when the
// method is a null text), whatever a handler put there.
#ifndef KYRO_PIPE_VEXPIPEFACILITY_H
#define KYRO_PIPE_VEXPIPEFACILITY_H

#include "kyro/pipe/VexDictionary.h"
#include "kyro/pipe/VexPipePacket.h"
#include "kyro/util/TList.h"
#include "kyro/util/TMap.h"
#include "kyro/util/TStr.h"

class VexPipeSession;

class VexPipeFacility : public VexPipeBase {
public:
    using Handler = long (*)(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply);
    static constexpr long kAnswer = 0;
    static constexpr long kFailed = 1;
    static constexpr long kHandled = 3;

    VexPipeFacility();
    ~VexPipeFacility() override;   // removes the method "index", then the rest
    VexPipeFacility(const VexPipeFacility&) = delete;
    VexPipeFacility& operator=(const VexPipeFacility&) = delete;

    virtual TStr name() const;     // slot 3: "none" here
    // Slot 4: runs the method the request names ("index" and "methodInformation" are
    // built in; an empty method is "index") and replies when it returns 0.
    virtual long dispatch(VexPipeSession* session, VexPipePacket* request);
    virtual long unknownMethod(VexPipeSession* session, VexPipePacket* request,
                               VexPipePacket* reply);   // slot 5: 1 here
    // Slot 6: the method names, in the methods map's order, as the list "MLST"; 0.
    virtual long index(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply);
    virtual VexDictionary methodInformation(const TStr& methodName);   // slot 7: empty

    // Inserts or replaces.
    void addMethod(const TStr& name, Handler handler);
    void removeMethod(const TStr& name);
    bool hasMethod(const TStr& name) const;
    TList<TStr> methodNames() const;
    void setHidden(bool hidden) { m_hidden = hidden; }
    bool isHidden() const { return m_hidden; }

    // The reply step shared by dispatch() and handlers that answer early.
    static void sendReply(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply);

private:
    TStr m_name;
    TMap<TStr, Handler> m_methods;
    VexDictionary m_methodInformation;
    bool m_hidden;
    // The list "index" answers with, kept up to date by addMethod() and removeMethod(), so
    // that answering only reads (a registered facility may answer on several threads).
    TList<TStr> m_index;
};

// The connection and session protocol, introspection, stray replies and error notices.
// Hidden; named "system", or "systemInternal" when built as internal.
class VexPipeSystemFacility : public VexPipeFacility {
public:
    explicit VexPipeSystemFacility(bool internal);
    ~VexPipeSystemFacility() override;

    TStr name() const override;
    bool isInternal() const { return m_internal; }

    // The handlers, in the order the constructor adds them.
    static long cndCnct(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply);
    static long cndTerm(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply);
    static long ssnTerm(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply);
    static long error(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply);
    static long response(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply);
    static long listFacilities(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply);
    static long listLocales(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply);

private:
    bool m_internal;
};

// The process-wide registry of facilities by name: made on the first registration and
// destroyed when a conduit's destruction leaves it empty. It holds a reference to each
// facility it lists. Safe to use from several threads (each conduit runs on its own).
class VexPipeFacilityRegistry {
public:
    // Registers `facility` under `name` (its own name() when `name` is empty), replacing
    // what was there. False when out of memory.
    static bool add(VexPipeFacility* facility, const TStr& name = TStr());
    // Takes the name out (dropping the registry's reference). False when it is not there.
    static bool remove(const TStr& name);
    // The facility registered under `name`, with a reference for the caller (give it back
    // with release()); null when there is none.
    static VexPipeFacility* acquire(const TStr& name);
    static void release(VexPipeFacility* facility);
    // The names of the facilities that are not hidden, in registry order.
    static TList<TStr> visibleNames();
    static bool contains(const TStr& name);
    static bool exists();   // whether the registry is there at all
    static int count();

private:
    friend class VexPipeConduit;
    // A conduit's destruction: removes the name and destroys the registry when it is empty.
    static void removeForConduit(const TStr& name);
};

// The framework's locale table, built once per process: "cs_CZ de_DE en_US es_ES fr_FR
// hu_HU it_IT ja_JP ko_KR pl_PL pt_BR pt_PT ru_RU zh_CN zh_TW", then the alias "en_CA" (for
// "en_US"). Each name maps to the locale it stands for.
const TMap<TStr, TStr>& vexLocaleTable();
// The table's sixteen names in its iteration order ("LCLT").
TList<TStr> vexLocaleNames();

#endif
