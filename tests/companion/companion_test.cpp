// The real companion, started by the library's connection routine: its own replies, the
// requests it records, several clients at once, its death, and its end after the last
// client. The framework's side of all this is tested over plain pipes in tests/pipe.
//
// Every test here is the host of one companion (prefix "Vex.exe<this process id>"), which
// inherits its script from this process's environment.
#include "kyro/pipe/VexPipeConduit.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "ReportCapture.h"
#include "TempFolder.h"
#include "kyro/pipe/VexPipeSession.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

TempFolder* g_folder = nullptr;

TPath requestLog()
{
    return *g_folder / "requests.log";
}

class CompanionEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        g_folder = new TempFolder;
        kyro::platform::setEnvironmentVariable("KYRO_VEX_ANSWERS",
                                               "MessageBox=1;kyro.PrivacyPolicyDialog=3@150;"
                                               "vex.PrivacyPolicyDialog=2;kyro.ErrorDialog=reply;"
                                               "vex.ErrorDialog=exit");
        kyro::platform::setEnvironmentVariable("KYRO_VEX_REQUEST_LOG", requestLog().utf8());
    }
    void TearDown() override { delete g_folder; }
};

testing::Environment* const g_environment =
    testing::AddGlobalTestEnvironment(new CompanionEnvironment);

TStr companionPath()
{
    return thisTestProgram().directory() / "Vex.exe";
}

TStr prefix()
{
    return VexPipeNamedConduit::makePipePrefix("Vex.exe");
}

struct ConduitDeleter {
    void operator()(VexPipeNamedConduit* conduit) const
    {
        conduit->close(true, true, true);
        delete conduit;
    }
};
using Conduit = std::unique_ptr<VexPipeNamedConduit, ConduitDeleter>;

Conduit connect()
{
    // Right after other clients have gone the companion's listening instance can be taken
    // for an instant ("Could not create client pipe"); a second attempt then succeeds.
    for (int attempt = 0;; ++attempt) {
        Conduit conduit(VexPipeNamedConduit::connectToServer(companionPath(), prefix(),
                                                             VexPipeNamedConduit::kDefaultTimeout));
        if (conduit || attempt == 2)
            return conduit;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// The lines that arrived, as the framework traced them before reading them.
Lines arrivals(const ReportCapture& capture)
{
    Lines lines;
    const std::string marker = "Packet Unmarshalling:";
    for (const std::string& line : capture.lines()) {
        if (line.compare(0, marker.size(), marker) == 0)
            lines.push_back(line.substr(marker.size()));
    }
    return lines;
}

int selected(VexPipeNamedConduit* conduit, const char* name, int session = 0)
{
    VexPipePacket request(name, VexPipePacket::kWait), reply;
    if (session != 0)
        request.setSessionNumber(session);
    return conduit->call(&request, &reply, 0) == 0 ? reply.getInt("selected_button") : -1;
}

}  // namespace

// The system facility's answers are the framework's (tests/pipe); the companion's own are
// its facilities, and its process id as "CPID", as in every packet a named conduit sends.
TEST(Companion, ListsItsFacilities)
{
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    ReportCapture capture(ReportCapture::kTrace);
    VexPipePacket request("system.listFacilities", VexPipePacket::kWait), reply;
    ASSERT_EQ(conduit->call(&request, &reply, 0), 0);
    EXPECT_EQ(arrivals(capture),
              Lines{"65536;system.RESP;" + std::to_string(conduit->defaultSession()->number()) +
                    ";" + std::to_string(conduit->defaultSession()->peerNumber()) +
                    ";0;1;FLST=j!232!3akyro!2cvex;RCOD=hlistFacilities;RSCD=d0;CPID=d" +
                    std::to_string(reply.getInt("CPID"))});
    EXPECT_NE(reply.getInt("CPID"), static_cast<int>(kyro::platform::currentProcessId()));
}

TEST(Companion, DialogRequestsAreAnsweredAndRecorded)
{
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    VexPipePacket box("vex.MessageBox", VexPipePacket::kWait), reply;
    box.setString("title", "Wählen Sie; = [x]");
    box.setString("button_1", "Nein");
    box.setInt("focus_button_index", 1);
    ASSERT_EQ(conduit->call(&box, &reply, 0), 0);
    EXPECT_EQ(reply.fullName(), "vex.RESP");
    EXPECT_EQ(reply.getString("RCOD"), "MessageBox");
    EXPECT_EQ(reply.getInt("RSCD"), 0);
    EXPECT_EQ(reply.getInt("selected_button"), 1);
    EXPECT_EQ(selected(conduit.get(), "kyro.PrivacyPolicyDialog"), 3);   // after its delay

    // "reply": answered without a button; unknown: a failure reply, not silence (a caller
    // would wait for ever).
    const struct {
        const char* request;
        const char* rcod;
        int rscd;
    } rows[] = {{"kyro.ErrorDialog", "ErrorDialog", 0},
                {"kyro.NoSuchDialog", "NoSuchDialog", 1},
                {"vex.NoSuchDialog", "NoSuchDialog", 1}};
    for (const auto& row : rows) {
        VexPipePacket request(row.request, VexPipePacket::kWait), answer;
        ASSERT_EQ(conduit->call(&request, &answer, 0), 0) << row.request;
        EXPECT_EQ(answer.getString("RCOD"), row.rcod);
        EXPECT_EQ(answer.getInt("RSCD"), row.rscd);
        EXPECT_FALSE(answer.contains("selected_button"));
    }
    // Sent without waiting: shown, and not answered.
    VexPipePacket wait("kyro.PleaseWaitDialog", VexPipePacket::kNoWait);
    wait.setString("waiting", "True");
    EXPECT_EQ(conduit->post(&wait, 0), 0);
    conduit.reset();

    // The companion kept every request with all its values.
    Lines recorded;
    for (int attempt = 0; attempt < 200 && (recorded.empty() ||
                                            recorded.back().find("PleaseWait") == std::string::npos);
         ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        recorded.clear();
        const std::string text = readFileBytes(requestLog());
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            if (text.find("Dialog", at) < end || text.find("MessageBox", at) < end)
                recorded.push_back(text.substr(at, end - at));
        }
    }
    ASSERT_GE(recorded.size(), 6u);
    VexPipePacket seen;
    seen.unmarshal(recorded[recorded.size() - 6].c_str());
    EXPECT_EQ(seen.fullName(), "vex.MessageBox");
    EXPECT_EQ(seen.getString("title"), "Wählen Sie; = [x]");
    EXPECT_EQ(seen.getString("button_1"), "Nein");
    EXPECT_EQ(seen.getInt("focus_button_index"), 1);
    EXPECT_EQ(seen.getInt("CPID"), static_cast<int>(kyro::platform::currentProcessId()));
    seen.unmarshal(recorded.back().c_str());
    EXPECT_EQ(seen.fullName(), "kyro.PleaseWaitDialog");
    EXPECT_EQ(seen.getString("waiting"), "True");
}

// The idle callback sends a request in a session of its own while another session waits
// for its (later) answer.
TEST(Companion, RequestsInSessionsOfTheirOwnShareTheConnection)
{
    ReportCapture capture(ReportCapture::kTrace);
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
            if (nested->answer != -2)
                return;
            nested->answer = -1;   // once: the nested wait calls back here too
            nested->answer = selected(nested->conduit, "vex.MessageBox",
                                      static_cast<int>(nested->session->number()));
        }
    } nested{conduit.get(), inner, -2};
    conduit->setIdleCallback(&Nested::send, &nested);
    // The privacy policy is answered after 150 ms, the message box at once.
    VexPipePacket privacy("kyro.PrivacyPolicyDialog", VexPipePacket::kWait), consent;
    privacy.setSessionNumber(static_cast<int>(outer->number()));
    ASSERT_EQ(conduit->call(&privacy, &consent, 0), 0);
    conduit->setIdleCallback(nullptr, nullptr);
    EXPECT_EQ(consent.getInt("selected_button"), 3);
    EXPECT_EQ(static_cast<std::uint32_t>(consent.sessionNumber()), outer->number());
    EXPECT_EQ(nested.answer, 1);
    EXPECT_NE(outer->peerNumber(), 0u);
    EXPECT_NE(outer->peerNumber(), inner->peerNumber());
    EXPECT_NE(outer->peerNumber(), conduit->defaultSession()->peerNumber());

    // Each session ends with an answered "system.ssnTerm"; the connection stays.
    for (VexPipeSession* session : {inner, outer}) {
        const std::string head = "65536;system.RESP;" + std::to_string(session->number()) + ";" +
                                 std::to_string(session->peerNumber()) + ";0;1;RCOD=hssnTerm;";
        session->terminate(true);
        EXPECT_EQ(arrivals(capture).back().rfind(head, 0), 0u) << arrivals(capture).back();
        session->release();
    }
    EXPECT_EQ(selected(conduit.get(), "vex.MessageBox"), 1);
    const std::string goodbye = "65536;system.RESP;" + std::to_string(conduit->defaultSession()->number()) +
                                ";" + std::to_string(conduit->defaultSession()->peerNumber()) +
                                ";0;1;RCOD=hcndTerm;";
    conduit.reset();
    EXPECT_EQ(arrivals(capture).back().rfind(goodbye, 0), 0u) << arrivals(capture).back();
}

// Another client: a process of its own (its own id and inbound pipe) that asks three
// times for the privacy policy.
KYRO_CHILD_ROLE(client)
{
    Conduit conduit(VexPipeNamedConduit::connectToServer(companionPath(), argument.c_str(),
                                                         VexPipeNamedConduit::kDefaultTimeout));
    for (int round = 0; conduit && round < 3; ++round)
        std::printf("%d ", selected(conduit.get(), "kyro.PrivacyPolicyDialog"));
    std::printf("\n");
    return 0;
}

TEST(Companion, ServesSeveralClientsAtOnce)
{
    ReportCapture capture(ReportCapture::kTrace);
    Conduit host = connect();
    ASSERT_TRUE(host);
    Conduit second = connect();   // of the same process, with the same "CPID"
    ASSERT_TRUE(second);
    EXPECT_EQ(second->companionProcessId(), 0u);   // found running: nothing started
    EXPECT_NE(host->defaultSession()->peerNumber(), second->defaultSession()->peerNumber());
    std::vector<std::string> outputs(3);
    std::vector<std::thread> clients;
    for (std::string& output : outputs) {
        clients.emplace_back([&output] {
            runRole(("client:" + std::string(prefix().utf8())).c_str(), &output);
        });
    }
    for (VexPipeNamedConduit* conduit : {host.get(), second.get(), host.get()})
        EXPECT_EQ(selected(conduit, "vex.MessageBox"), 1);
    for (std::thread& client : clients)
        client.join();
    for (const std::string& output : outputs)
        EXPECT_EQ(output, "3 3 3 \n");
    // Each close was answered on its own connection.
    const std::string sessions[] = {std::to_string(host->defaultSession()->number()),
                                    std::to_string(second->defaultSession()->number())};
    second.reset();
    host.reset();
    int goodbyes = 0;
    for (const std::string& line : arrivals(capture)) {
        for (const std::string& session : sessions)
            goodbyes += line.rfind("65536;system.RESP;" + session + ";", 0) == 0 &&
                        line.find("RCOD=hcndTerm;") != std::string::npos;
    }
    EXPECT_EQ(goodbyes, 2);
}

TEST(Companion, DiesOnItsScriptAndEndsAfterItsLastClient)
{
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    VexPipePacket fatal("vex.ErrorDialog", VexPipePacket::kWait), reply;   // "exit"
    EXPECT_EQ(conduit->call(&fatal, &reply, 0), 1);
    conduit.reset();

    // The next connection starts a new companion; a few seconds after its last client it
    // lets go of its prefix and ends.
    conduit = connect();
    ASSERT_TRUE(conduit);
    const std::uint32_t started = conduit->companionProcessId();
    EXPECT_NE(started, 0u);
    EXPECT_EQ(selected(conduit.get(), "vex.MessageBox"), 1);
    conduit.reset();
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ended = !VexPipeNamedConduit::isServerRunning(prefix());
    }
    EXPECT_TRUE(ended);
    // Letting go of the prefix comes just before the end, which a sanitizer's exit checks delay.
    for (int i = 0; i < 200 && kyro::platform::processIsAlive(started); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(kyro::platform::processIsAlive(started));
}
