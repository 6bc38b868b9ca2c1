// Facilities: the system facility's answers on the wire, handshakes, the registry.
#include "kyro/pipe/VexPipeFacility.h"

#include "kyro/pipe/VexPipeConduit.h"
#include "PipeTestSupport.h"
#include "ReportCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using pipetest::Lines;

// The answer to a request, or "(none)". Each request is followed by an "index" from a
// peer session numbered 99, whose answer comes next when the request had none.
std::string answerTo(pipetest::WiredConduit& wired, const std::string& request)
{
    std::string line, probe;
    if (!wired.deliver(request) || !wired.deliver("65536;system.index;1;99;0;2") || !wired.peer().received().next(&line))
        return "(nothing)";
    return line.rfind("65536;system.RESP;99;", 0) == 0 || !wired.peer().received().next(&probe) ? "(none)" : line;
}

const char kMethodList[] =
    "MLST=j!237!3acndCnct!2ccndTerm!2clistFacilities!2clistLocales!2cRESP!2cerror!2cssnTerm";

long echo(VexPipeSession*, VexPipePacket* request, VexPipePacket* reply)
{
    reply->setString("text", request->getString("text"));
    reply->setString("RCOD", "replaced by the method's name");
    return VexPipeFacility::kAnswer;
}

class DemoFacility : public VexPipeFacility {
public:
    DemoFacility() { addMethod("echo", &echo); }
    TStr name() const override { return TStr("demo"); }
    long unknownMethod(VexPipeSession*, VexPipePacket*, VexPipePacket* reply) override
    {
        reply->setString("why", "unknown");
        return kAnswer;
    }
};

}  // namespace

TEST(VexPipeSystemFacility, AnswersOnTheWire)
{
    pipetest::WiredConduit wired;
    ASSERT_TRUE(wired.ready());
    DemoFacility* demo = new DemoFacility;
    VexPipeFacilityRegistry::add(demo);   // under its own name
    VexPipeFacilityRegistry::add(demo, "alias");
    demo->release();   // the registry's references keep it
    // Requests to the system session 1 from a peer's session 7; answers go back, wait mode 1.
    const struct {
        const char* request;
        std::string answer;
    } cases[] = {
        {"65536;system.index;1;7;0;2", std::string("65536;system.RESP;7;1;0;1;RCOD=hindex;RSCD=d0;") + kMethodList},
        {"65536;system.methodInformation;1;7;0;2;MTHN=hcndCnct",
         "65536;system.RESP;7;1;0;1;MTHI=i;RCOD=hmethodInformation;RSCD=d0"},
        // The system facility is hidden.
        {"65536;system.listFacilities;1;7;0;2",
         "65536;system.RESP;7;1;0;1;FLST=j!232!3ademo!2calias;RCOD=hlistFacilities;RSCD=d0"},
        // "RCOD" is the method's name whatever the handler put there.
        {"65536;demo.echo;1;7;0;2;text=hhello", "65536;demo.RESP;7;1;0;1;RCOD=hecho;text=hhello;RSCD=d0"},
        {"65536;demo.other;1;7;0;2", "65536;demo.RESP;7;1;0;1;why=hunknown;RCOD=hother;RSCD=d0"},
        {"65536;demo.index;1;7;0;2", "65536;demo.RESP;7;1;0;1;RCOD=hindex;RSCD=d0;MLST=j!231!3aecho"},
        // A facility nobody registered: the system facility answers.
        {"65536;nobody.index;1;7;0;2", std::string("65536;nobody.RESP;7;1;0;1;RCOD=hindex;RSCD=d0;") + kMethodList},
        // No answer: a notice, a stray reply, an unknown method, a connect without "CPID".
        {"65536;system.error;1;7;0;2;ECOD=d5;EMSG=hbad", "(none)"},
        {"65536;system.RESP;1;7;0;1;RCOD=hindex", "(none)"},
        {"65536;system.noSuchMethod;1;7;0;2", "(none)"},
        {"65536;system.cndCnct;1;7;0;2", "(none)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_EQ(answerTo(wired, c.request), c.answer);
    }
    EXPECT_TRUE(VexPipeFacilityRegistry::remove("alias"));
    EXPECT_FALSE(VexPipeFacilityRegistry::remove("alias"));
    EXPECT_TRUE(VexPipeFacilityRegistry::remove("demo"));
}

// A handshake in the system session binds it to the client's writer; a second is refused;
// its ssnTerm is answered on that writer before the session and the writer go.
TEST(VexPipeSystemFacility, HandshakeBindsTheSessionToItsWriter)
{
    VexPipeNamedConduit::setClientProcessId(777);
    VexPipeNamedConduit server(TPath(pipetest::uniqueName().c_str()), true, VexPipePacket::kWaitInherit);
    pipetest::RawPeer peer;
    ASSERT_NE(pipetest::addPeerReader(server, -3, peer), nullptr);
    const auto deliver = [&](const std::string& line) { return pipetest::deliverFrom(server, peer, line); };
    ReportCapture errors;
    pipetest::LineReader inbound(server.pipeName(4343).utf8());
    ASSERT_TRUE(deliver("65536;system.cndCnct;1;7;0;2;CPID=d4343"));
    EXPECT_EQ(inbound.take(), "65536;system.RESP;7;1;0;1;SSID=d1;RCOD=hcndCnct;RSCD=d0;CPID=d777");
    EXPECT_EQ(server.connectionWriter(-3), 4343);
    ASSERT_TRUE(deliver("65536;system.cndCnct;1;7;0;2;CPID=d4344"));
    EXPECT_EQ(errors.lines(), Lines{"Error  session 1 is already connected to index 4343"});
    ASSERT_TRUE(deliver("65536;system.ssnTerm;1;7;0;2"));
    EXPECT_EQ(inbound.take(), "65536;system.RESP;7;1;0;1;RCOD=hssnTerm;CPID=d777");
    EXPECT_EQ(server.findSession(1), nullptr);
    EXPECT_TRUE(pipetest::eventually([&] { return inbound.writerGone(); }));
    VexPipeNamedConduit::setClientProcessId(0);
}

// Two connections of one client, each over a reader of its own: the second handshake gets a
// writer of its own, to the instance listening then, and a connection's end takes along only
// its own writer and the sessions that shared it.
TEST(VexPipeSystemFacility, ConnectionsOfOneClientEndApart)
{
    VexPipeNamedConduit::setClientProcessId(777);
    VexPipeNamedConduit server(TPath(pipetest::uniqueName().c_str()), true, VexPipePacket::kWaitInherit);
    EXPECT_TRUE(VexPipeFacilityRegistry::contains("system"));
    pipetest::RawPeer peers[2];
    for (int i = 0; i < 2; ++i)
        ASSERT_NE(pipetest::addPeerReader(server, -1 - i, peers[i]), nullptr);
    const auto deliver = [&](int peer, const std::string& line) {
        return pipetest::deliverFrom(server, peers[peer], line);
    };
    const auto answerFrom = [](pipetest::LineReader& inbound) {   // the answering session's number
        VexPipePacket answer;
        answer.unmarshal(inbound.take().c_str());
        return std::to_string(answer.peerSessionNumber());
    };
    pipetest::LineReader first(server.pipeName(4242).utf8());
    ASSERT_TRUE(deliver(0, "65536;system.cndCnct;0;7;0;2;CPID=d4242"));
    const std::string firstConnection = answerFrom(first);
    pipetest::LineReader second(server.pipeName(4242).utf8());
    ASSERT_TRUE(deliver(1, "65536;system.cndCnct;0;9;0;2;CPID=d4242"));
    const std::string secondConnection = answerFrom(second);
    EXPECT_EQ(server.connectionWriter(-1), 4242);
    const long secondWriter = server.connectionWriter(-2);
    EXPECT_LT(secondWriter, 0);
    ASSERT_TRUE(deliver(1, "65536;system.listLocales;0;11;0;2"));
    const long leftOpen = std::stol(answerFrom(second));

    ASSERT_TRUE(deliver(0, "65536;system.cndTerm;" + firstConnection + ";7;0;2"));
    EXPECT_EQ(first.take(), "65536;system.RESP;7;" + firstConnection + ";0;1;RCOD=hcndTerm;CPID=d777");
    EXPECT_FALSE(server.hasWriter(4242));
    EXPECT_TRUE(server.hasWriter(secondWriter));
    ASSERT_NE(server.findSession(leftOpen), nullptr);
    EXPECT_EQ(server.findSession(leftOpen)->connectionSession(), server.findSession(std::stol(secondConnection)));
    ASSERT_TRUE(deliver(1, "65536;system.cndTerm;" + secondConnection + ";9;0;2"));
    EXPECT_EQ(second.take(), "65536;system.RESP;9;" + secondConnection + ";0;1;RCOD=hcndTerm;CPID=d777");
    EXPECT_EQ(server.findSession(leftOpen), nullptr);
    EXPECT_EQ(server.writerCount(), 0);
    VexPipeNamedConduit::setClientProcessId(0);
}

TEST(VexPipeSystemFacility, EndsTheConnectionAfterAnswering)
{
    pipetest::WiredConduit wired;
    ASSERT_TRUE(wired.ready());
    VexPipeConduit* conduit = wired.conduit();
    VexPipeSession* session = conduit->newSession();
    const std::string number = std::to_string(session->number());
    ASSERT_TRUE(wired.deliver("65536;system.cndTerm;" + number + ";8;0;2"));
    // Answered first (no "RSCD"), then the session ends with the client's pipes.
    EXPECT_EQ(wired.peer().received().take(), "65536;system.RESP;8;" + number + ";0;1;RCOD=hcndTerm");
    EXPECT_EQ(conduit->findSession(session->number()), nullptr);
    EXPECT_EQ(conduit->writerCount(), 0);
    EXPECT_FALSE(conduit->hasReader(wired.readerIndex()));
    EXPECT_EQ(conduit->sessionCount(), 1);   // the system session is left
    EXPECT_TRUE(pipetest::eventually([&] { return wired.peer().received().writerGone(); }));
    session->release();
}
