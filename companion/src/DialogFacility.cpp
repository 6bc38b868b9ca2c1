#include "DialogFacility.h"

#include "kyro/pipe/VexPipeSession.h"
#include "kyro/platform/clock.h"
#include "kyro/platform/threads.h"
#include "kyro/platform/user_interface.h"

#include <atomic>
#include <chrono>
#include <list>
#include <string>

namespace {

using kyro::companion::Answer;
using kyro::companion::CompanionScript;
using SteadyClock = std::chrono::steady_clock;

const CompanionScript* g_script = nullptr;
bool g_exitRequested = false;

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
    if (request->waitMode() == VexPipePacket::kNoWait || answer.kind == Answer::None)
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
            reply(it->session, &it->request, it->answer);
        it->session->release();
        it = kept.erase(it);
    }
    return g_exitRequested;
}

bool DialogFacility::hasKeptAnswers()
{
    return !keptAnswers().empty();
}
