// Packets: the line format, both directions, and lines that must leave a packet alone.
#include "kyro/pipe/VexPipePacket.h"

#include "kyro/pipe/VexEscape.h"

#include "ReportCapture.h"
#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

TEST(VexPipePacket, MarshalsAndUnmarshalsTheWireLine)
{
    ReportCapture traces(ReportCapture::kTrace);
    VexPipePacket values("f.m", 3000000000u);   // the wait mode is unsigned
    values.setSessionNumber(-3);
    values.setPeerSessionNumber(2147483647);
    values.setString("text", "a;b\nc=d,e");
    values.setString("absent", TStr());   // a null text is not stored, an empty one is
    values.setString("empty", "");
    EXPECT_EQ(values.marshal(true), "65536;f.m;2147483647;-3;0;3000000000;text=ha!3bb!0ac!3dd!2ce;empty=h");
    EXPECT_EQ(values.marshal(false), "65536;f.m;-3;2147483647;0;3000000000;text=ha!3bb!0ac!3dd!2ce;empty=h");
    EXPECT_EQ(traces.lines().back(), "Packet Marshalled:" + std::string(values.marshal(false).utf8()));

    // Items are added to what the payload holds; bad fields are skipped.
    VexPipePacket packet;
    packet.unmarshal("65536;f.m;3;7;0;2;a=hx");
    packet.unmarshal("65536;f.m.n;3;7;0;2;b=d4;a=hx=y;noequals;;=hv;c=");
    EXPECT_EQ(traces.lines().back(), "Packet Unmarshalling:65536;f.m.n;3;7;0;2;b=d4;a=hx=y;noequals;;=hv;c=");
    EXPECT_EQ(packet.method(), "m.n");   // split at the first dot
    EXPECT_EQ(packet.marshal(true), "65536;f.m.n;7;3;0;2;;a=hx;b=d4");
    VexPipePacket shortLine;
    shortLine.unmarshal("65536;solo");
    EXPECT_EQ(shortLine.marshal(true), "65536;solo.;0;0;0;0");
    for (const char* rejected : {"65537;f.m;1;2;0;2;a=hx", "x;f.m;1;2;0;2", "", ";;;", "65536x;f.m;1"}) {
        VexPipePacket untouched;
        untouched.unmarshal(rejected);
        EXPECT_EQ(untouched.marshal(true), "65536;.;0;0;0;0") << rejected;
    }
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
    const std::string head = "65536;f.RESP;1;2;0;1";
    const struct {
        std::string line;
        int topKeys;           // kept in the payload itself
        const char* lastKept;  // the last key kept, as a path
        bool capped;
    } rows[] = {
        {head + keys(0, 50000, ';'), kCap, "key_1023", true},
        {head + keys(0, 100, ';'), 100, "key_99", false},
        // "inner" and its 99 count first, then 924 beside it.
        {head + ";" + nested + keys(1000, 50000, ';'), 1 + kCap - 100, "key_1923", true},
    };
    const Lines capped{"Error  Dropped the keys of a received text beyond 1024"};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lastKept);
        ReportCapture reports;
        VexPipePacket packet;
        packet.unmarshal(TStr(row.line.c_str()));
        EXPECT_EQ(packet.payload().keys().count(), row.topKeys);
        EXPECT_TRUE(packet.contains(row.lastKept));
        EXPECT_EQ(packet.contains("inner.key_98"), row.line.find("inner") != std::string::npos);
        EXPECT_EQ(reports.lines(), row.capped ? capped : Lines{});
    }
}
