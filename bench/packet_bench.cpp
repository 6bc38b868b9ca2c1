// A typical dialog request packet, marshalled and read back, next to the same object as
// JSON through nlohmann::json (dump, then parse). Both sides build their object once,
// outside the timed loop, and each iteration makes one text and one new object from it.
#include "bench_support.h"

#include "kyro/pipe/VexPipePacket.h"

#include <nlohmann/json.hpp>

#include <string>

namespace {

VexPipePacket dialogRequest()
{
    VexPipePacket packet("kyro.ErrorDialog", VexPipePacket::kWait);
    packet.setSessionNumber(12);
    packet.setPeerSessionNumber(3);
    packet.setString("caption", "Kyro Host");
    packet.setString("title", "The document could not be saved");
    packet.setString("detail", "Disk full: 0 bytes left on C:\\Users\\demo\\Documents");
    packet.setString("LCLT", "en_US");
    packet.setString("helpTopic", "save-errors");
    packet.setInt("icon", 3);
    packet.setInt("buttons", 1);
    packet.setInt("CPID", 5120);
    VexDictionary options;
    options.setInt("timeout", 0);
    options.setString("style", "modern");
    packet.setDictionaryCopy("options", options);
    return packet;
}

nlohmann::json dialogRequestJson()
{
    return nlohmann::json{
        {"name", "kyro.ErrorDialog"}, {"session", 12}, {"peer", 3}, {"wait", 2},
        {"caption", "Kyro Host"}, {"title", "The document could not be saved"},
        {"detail", "Disk full: 0 bytes left on C:\\Users\\demo\\Documents"}, {"LCLT", "en_US"},
        {"helpTopic", "save-errors"}, {"icon", 3}, {"buttons", 1}, {"CPID", 5120},
        {"options", {{"timeout", 0}, {"style", "modern"}}}};
}

void packetRoundTrip(benchmark::State& state)
{
    const VexPipePacket request = dialogRequest();
    for (auto _ : state) {
        const TStr line = request.marshal(true);
        VexPipePacket received;
        received.unmarshal(line);
        benchmark::DoNotOptimize(received);
    }
}

void jsonRoundTrip(benchmark::State& state)
{
    const nlohmann::json request = dialogRequestJson();
    for (auto _ : state) {
        const std::string text = request.dump();
        nlohmann::json received = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(received);
    }
}

}  // namespace

BENCHMARK(packetRoundTrip)->Name("VexPipePacket/round_trip");
BENCHMARK(jsonRoundTrip)->Name("nlohmann::json/round_trip");

namespace kyro::bench {

bool checkPacketPair()
{
    const VexPipePacket request = dialogRequest();
    VexPipePacket received;
    received.unmarshal(request.marshal(true));
    const nlohmann::json json = nlohmann::json::parse(dialogRequestJson().dump());
    return received.payload().keys().count() == 9 && received.getString("options.style") == "modern" &&
           json.size() == 13 && json["options"]["style"] == "modern";
}

}  // namespace kyro::bench
