#include "DialogFacility.h"

#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/pipe/VexPipeSession.h"
#include "kyro/platform/clock.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/threads.h"
#include "kyro/platform/user_interface.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <string>

namespace {

using kyro::companion::Answer;
using kyro::companion::CompanionScript;
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

// A person deciding in a dialog, on a thread of its own.
struct PersonDialog {
    std::string caption, text, buttons[2];
    int focus = 0;
    int icon = 0;
    std::atomic<int> chosen{-2};  // -2 while the dialog is up
};

void runPersonDialog(void* argument)
{
    auto* dialog = static_cast<PersonDialog*>(argument);
    kyro::platform::MessageDialog shown;
    shown.caption = dialog->caption.c_str();
    shown.text = dialog->text.c_str();
    shown.buttons[0] = dialog->buttons[0].c_str();
    shown.buttons[1] = dialog->buttons[1].c_str();
    shown.focusButton = dialog->focus;
    shown.icon = dialog->icon;
    dialog->chosen = kyro::platform::showMessageDialog(shown);
}

// A request answered later, with the session it arrived in.
struct KeptAnswer {
    VexPipeSession* session;
    VexPipePacket request;
    Answer answer;
    SteadyClock::time_point due;
    PersonDialog* person = nullptr;
    kyro::platform::ThreadHandle thread = kyro::platform::kNoThread;
};

std::list<KeptAnswer>& keptAnswers()
{
    static std::list<KeptAnswer> answers;
    return answers;
}

std::string text(const VexPipePacket& request, const char* key)
{
    const TStr value = request.getString(key);
    return value.isNull() ? std::string() : std::string(value.utf8());
}

// What nobody in front of the companion would answer: a message box its focused button,
// the privacy policy no consent, everything else a plain reply.
Answer defaultAnswer(const VexPipePacket& request)
{
    Answer answer;
    const TStr method = request.method();
    if (method == "MessageBox") {
        answer.kind = Answer::Button;
        answer.button = request.getInt("focus_button_index");
    } else if (method == "PrivacyPolicyDialog") {
        answer.kind = Answer::Button;
        answer.button = 2;
    } else {
        answer.kind = Answer::Reply;
    }
    return answer;
}

// A dialog for a person, where the system can show one; null otherwise.
PersonDialog* startPersonDialog(const VexPipePacket& request)
{
    auto* dialog = new PersonDialog;
    const TStr method = request.method();
    dialog->caption = text(request, "caption");
    dialog->text = text(request, "title");
    dialog->icon = request.getInt("icon");
    if (method == "MessageBox") {
        dialog->buttons[0] = text(request, "button_0");
        dialog->buttons[1] = text(request, "button_1");
        dialog->focus = request.getInt("focus_button_index");
    } else if (method == "PrivacyPolicyDialog") {
        dialog->caption = "Privacy policy";
        dialog->text = "Do you agree to the privacy policy?";
        dialog->buttons[0] = "I agree";
        dialog->buttons[1] = "I do not agree";
    } else if (text(request, "enable_description") == "True") {
        dialog->text += "\n\n" + text(request, "detail");
    }
    return dialog;
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

// Writes bytes to the session's client as they are, outside the packet format.
void writeRaw(VexPipeSession* session, const std::string& bytes)
{
    VexPipeConduit* const conduit = session->conduit();
    if (conduit == nullptr || bytes.empty())
        return;
    const VexPipeWriteEndpoint writer = conduit->writerEndpoint(session->writerIndex());
    if (writer.device() != nullptr)
        writer.device()->write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
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
    return VexPipeFacility::kHandled;
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
        kept.person = startPersonDialog(*request);
        kept.thread = kyro::platform::startThread(runPersonDialog, kept.person);
        if (kept.thread == kyro::platform::kNoThread) {
            delete kept.person;
            kept.person = nullptr;
            kept.answer = defaultAnswer(*request);
        }
    } else if (answer.kind == Answer::Default) {
        kept.answer = defaultAnswer(*request);
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
            const int chosen = it->person->chosen.load();
            if (chosen == -2) {
                ++it;
                continue;
            }
            kyro::platform::waitForThread(it->thread, kyro::platform::kWaitForever);
            kyro::platform::releaseThread(it->thread);
            // No dialog could be shown (no window system): answer as if nobody were there.
            if (chosen < 0) {
                it->answer = defaultAnswer(it->request);
            } else {
                it->answer.kind = Answer::Button;
                it->answer.button = chosen;
            }
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
