// The real companion: its facilities, scripted and recorded answers, its death and its end.
// Its script comes from this process's environment.
#include "kyro/pipe/VexPipeConduit.h"

#include "ChildRole.h"
#include "FileBytes.h"
#include "TempFolder.h"
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
        kyro::platform::setEnvironmentVariable("KYRO_VEX_ANSWERS",
                                               "MessageBox=1;kyro.ErrorDialog=reply;vex.ErrorDialog=exit");
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

}  // namespace

// Its facilities listed; dialogs answered with a button, without one ("reply"), or as
// unknown: a failure reply, not silence. It keeps every request with all its values.
TEST(Companion, RequestsAreAnsweredAndRecorded)
{
    Conduit conduit = connect();
    ASSERT_TRUE(conduit);
    const struct {
        const char* request;
        const char* reply;
    } rows[] = {{"system.listFacilities", "system.RESP FLST=j!232!3akyro!2cvex,RCOD=hlistFacilities,RSCD=d0,CPID=d"},
                {"vex.MessageBox", "vex.RESP selected_button=d1,RCOD=hMessageBox,RSCD=d0,CPID=d"},
                {"kyro.ErrorDialog", "kyro.RESP RCOD=hErrorDialog,RSCD=d0,CPID=d"},
                {"kyro.NoSuchDialog", "kyro.RESP RCOD=hNoSuchDialog,RSCD=d1,CPID=d"},
                {"vex.NoSuchDialog", "vex.RESP RCOD=hNoSuchDialog,RSCD=d1,CPID=d"}};
    for (const auto& row : rows) {
        VexPipePacket request(row.request, VexPipePacket::kWait), reply;
        request.setString("title", "W\xC3\xA4hlen Sie; = [x]");
        request.setInt("focus_button_index", 1);
        ASSERT_EQ(conduit->call(&request, &reply, 0), 0) << row.request;
        EXPECT_EQ(std::string(reply.fullName().utf8()) + " " + reply.payload().marshal().utf8(),
                  row.reply + std::to_string(reply.getInt("CPID")));   // the companion's
    }
    VexPipePacket wait("kyro.PleaseWaitDialog", VexPipePacket::kNoWait);   // shown, not answered
    wait.setString("waiting", "True");
    EXPECT_EQ(conduit->post(&wait, 0), 0);
    conduit.reset();
    Lines recorded;
    for (int attempt = 0; attempt < 200 && (recorded.empty() || recorded.back().find("PleaseWait") == std::string::npos);
         ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        recorded = looseFileLines(*g_folder / "requests.log");
    }
    ASSERT_GE(recorded.size(), 5u);
    const std::string pid = std::to_string(kyro::platform::currentProcessId());
    const auto withoutSessions = [](std::string line) {   // "<version>;<name>;<session>;<peer>;..."
        const std::string::size_type session = line.find(';', line.find(';') + 1) + 1;
        const std::string::size_type end = line.find(';', line.find(';', session) + 1);
        return line.replace(session, end - session, "<session>");
    };
    EXPECT_EQ(withoutSessions(recorded[recorded.size() - 5]),
              "65536;vex.MessageBox;<session>;0;2;title=hW!c3!a4hlen!20Sie!3b!20!3d!20!5bx!5d;"
              "focus_button_index=d1;CPID=d" + pid);
    EXPECT_EQ(withoutSessions(recorded.back()), "65536;kyro.PleaseWaitDialog;<session>;0;1;waiting=hTrue;CPID=d" + pid);
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
    conduit.reset();
    for (int i = 0; i < 200 && kyro::platform::processIsAlive(started); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(kyro::platform::processIsAlive(started));
}
