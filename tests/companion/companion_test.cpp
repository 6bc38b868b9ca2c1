// The real companion, started by the library's connection routine: one start per host, the
// handshake, the system methods and dialog requests as they travel on the wire, sessions
// and connections ended in order, several clients at once, and a companion that dies.
//
// Every test here is the host of one companion (prefix "Vex.exe<this process id>"). The
// companion inherits its script from this process's environment, set up before the first
// start (see CompanionEnvironment).
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

const char* const kScript =
    "MessageBox=1;"
    "kyro.PrivacyPolicyDialog=3@150;"
    "vex.PrivacyPolicyDialog=2;"
    "kyro.ErrorDialog=reply;"
    "vex.ErrorDialog=exit";

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
        kyro::platform::setEnvironmentVariable("KYRO_VEX_ANSWERS", kScript);
        kyro::platform::setEnvironmentVariable("KYRO_VEX_REQUEST_LOG", requestLog().utf8());
    }
    void TearDown() override
    {
        delete g_folder;
        g_folder = nullptr;
    }
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
    // The companion keeps one listening instance of inbound0. Right after other clients
    // have come and gone (the tests before), a connection can find it taken for an instant
    // and fail ("Could not create client pipe"); a host's next request then succeeds, and
    // so does a second attempt here.
    for (int attempt = 0;; ++attempt) {
        Conduit conduit(VexPipeNamedConduit::connectToServer(
            companionPath(), prefix(), VexPipeNamedConduit::kDefaultTimeout));
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

std::string number(long value)
{
    return std::to_string(value);
}

}  // namespace

TEST(Companion, StartedOnceAndFoundRunningByTheNextConnection)
{
    const bool runningBefore = VexPipeNamedConduit::isServerRunning(prefix());
    Conduit first = connect();
    ASSERT_TRUE(first);
    if (!runningBefore) {
        EXPECT_NE(first->companionProcessId(), 0u);
    }
    EXPECT_TRUE(VexPipeNamedConduit::isServerRunning(prefix()));

    Conduit second = connect();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->companionProcessId(), 0u);  // found running: nothing started

    // The handshake gave each default session the companion's number for it.
    for (const Conduit* conduit : {&first, &second}) {
        VexPipeSession* session = (*conduit)->defaultSession();
        ASSERT_NE(session, nullptr);
        EXPECT_NE(session->peerNumber(), 0u);
        EXPECT_NE(session->peerNumber(), 1u);
    }
    EXPECT_NE(first->defaultSession()->peerNumber(), second->defaultSession()->peerNumber());
}

TEST(Companion, SystemMethodsOnTheWire)
{
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    VexPipeSession* session = conduit->defaultSession();
    const std::string mine = number(session->number());
    const std::string theirs = number(session->peerNumber());

    ReportCapture capture(ReportCapture::kTrace);
    VexPipePacket index("system.index", VexPipePacket::kWait), reply;
    ASSERT_EQ(conduit->call(&index, &reply, 0), 0);
    VexPipePacket information("system.methodInformation", VexPipePacket::kWait);
    information.setString("MTHN", "cndCnct");
    ASSERT_EQ(conduit->call(&information, &reply, 0), 0);
    VexPipePacket facilities("system.listFacilities", VexPipePacket::kWait);
    ASSERT_EQ(conduit->call(&facilities, &reply, 0), 0);
    VexPipePacket locales("system.listLocales", VexPipePacket::kWait);
    ASSERT_EQ(conduit->call(&locales, &reply, 0), 0);

    // Replies carry the companion's own process id as "CPID", as every packet a named
    // conduit sends does; the rest is the system facility's answer.
    const std::string cpid = "CPID=d" + number(reply.getInt("CPID"));
    const std::string head = "65536;system.RESP;" + mine + ";" + theirs + ";0;1;";
    EXPECT_EQ(arrivals(capture),
              (Lines{head + "RCOD=hindex;RSCD=d0;MLST=j!237!3acndCnct!2ccndTerm!2clistFacilities"
                            "!2clistLocales!2cRESP!2cerror!2cssnTerm;" + cpid,
                     head + "MTHI=i;RCOD=hmethodInformation;RSCD=d0;" + cpid,
                     head + "FLST=j!232!3akyro!2cvex;RCOD=hlistFacilities;RSCD=d0;" + cpid,
                     head + "RCOD=hlistLocales;RSCD=d0;LCLT=j!2316!3aen_US!2cru_RU!2ccs_CZ"
                            "!2cpl_PL!2ces_ES!2cde_DE!2cfr_FR!2cpt_PT!2chu_HU!2cko_KR!2czh_CN"
                            "!2czh_TW!2cit_IT!2cja_JP!2cpt_BR!2cen_CA;" + cpid}));
}

TEST(Companion, DialogRequestsAreAnsweredAndRecorded)
{
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);

    VexPipePacket box("vex.MessageBox", VexPipePacket::kWait), reply;
    box.setString("caption", "Caption");
    box.setString("title", "Wählen Sie; = [x]");
    box.setString("locale", "de_DE");
    box.setInt("icon", 3);
    box.setString("button_0", "Ja");
    box.setString("button_1", "Nein");
    box.setInt("focus_button_index", 1);
    ASSERT_EQ(conduit->call(&box, &reply, 0), 0);
    EXPECT_EQ(reply.fullName(), "vex.RESP");
    EXPECT_EQ(reply.getString("RCOD"), "MessageBox");
    EXPECT_EQ(reply.getInt("RSCD"), 0);
    EXPECT_EQ(reply.getInt("selected_button"), 1);

    VexPipePacket privacy("kyro.PrivacyPolicyDialog", VexPipePacket::kWait);
    privacy.setString("locale", "");
    VexPipePacket consent;
    ASSERT_EQ(conduit->call(&privacy, &consent, 0), 0);  // answered after its delay
    EXPECT_EQ(consent.getInt("selected_button"), 3);

    VexPipePacket error("kyro.ErrorDialog", VexPipePacket::kWait), errorReply;
    error.setString("selector", "ErrorDialogBase");
    error.setString("enable_description", "False");
    ASSERT_EQ(conduit->call(&error, &errorReply, 0), 0);
    EXPECT_EQ(errorReply.getString("RCOD"), "ErrorDialog");
    EXPECT_FALSE(errorReply.contains("selected_button"));

    // Sent without waiting: shown, and not answered.
    VexPipePacket wait("kyro.PleaseWaitDialog", VexPipePacket::kNoWait);
    wait.setString("waiting", "True");
    EXPECT_EQ(conduit->post(&wait, 0), 0);
    conduit.reset();

    // The companion kept every request with all its values.
    Lines recorded;
    for (int attempt = 0; attempt < 200 && recorded.size() < 4; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        recorded.clear();
        std::string text = readFileBytes(requestLog());
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            const std::string line = text.substr(at, end - at);
            if (line.find("MessageBox") != std::string::npos ||
                line.find("PleaseWaitDialog") != std::string::npos ||
                line.find("kyro.ErrorDialog") != std::string::npos ||
                line.find("kyro.PrivacyPolicyDialog") != std::string::npos)
                recorded.push_back(line);
        }
    }
    ASSERT_GE(recorded.size(), 4u);
    VexPipePacket seen;
    seen.unmarshal(recorded[recorded.size() - 4].c_str());
    EXPECT_EQ(seen.fullName(), "vex.MessageBox");
    EXPECT_EQ(seen.getString("title"), "Wählen Sie; = [x]");
    EXPECT_EQ(seen.getString("button_1"), "Nein");
    EXPECT_EQ(seen.getInt("focus_button_index"), 1);
    EXPECT_EQ(seen.getInt("CPID"), static_cast<int>(kyro::platform::currentProcessId()));
    VexPipePacket shown;
    shown.unmarshal(recorded.back().c_str());
    EXPECT_EQ(shown.fullName(), "kyro.PleaseWaitDialog");
    EXPECT_EQ(shown.getString("waiting"), "True");
}

TEST(Companion, AnUnknownRequestGetsAFailureReply)
{
    // Not silence: a caller waiting for a request the companion does not know would wait
    // for ever.
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    for (const char* name : {"kyro.NoSuchDialog", "vex.NoSuchDialog"}) {
        VexPipePacket request(name, VexPipePacket::kWait), reply;
        ASSERT_EQ(conduit->call(&request, &reply, 0), 0) << name;
        EXPECT_EQ(reply.getString("RCOD"), "NoSuchDialog");
        EXPECT_EQ(reply.getInt("RSCD"), 1);
    }
    // The connection goes on working.
    VexPipePacket box("vex.MessageBox", VexPipePacket::kWait), answer;
    box.setInt("focus_button_index", 1);
    ASSERT_EQ(conduit->call(&box, &answer, 0), 0);
    EXPECT_TRUE(answer.contains("selected_button"));
}

TEST(Companion, SessionsAndTheConnectionEndInOrder)
{
    ReportCapture capture(ReportCapture::kTrace);
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    VexPipePacket index("system.index", VexPipePacket::kWait), reply;
    ASSERT_EQ(conduit->call(&index, &reply, 0), 0);
    const std::string cpid = "CPID=d" + number(reply.getInt("CPID"));
    VexPipeSession* session = conduit->defaultSession();
    const std::string head = "65536;system.RESP;" + number(session->number()) + ";" +
                             number(session->peerNumber()) + ";0;1;";
    // "system.ssnTerm" is answered before the companion lets go of the session; the
    // client's session then takes the pipes with it.
    session->terminate(true);
    EXPECT_EQ(arrivals(capture).back(), head + "RCOD=hssnTerm;" + cpid);
    EXPECT_EQ(conduit->writerCount(), 0);

    // With its pipes gone the connection cannot say "system.cndTerm": the close ends at once
    // instead of waiting for an answer that cannot come.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(conduit->close(true, true, true), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    // An orderly close of a connection that still has its pipes: answered, then ended.
    Conduit other = connect();
    ASSERT_TRUE(other);
    const std::string otherHead = "65536;system.RESP;" + number(other->defaultSession()->number()) +
                                  ";" + number(other->defaultSession()->peerNumber()) + ";0;1;";
    other->close(true, true, true);
    EXPECT_EQ(arrivals(capture).back(), otherHead + "RCOD=hcndTerm;" + cpid);
}

TEST(Companion, TheInboundPipeCarriesTheOverriddenProcessId)
{
    ReportCapture capture(ReportCapture::kTrace);
    VexPipeNamedConduit::setClientProcessId(4242);
    Conduit conduit = connect();
    VexPipeNamedConduit::setClientProcessId(0);
    ASSERT_TRUE(conduit);
    const std::string real = std::to_string(kyro::platform::currentProcessId());
    bool named = false;
    for (const std::string& line : capture.lines())
        named |= line == "opening read pipe: \\\\.\\pipe\\Norveldt\\kyro\\Vex.exe" + real + "\\inbound4242";
    EXPECT_TRUE(named);
    VexPipePacket index("system.index", VexPipePacket::kWait), reply;
    EXPECT_EQ(conduit->call(&index, &reply, 0), 0);
}

// Two conduits of one process at once: the companion keeps a writer for each, though both
// hand over the same "CPID", so each gets its own replies and its own goodbye.
TEST(Companion, TwoConnectionsOfOneProcessEachKeepTheirReplies)
{
    ReportCapture capture(ReportCapture::kTrace);
    Conduit first = connect();
    ASSERT_TRUE(first);
    Conduit second = connect();
    ASSERT_TRUE(second);
    for (VexPipeNamedConduit* conduit : {first.get(), second.get(), first.get()}) {
        VexPipePacket box("vex.MessageBox", VexPipePacket::kWait), answer;
        ASSERT_EQ(conduit->call(&box, &answer, 0), 0);
        EXPECT_EQ(answer.getInt("selected_button"), 1);
        EXPECT_EQ(static_cast<std::uint32_t>(answer.sessionNumber()),
                  conduit->defaultSession()->number());
    }
    const std::string firstSession = number(first->defaultSession()->number());
    const std::string secondSession = number(second->defaultSession()->number());
    second.reset();
    first.reset();
    // Both closes were answered, each on its own connection (none of them ended because
    // its pipe had gone).
    int goodbyes = 0;
    for (const std::string& line : arrivals(capture)) {
        if (line.find("RCOD=hcndTerm;") != std::string::npos &&
            (line.rfind("65536;system.RESP;" + firstSession + ";", 0) == 0 ||
             line.rfind("65536;system.RESP;" + secondSession + ";", 0) == 0))
            ++goodbyes;
    }
    EXPECT_EQ(goodbyes, 2);
    for (const std::string& line : capture.lines())
        EXPECT_EQ(line.find("Connection lost"), std::string::npos) << line;
}

// Waits inside another session's wait: the idle callback sends a request in a session of
// its own while the first one waits for its (later) answer.
struct NestedRequest {
    VexPipeNamedConduit* conduit = nullptr;
    VexPipeSession* session = nullptr;
    VexPipePacket reply;
    int result = -1;
    bool sent = false;
};

void sendNested(void* context, std::uint32_t)
{
    auto* nested = static_cast<NestedRequest*>(context);
    if (nested->sent)
        return;
    nested->sent = true;
    VexPipePacket box("vex.MessageBox", VexPipePacket::kWait);
    box.setSessionNumber(static_cast<int>(nested->session->number()));
    nested->result = nested->conduit->call(&box, &nested->reply, 0);
}

TEST(Companion, RequestsInSessionsOfTheirOwnShareTheConnection)
{
    ReportCapture capture(ReportCapture::kTrace);
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    VexPipeSession* outer = conduit->newSession();
    VexPipeSession* inner = conduit->newSession();
    ASSERT_NE(outer, nullptr);
    ASSERT_NE(inner, nullptr);
    outer->shareConnection(0);
    inner->shareConnection(0);

    // The privacy policy is answered after 150 ms, the message box at once: the inner
    // answer comes first, the outer one during or after the inner wait, each into its own
    // session.
    NestedRequest nested;
    nested.conduit = conduit.get();
    nested.session = inner;
    conduit->setIdleCallback(&sendNested, &nested);
    VexPipePacket privacy("kyro.PrivacyPolicyDialog", VexPipePacket::kWait), consent;
    privacy.setSessionNumber(static_cast<int>(outer->number()));
    ASSERT_EQ(conduit->call(&privacy, &consent, 0), 0);
    conduit->setIdleCallback(nullptr, nullptr);
    EXPECT_EQ(consent.getInt("selected_button"), 3);
    EXPECT_EQ(static_cast<std::uint32_t>(consent.sessionNumber()), outer->number());
    ASSERT_TRUE(nested.sent);
    EXPECT_EQ(nested.result, 0);
    EXPECT_EQ(nested.reply.getInt("selected_button"), 1);
    EXPECT_EQ(static_cast<std::uint32_t>(nested.reply.sessionNumber()), inner->number());
    // The companion answered each in a session of its own.
    EXPECT_NE(outer->peerNumber(), 0u);
    EXPECT_NE(inner->peerNumber(), 0u);
    EXPECT_NE(outer->peerNumber(), inner->peerNumber());
    EXPECT_NE(outer->peerNumber(), conduit->defaultSession()->peerNumber());

    // Each session ends with an answered "system.ssnTerm"; the connection stays.
    for (VexPipeSession* session : {inner, outer}) {
        const std::string head = "65536;system.RESP;" + number(session->number()) + ";" +
                                 number(session->peerNumber()) + ";0;1;RCOD=hssnTerm;";
        session->terminate(true);
        EXPECT_EQ(arrivals(capture).back().rfind(head, 0), 0u) << arrivals(capture).back();
        session->release();
    }
    EXPECT_EQ(conduit->writerCount(), 1);
    EXPECT_TRUE(conduit->hasReader(static_cast<long>(kyro::platform::currentProcessId())));
    VexPipePacket box("vex.MessageBox", VexPipePacket::kWait), answer;
    ASSERT_EQ(conduit->call(&box, &answer, 0), 0);
    EXPECT_EQ(answer.getInt("selected_button"), 1);

    const std::string goodbye = "65536;system.RESP;" + number(conduit->defaultSession()->number()) +
                                ";" + number(conduit->defaultSession()->peerNumber()) +
                                ";0;1;RCOD=hcndTerm;";
    conduit.reset();
    EXPECT_EQ(arrivals(capture).back().rfind(goodbye, 0), 0u) << arrivals(capture).back();
}

// Another client of this test program's companion: a process of its own (so with its own
// process id and inbound pipe) that asks three times for the privacy policy.
KYRO_CHILD_ROLE(client)
{
    Conduit conduit(VexPipeNamedConduit::connectToServer(companionPath(), argument.c_str(),
                                                         VexPipeNamedConduit::kDefaultTimeout));
    if (!conduit) {
        std::printf("no connection\n");
        return 1;
    }
    for (int round = 0; round < 3; ++round) {
        VexPipePacket privacy("kyro.PrivacyPolicyDialog", VexPipePacket::kWait), reply;
        const int result = conduit->call(&privacy, &reply, 0);
        std::printf("%d:%d ", result, reply.getInt("selected_button"));
    }
    std::printf("\n");
    return 0;
}

TEST(Companion, ServesSeveralClientsAtOnce)
{
    Conduit host = connect();  // the companion runs before the clients come
    ASSERT_TRUE(host);
    constexpr int kClients = 3;
    std::vector<std::string> outputs(kClients);
    std::vector<std::thread> clients;
    const std::string role = "client:" + std::string(prefix().utf8());
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&outputs, &role, i] {
            runRole(role.c_str(), &outputs[static_cast<std::size_t>(i)]);
        });
    }
    // The host's own calls go on meanwhile.
    VexPipePacket box("vex.MessageBox", VexPipePacket::kWait), answer;
    EXPECT_EQ(host->call(&box, &answer, 0), 0);
    EXPECT_EQ(answer.getInt("selected_button"), 1);
    for (std::thread& client : clients)
        client.join();
    for (const std::string& output : outputs)
        EXPECT_EQ(output, "0:3 0:3 0:3 \n");
}

TEST(Companion, AClientThatFloodsIsCutOff)
{
    // Empty lines, more than a reader holds: the companion cuts the client off (its writes
    // fail) instead of keeping them, and goes on serving the others.
    Conduit flooding = connect();
    ASSERT_TRUE(flooding);
    const VexPipeWriteEndpoint writer = flooding->writerEndpoint(0);
    ASSERT_NE(writer.device(), nullptr);
    const std::string lines(64 * 1024, '\n');
    constexpr std::size_t kMost = 40u * 1024u * 1024u;   // the reader's queue and the pipe
    std::size_t sent = 0;
    while (sent < kMost &&
           writer.device()->write(lines.data(), static_cast<std::uint32_t>(lines.size())) == lines.size())
        sent += lines.size();
    EXPECT_LT(sent, kMost);

    Conduit other = connect();
    ASSERT_TRUE(other);
    VexPipePacket box("vex.MessageBox", VexPipePacket::kWait), answer;
    ASSERT_EQ(other->call(&box, &answer, 0), 0);
    EXPECT_EQ(answer.getInt("selected_button"), 1);
}

TEST(Companion, AWaitEndsWhenTheCompanionDies)
{
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    // The script ends the companion on this request, without an answer.
    VexPipePacket fatal("vex.ErrorDialog", VexPipePacket::kWait), reply;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(conduit->call(&fatal, &reply, 0), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    conduit.reset();

    // The next request starts a new companion.
    Conduit again = connect();
    ASSERT_TRUE(again);
    EXPECT_NE(again->companionProcessId(), 0u);
    VexPipePacket box("vex.MessageBox", VexPipePacket::kWait), answer;
    ASSERT_EQ(again->call(&box, &answer, 0), 0);
    EXPECT_EQ(answer.getInt("selected_button"), 1);
}

TEST(Companion, EndsAfterItsLastClientHasGone)
{
    std::uint32_t started = 0;
    {
        Conduit conduit = connect();
        ASSERT_TRUE(conduit);
        started = conduit->companionProcessId();
    }
    // A few seconds without clients, then it lets go of its prefix.
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ended = !VexPipeNamedConduit::isServerRunning(prefix());
    }
    EXPECT_TRUE(ended);
    if (started != 0) {
        EXPECT_FALSE(kyro::platform::processIsAlive(started));
    }
}
