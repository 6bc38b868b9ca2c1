// Facilities: the system facility's answers on the wire, handshakes, the registry, the locales.
#include "kyro/pipe/VexPipeFacility.h"

#include "kyro/pipe/VexPipeConduit.h"
#include "PipeTestSupport.h"
#include "ReportCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using pipetest::Lines;
using testing::StartsWith;

Lines toLines(const TList<TStr>& list)
{
    Lines lines;
    for (const TStr& text : list)
        lines.emplace_back(text.utf8());
    return lines;
}

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
const char kLocaleList[] =
    "LCLT=j!2316!3aen_US!2cru_RU!2ccs_CZ!2cpl_PL!2ces_ES!2cde_DE!2cfr_FR!2cpt_PT!2chu_HU!2cko_KR"
    "!2czh_CN!2czh_TW!2cit_IT!2cja_JP!2cpt_BR!2cen_CA";

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

// Reads `peer`'s lines as the server's reader `index`.
bool addPeer(VexPipeNamedConduit& server, long index, pipetest::RawPeer& peer)
{
    server.addReader(index, VexPipeReadEndpoint(new VexPipeFile(kyro::platform::createInboundPipe(peer.inName().c_str()),
                                                                VexPipeFile::kRead, false)));
    return peer.connect();
}

bool deliverTo(VexPipeNamedConduit& server, pipetest::RawPeer& peer, const std::string& line)
{
    int handled = 0;
    return peer.inject(line + "\n") && pipetest::eventually([&] {
               handled += server.processIncoming();
               return handled > 0;
           });
}

}  // namespace

TEST(VexPipeSystemFacility, AnswersOnTheWire)
{
    pipetest::WiredConduit wired;
    ASSERT_TRUE(wired.ready());
    DemoFacility* demo = new DemoFacility;
    VexPipeFacilityRegistry::add(demo);
    demo->release();
    // Requests to the system session 1 from a peer's session 7; answers go back, wait mode 1.
    const struct {
        const char* request;
        std::string answer;
    } cases[] = {
        {"65536;system.index;1;7;0;2",
         std::string("65536;system.RESP;7;1;0;1;RCOD=hindex;RSCD=d0;") + kMethodList},
        // No dot: an empty method, answered as "index" with an empty "RCOD".
        {"65536;system;1;7;0;2", std::string("65536;system.RESP;7;1;0;1;RCOD=h;RSCD=d0;") + kMethodList},
        {"65536;system.methodInformation;1;7;0;2;MTHN=hcndCnct",
         "65536;system.RESP;7;1;0;1;MTHI=i;RCOD=hmethodInformation;RSCD=d0"},
        // The system facility is hidden.
        {"65536;system.listFacilities;1;7;0;2",
         "65536;system.RESP;7;1;0;1;FLST=j!231!3ademo;RCOD=hlistFacilities;RSCD=d0"},
        // "RCOD" is the method's name whatever the handler put there.
        {"65536;demo.echo;1;7;0;2;text=hhello",
         "65536;demo.RESP;7;1;0;1;RCOD=hecho;text=hhello;RSCD=d0"},
        {"65536;demo.other;1;7;0;2", "65536;demo.RESP;7;1;0;1;why=hunknown;RCOD=hother;RSCD=d0"},
        {"65536;demo.index;1;7;0;2", "65536;demo.RESP;7;1;0;1;RCOD=hindex;RSCD=d0;MLST=j!231!3aecho"},
        // A facility nobody registered: the system facility answers.
        {"65536;nobody.listLocales;1;7;0;2",
         std::string("65536;nobody.RESP;7;1;0;1;RCOD=hlistLocales;RSCD=d0;") + kLocaleList},
        {"65536;system.listLocales;1;7;0;2",
         std::string("65536;system.RESP;7;1;0;1;RCOD=hlistLocales;RSCD=d0;") + kLocaleList},
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
    VexPipeFacilityRegistry::remove("demo");
}

// The next line of `inbound`, which must start with `head`: its sender's session number.
long answerFrom(pipetest::LineReader& inbound, const std::string& head)
{
    VexPipePacket answer;
    const std::string line = inbound.take();
    EXPECT_THAT(line, StartsWith(head));
    answer.unmarshal(line.c_str());
    return answer.peerSessionNumber();
}

TEST(VexPipeSystemFacility, HandshakesBindConnectionsToTheirWriters)
{
    // Two connections of client 4242, each over a reader of its own and an instance of its pipe.
    VexPipeNamedConduit::setClientProcessId(777);
    const std::string prefix = pipetest::uniqueName();
    VexPipeNamedConduit server(TPath(prefix.c_str()), true, VexPipePacket::kWaitInherit);
    pipetest::RawPeer first;
    pipetest::RawPeer second;
    ASSERT_TRUE(addPeer(server, -1, first));
    ASSERT_TRUE(addPeer(server, -2, second));
    auto deliver = [&](pipetest::RawPeer& peer, const std::string& line) { return deliverTo(server, peer, line); };
    ReportCapture errors;

    // A handshake, then a request in a session the client opened: answered on its writer.
    pipetest::LineReader firstInbound(server.pipeName(4242).utf8());
    ASSERT_TRUE(deliver(first, "65536;system.cndCnct;0;7;0;2;CPID=d4242"));
    const long firstConnection = answerFrom(firstInbound, "65536;system.RESP;7;");
    EXPECT_EQ(server.connectionWriter(-1), 4242);
    ASSERT_TRUE(deliver(first, "65536;system.listFacilities;0;8;0;2"));
    VexPipeSession* request = server.findSession(answerFrom(firstInbound, "65536;system.RESP;8;"));
    ASSERT_NE(request, nullptr);
    EXPECT_TRUE(request->sharesConnection());
    EXPECT_EQ(request->writerIndex(), 4242);
    EXPECT_EQ(request->connectionSession(), server.findSession(firstConnection));

    // The second handshake keeps the first writer and gets its own, to the instance listening now.
    pipetest::LineReader secondInbound(server.pipeName(4242).utf8());
    ASSERT_TRUE(deliver(second, "65536;system.cndCnct;0;9;0;2;CPID=d4242"));
    const std::string secondConnection = std::to_string(answerFrom(secondInbound, "65536;system.RESP;9;"));
    const long secondWriter = server.connectionWriter(-2);
    EXPECT_LT(secondWriter, 0);
    EXPECT_TRUE(server.hasWriter(4242));
    EXPECT_TRUE(server.hasWriter(secondWriter));
    ASSERT_TRUE(deliver(second, "65536;system.listLocales;0;11;0;2"));
    const long leftOpen = answerFrom(secondInbound, "65536;system.RESP;11;");

    // A session sharing a connection ends alone; the handshake's session ends the connection
    // and its writer, and the other connection goes on.
    const std::string requestNumber = std::to_string(request->number());
    ASSERT_TRUE(deliver(first, "65536;system.ssnTerm;" + requestNumber + ";8;0;2"));
    EXPECT_EQ(firstInbound.take(), "65536;system.RESP;8;" + requestNumber + ";0;1;RCOD=hssnTerm;CPID=d777");
    EXPECT_TRUE(server.hasWriter(4242));
    ASSERT_TRUE(deliver(first, "65536;system.cndTerm;" + std::to_string(firstConnection) + ";7;0;2"));
    EXPECT_THAT(firstInbound.take(), StartsWith("65536;system.RESP;7;"));
    EXPECT_FALSE(server.hasWriter(4242));
    EXPECT_EQ(server.connectionWriter(-1), 0);
    EXPECT_TRUE(pipetest::eventually([&] { return firstInbound.writerGone(); }));
    ASSERT_TRUE(deliver(second, "65536;system.index;0;12;0;2"));
    EXPECT_THAT(secondInbound.take(), StartsWith("65536;system.RESP;12;"));
    EXPECT_EQ(firstInbound.take(100), "(none)");

    // The end of a connection ends the sessions that shared it and were left open.
    ASSERT_NE(server.findSession(leftOpen), nullptr);
    ASSERT_TRUE(deliver(second, "65536;system.cndTerm;" + secondConnection + ";9;0;2"));
    EXPECT_THAT(secondInbound.take(), StartsWith("65536;system.RESP;9;"));
    EXPECT_EQ(server.findSession(leftOpen), nullptr);
    EXPECT_EQ(server.writerCount(), 0);
    EXPECT_EQ(errors.lines(), Lines{});

    // A handshake in the system session binds it; a second is refused; its ssnTerm is answered
    // on its writer before the session and the writer go.
    pipetest::RawPeer third;
    ASSERT_TRUE(addPeer(server, -3, third));
    pipetest::LineReader thirdInbound(server.pipeName(4343).utf8());
    ASSERT_TRUE(deliver(third, "65536;system.cndCnct;1;7;0;2;CPID=d4343"));
    EXPECT_EQ(thirdInbound.take(), "65536;system.RESP;7;1;0;1;SSID=d1;RCOD=hcndCnct;RSCD=d0;CPID=d777");
    ASSERT_NE(server.findSession(1), nullptr);
    EXPECT_EQ(server.findSession(1)->writerIndex(), 4343);
    EXPECT_EQ(server.findSession(1)->clientProcessId(), 4343u);
    ASSERT_TRUE(deliver(third, "65536;system.cndCnct;1;7;0;2;CPID=d4344"));
    EXPECT_EQ(errors.lines(), Lines{"Error  session 1 is already connected to index 4343"});
    ASSERT_TRUE(deliver(third, "65536;system.ssnTerm;1;7;0;2"));
    EXPECT_EQ(thirdInbound.take(), "65536;system.RESP;7;1;0;1;RCOD=hssnTerm;CPID=d777");
    EXPECT_EQ(server.findSession(1), nullptr);
    EXPECT_FALSE(server.hasWriter(4343));
    EXPECT_TRUE(pipetest::eventually([&] { return thirdInbound.writerGone(); }));
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
    EXPECT_EQ(session->state(), static_cast<std::uint32_t>(VexPipeSession::kTerminated));
    EXPECT_EQ(conduit->findSession(session->number()), nullptr);
    EXPECT_EQ(conduit->currentSession(), nullptr);
    EXPECT_EQ(conduit->writerCount(), 0);
    EXPECT_FALSE(conduit->hasReader(wired.readerIndex()));
    EXPECT_EQ(conduit->sessionCount(), 1);   // the system session is left
    EXPECT_TRUE(pipetest::eventually([&] { return wired.peer().received().writerGone(); }));
    session->release();
}

TEST(VexPipeFacilityRegistry, LivesWithTheConduitsAndListsVisibleFacilities)
{
    EXPECT_FALSE(VexPipeFacilityRegistry::exists());
    {
        VexPipeConduit first(false, VexPipePacket::kWait, false);
        VexPipeConduit internal(false, VexPipePacket::kWait, true);
        EXPECT_TRUE(VexPipeFacilityRegistry::exists());
        EXPECT_TRUE(VexPipeFacilityRegistry::contains("system"));
        EXPECT_TRUE(VexPipeFacilityRegistry::contains("systemInternal"));
        EXPECT_EQ(VexPipeFacilityRegistry::visibleNames().count(), 0);

        DemoFacility* demo = new DemoFacility;
        EXPECT_TRUE(VexPipeFacilityRegistry::add(demo));             // under its own name
        EXPECT_TRUE(VexPipeFacilityRegistry::add(demo, "alias"));
        EXPECT_EQ(toLines(VexPipeFacilityRegistry::visibleNames()), (Lines{"demo", "alias"}));
        demo->setHidden(true);
        EXPECT_EQ(VexPipeFacilityRegistry::visibleNames().count(), 0);
        demo->setHidden(false);
        VexPipeFacility* found = VexPipeFacilityRegistry::acquire("demo");
        EXPECT_EQ(found, demo);
        VexPipeFacilityRegistry::release(found);
        EXPECT_TRUE(VexPipeFacilityRegistry::remove("alias"));
        EXPECT_FALSE(VexPipeFacilityRegistry::remove("alias"));
        demo->release();   // the registry's reference keeps it
        EXPECT_EQ(VexPipeFacilityRegistry::count(), 3);
        EXPECT_TRUE(VexPipeFacilityRegistry::remove("demo"));
    }
    EXPECT_FALSE(VexPipeFacilityRegistry::exists());
}

// The names themselves go on the wire ("listLocales" above).
TEST(VexPipeLocales, TheTableMapsAliases)
{
    EXPECT_EQ(vexLocaleTable().find("en_CA").value(), "en_US");
    EXPECT_EQ(vexLocaleTable().find("de_DE").value(), "de_DE");
}
