#include "kyro/pipe/VexPipeFacility.h"

#include "kyro/pipe/VexMessages.h"
#include "kyro/pipe/VexPipeSession.h"

namespace {

const char* const kMethods[] = {"cndCnct", "cndTerm", "ssnTerm", "error", "RESP",
                                "listFacilities", "listLocales"};

// "cndTerm" and "ssnTerm": answer first, then end the session without telling the peer,
// which asked for it.
long answerAndTerminate(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply)
{
    reply->setString("RCOD", "okay");
    VexPipeFacility::sendReply(session, request, reply);
    if (session != nullptr)
        session->terminate(false);
    return VexPipeFacility::kHandled;
}

}  // namespace

VexPipeSystemFacility::VexPipeSystemFacility(bool internal) : m_internal(internal)
{
    setHidden(true);
    addMethod(kMethods[0], &VexPipeSystemFacility::cndCnct);
    addMethod(kMethods[1], &VexPipeSystemFacility::cndTerm);
    addMethod(kMethods[2], &VexPipeSystemFacility::ssnTerm);
    addMethod(kMethods[3], &VexPipeSystemFacility::error);
    addMethod(kMethods[4], &VexPipeSystemFacility::response);
    addMethod(kMethods[5], &VexPipeSystemFacility::listFacilities);
    addMethod(kMethods[6], &VexPipeSystemFacility::listLocales);
}

VexPipeSystemFacility::~VexPipeSystemFacility()
{
    removeMethod("cndCnct");
    removeMethod("cndTerm");
    removeMethod("ssnTerm");
    removeMethod("RESP");
    removeMethod("error");
    removeMethod("listFacilities");
    removeMethod("listLocales");
}

TStr VexPipeSystemFacility::name() const
{
    return TStr(m_internal ? "systemInternal" : "system");
}

long VexPipeSystemFacility::cndCnct(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply)
{
    if (session != nullptr && request->contains("CPID")) {
        const std::uint32_t client = static_cast<std::uint32_t>(request->getInt("CPID"));
        if (session->connectClient(client)) {
            session->setClientProcessId(client);
            reply->setString("RCOD", "okay");
            reply->setInt("SSID", static_cast<int>(session->number()));
            return kAnswer;
        }
    }
    reply->setString("RCOD", "fail");
    return kFailed;
}

long VexPipeSystemFacility::cndTerm(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply)
{
    return answerAndTerminate(session, request, reply);
}

long VexPipeSystemFacility::ssnTerm(VexPipeSession* session, VexPipePacket* request, VexPipePacket* reply)
{
    return answerAndTerminate(session, request, reply);
}

long VexPipeSystemFacility::error(VexPipeSession*, VexPipePacket*, VexPipePacket* reply)
{
    reply->setString("RCOD", "fail");
    return kFailed;
}

long VexPipeSystemFacility::response(VexPipeSession*, VexPipePacket*, VexPipePacket*)
{
    kyro::pipe::trace(TStr("System Facility Response received"));
    return kHandled;
}

long VexPipeSystemFacility::listFacilities(VexPipeSession*, VexPipePacket*, VexPipePacket* reply)
{
    reply->setList("FLST", VexPipeFacilityRegistry::visibleNames());
    return kAnswer;
}

long VexPipeSystemFacility::listLocales(VexPipeSession*, VexPipePacket*, VexPipePacket* reply)
{
    reply->setList("LCLT", vexLocaleNames());
    return kAnswer;
}
