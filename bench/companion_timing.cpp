// The companion connection as a host meets it, with the real Vex.exe beside this program:
//
//   cold cycle   connectToServer() starting the companion, the handshake, one call, the
//                orderly close ("system.cndTerm"); also shown in its three parts
//   warm call    one "system.index" call on a connection that stays open (the companion
//                is another process: each side's reader thread hands the line to its
//                conduit's thread, four thread hand-overs per round trip)
//   raw pipe     the baseline: one line each way over the same kind of pipes between two
//                threads, with nothing of the framework (raw_pipe_peer.h)
//   bare start   the floor under the cold cycle: starting Vex.exe with no arguments (it
//                ends at once) until its output pipe closes, which is what the system
//                charges for a process of this program before any of its own work
//
//   kyro_companion_timing [cold cycles] [warm calls]
//
// Prints medians and quartiles. Between cold cycles the companion is ended (untimed) with
// a request its script answers by exiting, so every cycle starts it afresh. A plain
// program, built in both configurations, so the windows build is timed under Wine too.
#include "raw_pipe_peer.h"

#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"
#include "kyro/util/TPath.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::micro>(duration).count();
}

double print(const char* what, std::vector<double> samples)
{
    if (samples.empty()) {
        std::printf("%-14s no samples\n", what);
        return 0;
    }
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    std::printf("%-14s median %10.1f us   (quartiles %.1f .. %.1f, %zu runs)\n", what,
                samples[n / 2], samples[n / 4], samples[(3 * n) / 4], n);
    return samples[n / 2];
}

TStr companion()
{
    return TPath(kyro::platform::executablePath().c_str()).directory() / "Vex.exe";
}

VexPipeNamedConduit* connect()
{
    return VexPipeNamedConduit::connectToServer(companion(),
                                                VexPipeNamedConduit::makePipePrefix("Vex.exe"),
                                                VexPipeNamedConduit::kDefaultTimeout);
}

bool call(VexPipeNamedConduit* conduit, const char* name)
{
    VexPipePacket request(TStr(name), VexPipePacket::kWait), reply;
    return conduit->call(&request, &reply, 0) == 0;
}

void finish(VexPipeNamedConduit* conduit)
{
    conduit->close(true, true, true);
    delete conduit;
}

// Ends the running companion and waits until its presence lock is gone.
void endCompanion()
{
    const TStr prefix = VexPipeNamedConduit::makePipePrefix("Vex.exe");
    if (VexPipeNamedConduit* conduit = connect()) {
        call(conduit, "vex.ErrorDialog");  // the script's "exit": no answer comes
        finish(conduit);
    }
    for (int i = 0; i < 500 && VexPipeNamedConduit::isServerRunning(prefix); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// Starts Vex.exe without arguments and waits for it to end: false when it cannot be started.
bool bareStart()
{
    kyro::platform::LaunchedProcess child;
    if (kyro::platform::launchProcess(companion().utf8(), "Vex.exe", &child) !=
        kyro::platform::LaunchResult::Started)
        return false;
    kyro::platform::closePipeEnd(child.input);
    char buffer[256];
    while (kyro::platform::readPipe(child.output, buffer, sizeof buffer) > 0) {
    }
    kyro::platform::closePipeEnd(child.output);
    kyro::platform::releaseEndedChildren();
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int cycles = argc > 1 ? std::max(3, std::atoi(argv[1])) : 30;
    const int calls = argc > 2 ? std::max(10, std::atoi(argv[2])) : 2000;
    kyro::platform::setEnvironmentVariable("KYRO_VEX_ANSWERS", "vex.ErrorDialog=exit;*=1");
    endCompanion();

    std::vector<double> cold, pConnect, pCall, pClose;
    for (int i = 0; i < cycles; ++i) {
        const Clock::time_point start = Clock::now();
        VexPipeNamedConduit* conduit = connect();
        const Clock::time_point t1 = Clock::now();
        const bool answered = conduit != nullptr && call(conduit, "system.index");
        const Clock::time_point t2 = Clock::now();
        if (conduit != nullptr)
            finish(conduit);
        const Clock::time_point end = Clock::now();
        pConnect.push_back(microseconds(t1 - start));
        pCall.push_back(microseconds(t2 - t1));
        pClose.push_back(microseconds(end - t2));
        if (!answered) {
            std::fprintf(stderr, "cold cycle %d failed\n", i);
            return 1;
        }
        cold.push_back(microseconds(end - start));
        endCompanion();
    }

    std::vector<double> warm;
    VexPipeNamedConduit* conduit = connect();
    if (conduit == nullptr || !call(conduit, "system.index")) {
        std::fprintf(stderr, "no warm connection\n");
        return 1;
    }
    for (int i = 0; i < calls; ++i) {
        const Clock::time_point start = Clock::now();
        if (!call(conduit, "system.index")) {
            std::fprintf(stderr, "warm call %d failed\n", i);
            return 1;
        }
        warm.push_back(microseconds(Clock::now() - start));
    }
    finish(conduit);
    endCompanion();

    std::vector<double> raw;
    {
        kyro::bench::RawPipePair pair;
        if (!pair.connected() || !pair.roundTrip()) {
            std::fprintf(stderr, "no raw pipe pair\n");
            return 1;
        }
        for (int i = 0; i < calls; ++i) {
            const Clock::time_point start = Clock::now();
            if (!pair.roundTrip())
                break;
            raw.push_back(microseconds(Clock::now() - start));
        }
    }

    std::vector<double> bare;
    for (int i = 0; i < cycles; ++i) {
        const Clock::time_point start = Clock::now();
        if (!bareStart()) {
            std::fprintf(stderr, "Vex.exe could not be started\n");
            return 1;
        }
        bare.push_back(microseconds(Clock::now() - start));
    }

    print("cold cycle", cold);
    print("  connect", pConnect);
    print("  call", pCall);
    print("  close", pClose);
    print("bare start", bare);
    const double warmMedian = print("warm call", warm);
    const double rawMedian = print("raw pipe", raw);
    if (rawMedian > 0)
        std::printf("%-14s %.2fx the raw pipe\n", "warm call", warmMedian / rawMedian);
    return 0;
}
