#include "PersonWindows.h"

#include "CompanionTexts.h"

#include "kyro/diagnostics/KyroDebugLog.h"
#include "kyro/diagnostics/KyroLogger.h"
#include "kyro/platform/dialog_windows.h"
#include "kyro/platform/threads.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>

namespace kyro::companion {

namespace platform = kyro::platform;

namespace {

std::string text(const VexPipePacket& request, const char* key)
{
    const TStr value = request.getString(key);
    return value.isNull() ? std::string() : std::string(value.utf8());
}

// Said once per companion: a person asked for a window, and there is no display to show it.
void reportNoDisplay()
{
    static std::once_flag reported;
    std::call_once(reported, [] {
        try {
            KyroDebugLogger logger;
            logger.startLogging();
            KyroDebugLog record(Kyro::kVendorVex,
                                "No window can be shown (no display): dialog requests get "
                                "their default answers");
            logger.log(&record);
        } catch (...) {
        }
    });
}

}  // namespace

Answer defaultAnswer(const VexPipePacket& request)
{
    Answer answer;
    const TStr method = request.method();
    if (method == "MessageBox") {
        answer.kind = Answer::Button;
        answer.button = request.getInt("focus_button_index");
    } else if (method == "PrivacyPolicyDialog") {
        answer.kind = Answer::Button;
        answer.button = kPolicyDeclined;
    } else {
        answer.kind = Answer::Reply;
    }
    return answer;
}

// ---- A window for one request --------------------------------------------------------------

struct PersonDialog::State {
    enum Kind { Error, Choice, Policy } kind = Error;
    platform::ErrorWindow error;
    platform::ChoiceWindow choice;
    platform::PolicyWindow policy;
    Answer fallback;
    std::atomic<bool> done{false};
    Answer answer;   // written by the thread before `done`
    platform::ThreadHandle thread = platform::kNoThread;
};

namespace {

void fillFromRequest(const VexPipePacket& request, PersonDialog::State* state)
{
    platform::ErrorWindow* const error = &state->error;
    platform::ChoiceWindow* const choice = &state->choice;
    platform::PolicyWindow* const policy = &state->policy;
    const TStr method = request.method();
    const TStr locale = request.getString("locale");
    if (method == "MessageBox") {
        state->kind = PersonDialog::State::Choice;
        choice->caption = text(request, "caption");
        choice->title = text(request, "title");
        choice->buttons[0] = text(request, "button_0");
        choice->buttons[1] = text(request, "button_1");
        choice->focusButton = request.getInt("focus_button_index");
        choice->icon = request.getInt("icon");
    } else if (method == "PrivacyPolicyDialog") {
        state->kind = PersonDialog::State::Policy;
        policy->caption = companionText(locale, "IDS_VEX_PRIVACY_CAPTION");
        policy->heading = companionText(locale, "IDS_VEX_PRIVACY_HEADING");
        policy->text = companionText(locale, "IDS_VEX_PRIVACY_TEXT");
        policy->agreeButton = companionText(locale, "IDS_VEX_PRIVACY_AGREE");
        policy->declineButton = companionText(locale, "IDS_VEX_PRIVACY_DECLINE");
        policy->brandingImagePath = text(request, "product_branding_image_pathname");
        policy->heroImagePath = text(request, "hero_image_pathname");
    } else {
        state->kind = PersonDialog::State::Error;
        error->okButton = companionText(locale, "IDS_VEX_OK");
        error->detailsLabel = companionText(locale, "IDS_VEX_DETAILS");
        if (text(request, "selector") == "InsufficientMemory") {
            error->caption = companionText(locale, "IDS_VEX_MEMORY_CAPTION");
            error->title = companionText(locale, "IDS_VEX_MEMORY_TITLE");
            error->text = companionText(locale, "IDS_VEX_MEMORY_TEXT");
            error->icon = platform::kIconError;
        } else {
            error->caption = text(request, "caption");
            error->title = text(request, "title");
            error->icon = request.getInt("icon");
            if (text(request, "enable_description") == "True")
                error->detail = text(request, "detail");
        }
    }
}

void runWindow(void* argument)
{
    auto* state = static_cast<PersonDialog::State*>(argument);
    Answer answer = state->fallback;
    if (!platform::dialogWindowsAvailable()) {
        reportNoDisplay();
    } else if (state->kind == PersonDialog::State::Choice) {
        const int chosen = platform::showChoiceWindow(state->choice);
        if (chosen != platform::kNoWindow) {
            answer.kind = Answer::Button;
            answer.button = chosen == 0 || chosen == 1 ? chosen : kMessageBoxClosed;
        }
    } else if (state->kind == PersonDialog::State::Policy) {
        const int chosen = platform::showPolicyWindow(state->policy);
        if (chosen != platform::kNoWindow) {
            answer.kind = Answer::Button;
            answer.button = chosen == 1 ? kPolicyConsent : kPolicyDeclined;
        }
    } else {
        platform::showErrorWindow(state->error);
    }
    state->answer = answer;
    state->done = true;
}

}  // namespace

PersonDialog::PersonDialog(State* state) : m_state(state) {}

PersonDialog* PersonDialog::start(const VexPipePacket& request)
{
    auto* state = new State;
    fillFromRequest(request, state);
    state->fallback = defaultAnswer(request);
    state->thread = platform::startThread(runWindow, state);
    if (state->thread == platform::kNoThread) {
        delete state;
        return nullptr;
    }
    return new PersonDialog(state);
}

PersonDialog::~PersonDialog()
{
    platform::waitForThread(m_state->thread, platform::kWaitForever);
    platform::releaseThread(m_state->thread);
    delete m_state;
}

bool PersonDialog::done() const
{
    return m_state->done.load();
}

Answer PersonDialog::answer() const
{
    return m_state->answer;
}

// ---- Please-wait windows -------------------------------------------------------------------

namespace {

// By session; each entry holds a reference to its session.
std::map<VexPipeSession*, platform::WaitWindowId>& waitWindows()
{
    static auto* const windows = new std::map<VexPipeSession*, platform::WaitWindowId>;
    return *windows;
}

void closeWaitWindowOf(std::map<VexPipeSession*, platform::WaitWindowId>::iterator it)
{
    platform::closeWaitWindow(it->second);
    it->first->release();
    waitWindows().erase(it);
}

}  // namespace

void updateWaitWindow(VexPipeSession* session, const VexPipePacket& request)
{
    auto& windows = waitWindows();
    const auto found = windows.find(session);
    if (text(request, "waiting") != "True") {
        if (found != windows.end())
            closeWaitWindowOf(found);
        return;
    }
    if (found != windows.end())
        return;
    if (!platform::dialogWindowsAvailable()) {
        reportNoDisplay();
        return;
    }
    const TStr locale = request.getString("locale");
    platform::WaitWindow window;
    window.caption = companionText(locale, "IDS_VEX_WAIT_CAPTION");
    window.text = companionText(locale, "IDS_VEX_WAIT_TEXT");
    const platform::WaitWindowId id = platform::showWaitWindow(window);
    if (id == nullptr)
        return;
    session->addRef();
    windows[session] = id;
}

void closeOrphanedWaitWindows()
{
    auto& windows = waitWindows();
    for (auto it = windows.begin(); it != windows.end();) {
        const auto next = std::next(it);
        if (it->first->conduit() == nullptr || it->first->state() != VexPipeSession::kOpen)
            closeWaitWindowOf(it);
        it = next;
    }
}

void closeAllWaitWindows()
{
    auto& windows = waitWindows();
    while (!windows.empty())
        closeWaitWindowOf(windows.begin());
}

bool hasWaitWindows()
{
    return !waitWindows().empty();
}

}  // namespace kyro::companion
