// The real companion: its facilities, scripted and recorded answers, answers that wait while
// others are served, its death and its end. Its script comes from this process's environment.
#include "kyro/pipe/VexPipeConduit.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"
#include "kyro/pipe/VexPipeSession.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

TempFolder* g_folder = nullptr;

struct CompanionEnvironment : testing::Environment {
    void SetUp() override
    {
        g_folder = new TempFolder;
        kyro::platform::setEnvironmentVariable("KYRO_VEX_ANSWERS", "MessageBox=1;kyro.PrivacyPolicyDialog=3@150;"
                                                                   "kyro.ErrorDialog=reply;vex.ErrorDialog=exit");
        kyro::platform::setEnvironmentVariable("KYRO_VEX_REQUEST_LOG", (*g_folder / "requests.log").utf8());
    }
    void TearDown() override { delete g_folder; }
};

testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new CompanionEnvironment);

struct ConduitDeleter {
    void operator()(VexPipeNamedConduit* conduit) const
    {
        conduit->close(true, true, true);
        delete conduit;
    }
};
using Conduit = std::unique_ptr<VexPipeNamedConduit, ConduitDeleter>;

// Right after other clients have gone the listening instance can be taken for an instant.
Conduit connect()
{
    for (int attempt = 0;; ++attempt) {
        Conduit conduit(VexPipeNamedConduit::connectToServer(thisTestProgram().directory() / "Vex.exe",
                                                             VexPipeNamedConduit::makePipePrefix("Vex.exe"),
                                                             VexPipeNamedConduit::kDefaultTimeout));
        if (conduit || attempt == 2)
            return conduit;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

int selected(VexPipeNamedConduit* conduit, const char* name, int session = 0)
{
    VexPipePacket request(name, VexPipePacket::kWait), reply;
    if (session != 0)
        request.setSessionNumber(session);
    return conduit->call(&request, &reply, 0) == 0 ? reply.getInt("selected_button") : -1;
}

}  // namespace

TEST(Companion, ListsItsFacilitiesAndItsProcessId)
{
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    VexPipePacket request("system.listFacilities", VexPipePacket::kWait), reply;
    ASSERT_EQ(conduit->call(&request, &reply, 0), 0);
    EXPECT_EQ(std::string(reply.payload().marshal().utf8()), "FLST=j!232!3akyro!2cvex,RCOD=hlistFacilities,RSCD=d0,CPID=d" +
                                             std::to_string(reply.getInt("CPID")));
    EXPECT_NE(reply.getInt("CPID"), static_cast<int>(kyro::platform::currentProcessId()));
}

TEST(Companion, DialogRequestsAreAnsweredAndRecorded)
{
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    VexPipePacket box("vex.MessageBox", VexPipePacket::kWait), reply;
    box.setString("title", "Wählen Sie; = [x]");
    box.setInt("focus_button_index", 1);
    ASSERT_EQ(conduit->call(&box, &reply, 0), 0);
    EXPECT_EQ(reply.fullName(), "vex.RESP");
    EXPECT_EQ(reply.getString("RCOD"), "MessageBox");
    EXPECT_EQ(reply.getInt("RSCD"), 0);
    EXPECT_EQ(reply.getInt("selected_button"), 1);
    // "reply": answered without a button; unknown: a failure reply, not silence.
    const struct {
        const char* request;
        const char* rcod;
        int rscd;
    } rows[] = {{"kyro.ErrorDialog", "ErrorDialog", 0}, {"kyro.NoSuchDialog", "NoSuchDialog", 1},
                {"vex.NoSuchDialog", "NoSuchDialog", 1}};
    for (const auto& row : rows) {
        VexPipePacket request(row.request, VexPipePacket::kWait), answer;
        ASSERT_EQ(conduit->call(&request, &answer, 0), 0) << row.request;
        EXPECT_EQ(answer.getString("RCOD"), row.rcod);
        EXPECT_EQ(answer.getInt("RSCD"), row.rscd);
        EXPECT_FALSE(answer.contains("selected_button"));
    }
    VexPipePacket wait("kyro.PleaseWaitDialog", VexPipePacket::kNoWait);   // shown, not answered
    wait.setString("waiting", "True");
    EXPECT_EQ(conduit->post(&wait, 0), 0);
    conduit.reset();

    // The companion kept every request with all its values.
    Lines recorded;
    for (int attempt = 0; attempt < 200 && (recorded.empty() || recorded.back().find("PleaseWait") == std::string::npos);
         ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        recorded = looseFileLines(*g_folder / "requests.log");
    }
    ASSERT_GE(recorded.size(), 5u);
    VexPipePacket seen;
    seen.unmarshal(recorded[recorded.size() - 5].c_str());
    EXPECT_EQ(seen.fullName(), "vex.MessageBox");
    EXPECT_EQ(seen.getString("title"), "Wählen Sie; = [x]");
    EXPECT_EQ(seen.getInt("focus_button_index"), 1);
    EXPECT_EQ(seen.getInt("CPID"), static_cast<int>(kyro::platform::currentProcessId()));
    seen.unmarshal(recorded.back().c_str());
    EXPECT_EQ(seen.fullName(), "kyro.PleaseWaitDialog");
    EXPECT_EQ(seen.getString("waiting"), "True");
}

// While the privacy policy's answer (150 ms late) is awaited, the idle callback asks for a
// message box in another session; both are answered, each in its own session.
TEST(Companion, AnswersInOtherSessionsWhileOneWaits)
{
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    VexPipeSession* outer = conduit->newSession();
    VexPipeSession* inner = conduit->newSession();
    outer->shareConnection(0);
    inner->shareConnection(0);
    struct Nested {
        VexPipeNamedConduit* conduit;
        VexPipeSession* session;
        int answer;
        static void send(void* context, std::uint32_t)
        {
            auto* nested = static_cast<Nested*>(context);
            if (nested->answer == -2) {
                nested->answer = -1;   // once: the nested wait calls back here too
                nested->answer = selected(nested->conduit, "vex.MessageBox", static_cast<int>(nested->session->number()));
            }
        }
    } nested{conduit.get(), inner, -2};
    conduit->setIdleCallback(&Nested::send, &nested);
    VexPipePacket privacy("kyro.PrivacyPolicyDialog", VexPipePacket::kWait), consent;
    privacy.setSessionNumber(static_cast<int>(outer->number()));
    ASSERT_EQ(conduit->call(&privacy, &consent, 0), 0);
    conduit->setIdleCallback(nullptr, nullptr);
    EXPECT_EQ(consent.getInt("selected_button"), 3);
    EXPECT_EQ(static_cast<std::uint32_t>(consent.sessionNumber()), outer->number());
    EXPECT_EQ(nested.answer, 1);
    EXPECT_NE(outer->peerNumber(), inner->peerNumber());
    for (VexPipeSession* session : {inner, outer}) {
        session->terminate(true);
        session->release();
    }
    EXPECT_EQ(selected(conduit.get(), "vex.MessageBox"), 1);   // the connection stays
}

TEST(Companion, DiesOnItsScriptAndEndsAfterItsLastClient)
{
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    VexPipePacket fatal("vex.ErrorDialog", VexPipePacket::kWait), reply;   // "exit"
    EXPECT_EQ(conduit->call(&fatal, &reply, 0), 1);
    conduit.reset();

    // The next connection starts a new companion, which ends a few seconds after its last client.
    conduit = connect();
    ASSERT_TRUE(conduit);
    const std::uint32_t started = conduit->companionProcessId();
    EXPECT_NE(started, 0u);
    EXPECT_EQ(selected(conduit.get(), "vex.MessageBox"), 1);
    conduit.reset();
    for (int i = 0; i < 200 && VexPipeNamedConduit::isServerRunning(VexPipeNamedConduit::makePipePrefix("Vex.exe")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(VexPipeNamedConduit::isServerRunning(VexPipeNamedConduit::makePipePrefix("Vex.exe")));
    // A sanitizer's exit checks may delay the end past the prefix's release.
    for (int i = 0; i < 200 && kyro::platform::processIsAlive(started); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(kyro::platform::processIsAlive(started));
}
