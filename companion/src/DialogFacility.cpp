#include "DialogFacility.h"

#include "PersonWindows.h"

#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/pipe/VexPipeSession.h"
#include "kyro/platform/clock.h"
#include "kyro/platform/process_info.h"

#include <chrono>
#include <cstdint>
#include <list>
#include <string>

namespace {

using kyro::companion::Answer;
using kyro::companion::CompanionScript;
using kyro::companion::PersonDialog;
using SteadyClock = std::chrono::steady_clock;

const CompanionScript* g_script = nullptr;
bool g_exitRequested = false;
int g_presenceLingerMs = 0;

constexpr int kSlowExitLingerMs = 600;

// Ends the companion after this loop; a slow exit keeps its presence lock a while longer.
void requestExit(Answer::Fault fault)
{
    g_exitRequested = true;
    if (fault == Answer::SlowExit)
        g_presenceLingerMs = kSlowExitLingerMs;
}

// A request answered later, with the session it arrived in.
struct KeptAnswer {
    VexPipeSession* session;
    VexPipePacket request;
    Answer answer;
    SteadyClock::time_point due;
    PersonDialog* person = nullptr;
};

std::list<KeptAnswer>& keptAnswers()
{
    static std::list<KeptAnswer> answers;
    return answers;
}

void reply(VexPipeSession* session, VexPipePacket* request, const Answer& answer)
{
    VexPipePacket response;
    response.setInt("RSCD", 0);
    if (answer.kind == Answer::Button)
        response.setInt("selected_button", answer.button);
    VexPipeFacility::sendReply(session, request, &response);
}

// ---- Faults on purpose (CompanionScript.h): lines no companion should write ----------------

// Writes bytes to the session's client as they are, outside the packet format. False when
// they did not all go.
bool writeRaw(VexPipeSession* session, const std::string& bytes)
{
    VexPipeConduit* const conduit = session->conduit();
    if (conduit == nullptr || bytes.empty())
        return false;
    const VexPipeWriteEndpoint writer = conduit->writerEndpoint(session->writerIndex());
    return writer.device() != nullptr &&
           writer.device()->write(bytes.data(), static_cast<std::uint32_t>(bytes.size())) ==
               bytes.size();
}

// Empty lines until the client takes no more.
void flood(VexPipeSession* session)
{
    constexpr std::size_t kFloodBytes = 64u * 1024u * 1024u;
    const std::string lines(64u * 1024u, '\n');
    std::size_t sent = 0;
    while (sent < kFloodBytes && writeRaw(session, lines))
        sent += lines.size();
}

// The line the reply to `request` would travel as (without its line end), as sendReply()
// and the conduit would make it.
std::string replyLine(VexPipeSession* session, const VexPipePacket& request, const Answer& answer,
                      const char* note = nullptr)
{
    VexPipePacket response;
    response.setInt("RSCD", 0);
    if (answer.kind == Answer::Button)
        response.setInt("selected_button", answer.button);
    if (note != nullptr)
        response.setString("note", note);
    response.setFacility(request.facility());
    response.setMethod("RESP");
    if (!request.method().isEmpty())
        response.setString("RCOD", request.method());
    response.setWaitMode(VexPipePacket::kNoWait);
    response.setSessionNumber(static_cast<int>(session->number()));
    response.setPeerSessionNumber(static_cast<int>(session->peerNumber()));
    response.setInt("CPID", static_cast<int>(kyro::platform::currentProcessId()));
    return response.marshal(true).utf8();
}

// The head of a line addressed to the client's side of `session`, from the companion's.
std::string lineHead(const char* name, long addressee, VexPipeSession* session)
{
    return "65536;" + std::string(name) + ";" + std::to_string(addressee) + ";" +
           std::to_string(session->number()) + ";0;1;";
}

std::string garbageLines(VexPipeSession* session)
{
    const std::string numbers =
        std::to_string(session->peerNumber()) + ";" + std::to_string(session->number());
    std::string lines;
    lines += "\n";                                                    // empty
    lines += "garbage, not a packet\n";
    lines += "65535;vex.RESP;" + numbers + ";0;1;selected_button=d7\n";  // another version
    lines += "\x01\x02\x03\t\x7f\x80\xc3\xa9\xff\r\n";         // control and high bytes
    lines += "65536\n";                                               // the version alone
    lines += "65536;;;;;;;;\n";                                       // empty fields
    lines += "65536;vex.RESP;x;y;z;w;selected_button=d!zz;=;a=b=c;;k\n";  // bad numbers, items
    lines += "65536;kyro.Note;0;0;0;1;text=hbad!z;more=h!;list=j!2;dict=i!\n";  // bad escapes
    lines += "65536;vex.RESP;99999999999999999999999;-;0;1;selected_button=d99999999999999\n";
    lines += std::string(1u << 20, 'x') + "\n";                       // 1 MiB, no packet
    return lines;
}

std::string strayLines(VexPipeSession* session, const VexPipePacket& request)
{
    std::string lines;
    for (const long addressee : {999999999L, -1L, 2147483647L}) {
        lines += lineHead((std::string(request.facility().utf8()) + ".RESP").c_str(), addressee, session);
        lines += "RSCD=d0;selected_button=d9;RCOD=h";
        lines += request.method().utf8();
        lines += "\n";
    }
    return lines;
}

std::string hugeLine(VexPipeSession* session, const VexPipePacket& request)
{
    constexpr std::size_t kHugeBytes = 32u * 1024u * 1024u;
    std::string line = lineHead((std::string(request.facility().utf8()) + ".RESP").c_str(),
                                static_cast<long>(session->peerNumber()), session);
    line += "selected_button=d99;padding=h";
    line.resize(kHugeBytes, 'x');
    line += "\n";
    return line;
}

// Answers the connection's "system.cndTerm" with half a line, and ends the companion.
long answerCloseHalfway(VexPipeSession* session, VexPipePacket* packet)
{
    if (packet->fullName() != "system.cndTerm")
        return VexPipeSession::kPassOn;
    Answer answer;
    answer.kind = Answer::Reply;
    const std::string line = replyLine(session, *packet, answer);
    writeRaw(session, line.substr(0, line.size() / 2));
    g_exitRequested = true;
    // Anything but kPassOn: the half line is all the host gets.
    return VexPipeFacility::kAnswer;
}

// The lines a fault writes before the reply, or instead of it.
void writeFaultLines(VexPipeSession* session, const VexPipePacket& request, const Answer& answer)
{
    if (answer.fault == Answer::Garbage)
        writeRaw(session, garbageLines(session));
    else if (answer.fault == Answer::Stray)
        writeRaw(session, strayLines(session, request));
    else if (answer.fault == Answer::Huge)
        writeRaw(session, hugeLine(session, request));
    else if (answer.fault == Answer::Flood)
        flood(session);
}

// Replies as the answer says, spoiled by its fault.
void replyWithFault(VexPipeSession* session, VexPipePacket* request, const Answer& answer)
{
    switch (answer.fault) {
    case Answer::Cut: {
        const std::string line = replyLine(session, *request, answer);
        writeRaw(session, line.substr(0, line.size() / 2));
        g_exitRequested = true;
        return;
    }
    case Answer::CutEscape: {
        const std::string line = replyLine(session, *request, answer, "cut short");
        const std::size_t escape = line.find('!');
        writeRaw(session, line.substr(0, escape != std::string::npos ? escape + 2 : line.size() / 2));
        g_exitRequested = true;
        return;
    }
    default:
        break;
    }
    writeFaultLines(session, *request, answer);
    reply(session, request, answer);
    if (answer.fault == Answer::ExitAfter || answer.fault == Answer::SlowExit)
        requestExit(answer.fault);
    else if (answer.fault == Answer::CutClose)
        session->connectionSession()->setMethodOverride(&answerCloseHalfway);
}

}  // namespace

DialogFacility::DialogFacility(const char* name, const CompanionScript& script) : m_name(name)
{
    g_script = &script;
    for (const char* method : {"ErrorDialog", "MessageBox", "PrivacyPolicyDialog",
                               "PleaseWaitDialog"})
        addMethod(method, &DialogFacility::handle);
}

DialogFacility::~DialogFacility() = default;

TStr DialogFacility::name() const
{
    return m_name;
}

long DialogFacility::dispatch(VexPipeSession* session, VexPipePacket* request)
{
    if (g_script != nullptr)
        g_script->record(request->marshal(false).utf8());
    return VexPipeFacility::dispatch(session, request);
}

long DialogFacility::unknownMethod(VexPipeSession* session, VexPipePacket* request,
                                   VexPipePacket* reply)
{
    if (request->waitMode() == VexPipePacket::kNoWait || reply == nullptr)
        return kFailed;
    reply->setInt("RSCD", kFailed);
    sendReply(session, request, reply);
    return kHandled;
}

long DialogFacility::handle(VexPipeSession* session, VexPipePacket* request, VexPipePacket*)
{
    Answer answer = g_script->answerFor(request->facility().utf8(), request->method().utf8());
    // Nobody waits for an answer to a request sent without waiting (the please-wait
    // indication): it is shown or hidden, and that is all.
    if (answer.kind == Answer::Exit) {
        g_exitRequested = true;
        return kHandled;
    }
    if (request->waitMode() == VexPipePacket::kNoWait) {
        if (answer.kind == Answer::Person) {
            if (request->method() == "PleaseWaitDialog")
                kyro::companion::updateWaitWindow(session, *request);
            return kHandled;
        }
        // No reply to spoil: a fault only writes its lines or ends the companion.
        if (answer.fault == Answer::ExitAfter || answer.fault == Answer::SlowExit ||
            answer.fault == Answer::Cut || answer.fault == Answer::CutEscape)
            requestExit(answer.fault);
        else if (answer.fault == Answer::CutClose)
            session->connectionSession()->setMethodOverride(&answerCloseHalfway);
        else
            writeFaultLines(session, *request, answer);
        return kHandled;
    }
    if (answer.kind == Answer::None)
        return kHandled;

    KeptAnswer kept{session, *request, answer,
                    SteadyClock::now() + std::chrono::milliseconds(answer.delayMs)};
    if (answer.kind == Answer::Person) {
        kept.person = PersonDialog::start(*request);
        if (kept.person == nullptr)
            kept.answer = kyro::companion::defaultAnswer(*request);
    } else if (answer.kind == Answer::Default) {
        kept.answer = kyro::companion::defaultAnswer(*request);
        kept.answer.fault = answer.fault;
    }
    session->addRef();
    keptAnswers().push_back(std::move(kept));
    answerDue();
    return kHandled;
}

bool DialogFacility::answerDue()
{
    const SteadyClock::time_point now = SteadyClock::now();
    std::list<KeptAnswer>& kept = keptAnswers();
    for (auto it = kept.begin(); it != kept.end();) {
        if (it->person != nullptr) {
            if (!it->person->done()) {
                ++it;
                continue;
            }
            it->answer = it->person->answer();
            delete it->person;
            it->person = nullptr;
        } else if (it->due > now) {
            ++it;
            continue;
        }
        // A session whose client has gone meanwhile has no conduit to answer on.
        if (it->session->conduit() != nullptr && it->session->state() == VexPipeSession::kOpen)
            replyWithFault(it->session, &it->request, it->answer);
        it->session->release();
        it = kept.erase(it);
    }
    return g_exitRequested;
}

int DialogFacility::presenceLingerMs()
{
    return g_presenceLingerMs;
}

bool DialogFacility::hasKeptAnswers()
{
    return !keptAnswers().empty();
}
