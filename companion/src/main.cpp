// Vex.exe, the companion: shows the library's dialogs for one host process.
//
//   Vex.exe <prefix>          the prefix is "Vex.exe" followed by the host's process id
//
// It holds the presence lock of its prefix for its life (so hosts start no second one),
// listens on the prefix's inbound0 for any number of clients, one after another and at
// the same time, and answers the system methods and the dialog requests (see
// CompanionScript.h for answers without a person). It ends when the host process has
// ended, or when no client has been connected for a short while. It never writes to its
// standard output or error: nobody reads them.
#include "CompanionScript.h"
#include "DialogFacility.h"
#include "PersonWindows.h"

#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/pipe/VexPipeFacility.h"
#include "kyro/platform/presence_lock.h"
#include "kyro/platform/process_info.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace {

using SteadyClock = std::chrono::steady_clock;

// How long the companion stays without clients before it ends.
constexpr auto kIdleGrace = std::chrono::milliseconds(3000);

// The host's process id: the digits that end the prefix. 0 when there are none.
std::uint32_t hostProcessId(const std::string& prefix)
{
    std::size_t start = prefix.size();
    while (start > 0 && prefix[start - 1] >= '0' && prefix[start - 1] <= '9')
        --start;
    if (start == prefix.size() || prefix.size() - start > 9)
        return 0;
    return static_cast<std::uint32_t>(std::stoul(prefix.substr(start)));
}

bool hasClients(const VexPipeNamedConduit& server)
{
    // Besides the listening instance of inbound0: readers of connected clients, writers to
    // their inbound pipes, kept answers.
    return server.readerCount() > 1 || server.writerCount() > 0 ||
           DialogFacility::hasKeptAnswers() || kyro::companion::hasWaitWindows();
}

int serve(const TStr& prefix, std::uint32_t hostId)
{
    kyro::companion::CompanionScript script;
    VexPipeNamedConduit server(prefix, true, VexPipePacket::kWaitInherit);
    auto* kyro = new DialogFacility("kyro", script);
    auto* vex = new DialogFacility("vex", script);
    VexPipeFacilityRegistry::add(kyro);
    VexPipeFacilityRegistry::add(vex);
    int status = 0;
    if (!server.startListening()) {
        status = 4;
    } else {
        SteadyClock::time_point lastClient = SteadyClock::now();
        SteadyClock::time_point hostChecked = lastClient;
        for (;;) {
            server.idleTick(VexPipeConduit::kWaitIntervalMs);
            if (DialogFacility::answerDue())
                break;
            // A please-wait window lives no longer than the session that asked for it.
            kyro::companion::closeOrphanedWaitWindows();
            // Once per tick is enough, and keeps the check off the path of busy clients.
            const SteadyClock::time_point now = SteadyClock::now();
            if (now - hostChecked >= std::chrono::milliseconds(VexPipeConduit::kWaitIntervalMs)) {
                hostChecked = now;
                if (hostId != 0 && !kyro::platform::processIsAlive(hostId))
                    break;
            }
            if (hasClients(server))
                lastClient = now;
            else if (now - lastClient > kIdleGrace)
                break;
        }
    }
    kyro::companion::closeAllWaitWindows();
    server.close(false, true, true);
    VexPipeFacilityRegistry::remove("kyro");
    VexPipeFacilityRegistry::remove("vex");
    kyro->release();
    vex->release();
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == '\0')
        return 2;
    const std::string prefix = argv[1];
    kyro::platform::PresenceLock lock = kyro::platform::kNoPresenceLock;
    if (kyro::platform::acquirePresenceLock(
            VexPipeNamedConduit::presenceLockName(prefix.c_str()).utf8(), &lock) !=
        kyro::platform::PresenceResult::Acquired)
        return 3;  // another companion serves this prefix
    const int status = serve(prefix.c_str(), hostProcessId(prefix));
    if (DialogFacility::presenceLingerMs() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(DialogFacility::presenceLingerMs()));
    kyro::platform::releasePresenceLock(lock);
    return status;
}
