// Packets: the line format, both directions, and lines that must leave a packet alone.
#include "kyro/pipe/VexPipePacket.h"

#include "kyro/pipe/VexEscape.h"

#include "ReportCapture.h"
#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

TEST(VexPipePacket, MarshalsTheWireLine)
{
    ReportCapture traces(ReportCapture::kTrace);
    VexPipePacket connect("system.cndCnct", VexPipePacket::kWait);
    connect.setSessionNumber(10);
    connect.setInt("CPID", 5120);
    EXPECT_EQ(connect.marshal(true), "65536;system.cndCnct;0;10;0;2;CPID=d5120");
    EXPECT_EQ(connect.marshal(false), "65536;system.cndCnct;10;0;0;2;CPID=d5120");
    EXPECT_EQ(VexPipePacket("f.m", VexPipePacket::kNoWait).marshal(true), "65536;f.m;0;0;0;1");
    EXPECT_EQ(VexPipePacket("f.m", 3000000000u).marshal(true), "65536;f.m;0;0;0;3000000000");   // unsigned
    EXPECT_EQ(traces.lines().back(), "Packet Marshalled:65536;f.m;0;0;0;3000000000");

    VexPipePacket values("kyro.ErrorDialog", VexPipePacket::kWait);
    values.setSessionNumber(-3);
    values.setPeerSessionNumber(2147483647);
    values.setString("text", "a;b\nc=d,e");
    values.setString("absent", TStr());   // a null text is not stored, an empty one is
    values.setString("empty", "");
    EXPECT_FALSE(values.contains("absent"));
    const TStr line = values.marshal(true);
    EXPECT_EQ(line, "65536;kyro.ErrorDialog;2147483647;-3;0;2;text=ha!3bb!0ac!3dd!2ce;empty=h");
    VexPipePacket received;
    received.unmarshal(line);
    EXPECT_EQ(traces.lines().back(), "Packet Unmarshalling:" + std::string(line.utf8()));
    EXPECT_EQ(received.getString("text"), "a;b\nc=d,e");
    EXPECT_EQ(received.sessionNumber(), 2147483647);
    EXPECT_EQ(received.peerSessionNumber(), -3);
    EXPECT_TRUE(received.contains("empty"));
}

TEST(VexPipePacket, Unmarshalling)
{
    VexPipePacket packet;
    packet.unmarshal("65536;f.m;3;7;0;2;a=hx");
    EXPECT_EQ(packet.facility(), "f");
    EXPECT_EQ(packet.method(), "m");
    EXPECT_EQ(packet.waitMode(), 2u);
    EXPECT_EQ(packet.marshal(true), "65536;f.m;7;3;0;2;a=hx");
    // Items are added to what the payload holds; bad fields are skipped.
    packet.unmarshal("65536;f.m;3;7;0;2;b=d4;a=hx=y;noequals;;=hv;c=");
    EXPECT_EQ(packet.getString("a"), "x");
    EXPECT_EQ(packet.getInt("b"), 4);
    EXPECT_FALSE(packet.contains("noequals"));
    EXPECT_FALSE(packet.contains("c"));

    VexPipePacket shortLine;
    shortLine.unmarshal("65536;f.m");
    EXPECT_EQ(shortLine.fullName(), "f.m");
    EXPECT_EQ(shortLine.sessionNumber(), 0);
    EXPECT_EQ(shortLine.waitMode(), 0u);
    ReportCapture reports;
    for (const char* rejected : {"65537;f.m;1;2;0;2", "x;f.m;1;2;0;2", "", ";;;", "65536x;f.m;1"}) {
        VexPipePacket untouched;
        untouched.unmarshal(rejected);
        EXPECT_EQ(untouched.fullName(), ".") << rejected;
        EXPECT_EQ(untouched.sessionNumber(), 0) << rejected;
        EXPECT_EQ(untouched.payload().keys().count(), 0) << rejected;
    }
    VexPipePacket garbage;
    garbage.unmarshal("65536;;;;;;=;==;!!!;a=i!;b=h!2;c=i!zz");
    EXPECT_EQ(garbage.fullName(), ".");
    // Full names split at the first dot.
    packet.setFullName("a.b.c");
    EXPECT_EQ(packet.method(), "b.c");
    packet.setFullName("solo");
    EXPECT_EQ(packet.facility(), "solo");
    EXPECT_EQ(packet.fullName(), "solo.");
    VexPipePacket copy(packet);
    copy.setMethod("RESP");
    EXPECT_EQ(copy.fullName(), "solo.RESP");
    EXPECT_EQ(packet.fullName(), "solo.");
}

TEST(VexPipePacket, KeysOfOneLineAreCapped)
{
    // Keys sharing a bucket (their first four bytes) make every key stored walk the whole
    // bucket; a line gives at most kMaxKeys of them, nested dictionaries' included.
    const int kCap = VexDictionary::kMaxKeys;
    auto keys = [](int from, int count, char separator) {
        std::string text;
        for (int i = from; i < from + count; ++i)
            text += separator + std::string("key_") + std::to_string(i) + "=d" + std::to_string(i);
        return text;
    };
    const std::string nested = "inner=i" + std::string(kyro::pipe::escape(keys(0, 99, ',').substr(1).c_str()).utf8());
    std::string repeated = "65536;f.m;1;2;0;2";   // a megabyte of fields in 500 keys
    for (int i = 0; i < 60000; ++i)
        repeated += ";k" + std::to_string(i % 500) + "=hvalue!20" + std::to_string(i);
    const std::string head = "65536;f.RESP;1;2;0;1";
    const struct {
        const char* name;
        std::string line;
        int topKeys;           // kept in the payload itself
        const char* lastKept;  // the last key kept, as a path
        bool capped;
    } rows[] = {
        {"flat", head + keys(0, 50000, ';'), kCap, "key_1023", true},
        {"under the cap", head + keys(0, 100, ';'), 100, "key_99", false},
        // "inner" and its 99 count first, then 924 beside it.
        {"nested first", head + ";" + nested + keys(1000, 50000, ';'), 1 + kCap - 100, "key_1923", true},
        {"repeated keys", repeated, 500, "k499", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ReportCapture reports;
        VexPipePacket packet;
        packet.unmarshal(TStr(row.line.c_str()));
        EXPECT_EQ(packet.payload().keys().count(), row.topKeys);
        EXPECT_TRUE(packet.contains(row.lastKept));
        EXPECT_EQ(packet.contains("inner.key_98"), row.line.find("inner") != std::string::npos);
        EXPECT_EQ(reports.lines(), row.capped ? Lines{"Error  Dropped the keys of a received text beyond 1024"} : Lines{});
    }
    VexPipePacket big;
    big.unmarshal(TStr(repeated.c_str()));
    EXPECT_EQ(big.getString("k7"), "value 1007");   // the last k7 of the first 1024 keys
    EXPECT_EQ(kCap, 1024);
}
