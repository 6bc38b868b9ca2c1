#include "kyro/pipe/VexPipeFacility.h"

#include "kyro/pipe/VexPipeSession.h"

#include <new>

VexPipeFacility::VexPipeFacility() : m_methods(17), m_hidden(false) {}

VexPipeFacility::~VexPipeFacility()
{
    removeMethod(TStr("index"));
}

TStr VexPipeFacility::name() const
{
    return TStr("none");
}

long VexPipeFacility::dispatch(VexPipeSession* session, VexPipePacket* request)
{
    if (request == nullptr)
        return kFailed;
    VexPipePacket* reply = new (std::nothrow) VexPipePacket(VexPipePacket::kWaitInherit);
    if (reply == nullptr)
        return kFailed;
    const TStr method = request->method();
    long result;
    if (method.isEmpty() || method == "index") {
        result = index(session, request, reply);
    } else if (method == "methodInformation") {
        reply->setDictionaryCopy("MTHI", methodInformation(request->getString("MTHN")));
        result = kAnswer;
    } else {
        const TMap<TStr, Handler>::Iterator found = m_methods.find(method);
        if (found != m_methods.end() && found.value() != nullptr)
            result = found.value()(session, request, reply);
        else
            result = unknownMethod(session, request, reply);
    }
    if (result == kAnswer) {
        reply->setInt("RSCD", 0);
        sendReply(session, request, reply);
    }
    reply->release();
    return result;
}

long VexPipeFacility::unknownMethod(VexPipeSession*, VexPipePacket*, VexPipePacket*)
{
    return kFailed;
}

long VexPipeFacility::index(VexPipeSession*, VexPipePacket*, VexPipePacket* reply)
{
    if (reply != nullptr) {
        reply->setList("MLST", m_index);
    }
    return kAnswer;
}

VexDictionary VexPipeFacility::methodInformation(const TStr&)
{
    return VexDictionary();
}

void VexPipeFacility::addMethod(const TStr& name, Handler handler)
{
    m_methods.insert(name, handler);
    m_index = m_methods.keys();
}

void VexPipeFacility::removeMethod(const TStr& name)
{
    m_methods.remove(name);
    m_index = m_methods.keys();
}

bool VexPipeFacility::hasMethod(const TStr& name) const
{
    return m_methods.find(name) != m_methods.end();
}

TList<TStr> VexPipeFacility::methodNames() const
{
    return m_methods.keys();
}

void VexPipeFacility::sendReply(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply)
{
    if (request == nullptr || reply == nullptr)
        return;
    // The reply travels in the request's session, seen from this side.
    reply->setSessionNumber(request->peerSessionNumber());
    reply->setPeerSessionNumber(request->sessionNumber());
    reply->setFacility(request->facility());
    reply->setMethod(TStr("RESP"));
    // Only a method that is not there at all (a null text) leaves "RCOD" out; an empty
    // one is answered with an empty "RCOD".
    const TStr method = request->method();
    if (!method.isNull())
        reply->setString("RCOD", method);
    reply->setWaitMode(VexPipePacket::kNoWait);
    if (session != nullptr)
        session->send(reply);
}
