// A whole dialog request as a host makes it, with the real Vex.exe beside this program
// answering at once by script: connect (and the trusted-root check before it), handshake,
// the request, its reply, "system.cndTerm", close.
//
//   warm   the companion is running already (the requests follow one another closely)
//   cold   the companion is ended (untimed) before each request, which starts it afresh
//
//   kyro_dialog_timing [cold requests] [warm requests]
//
// Prints medians and quartiles. A plain program, built in both configurations, so the
// windows build is timed under Wine too.
#include "kyro/int/dialog_requests.h"
#include "kyro/pipe/VexPipeConduit.h"
#include "kyro/platform/filesystem.h"
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

void print(const char* what, std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    std::printf("%-22s median %8.2f ms   (quartiles %.2f .. %.2f, %zu requests)\n", what,
                samples[n / 2], samples[n / 4], samples[(3 * n) / 4], n);
}

TPath programFolder()
{
    return TPath(kyro::platform::executablePath().c_str()).directory();
}

// Ends the running companion (its script exits on "vex.ErrorDialog") and waits until its
// presence lock is gone.
void endCompanion()
{
    const TStr prefix = VexPipeNamedConduit::makePipePrefix("Vex.exe");
    if (VexPipeNamedConduit* conduit = VexPipeNamedConduit::connectToServer(
            programFolder() / "Vex.exe", prefix, VexPipeNamedConduit::kDefaultTimeout)) {
        VexPipePacket request(TStr("vex.ErrorDialog"), VexPipePacket::kWait), reply;
        conduit->call(&request, &reply, 0);
        conduit->close(true, true, true);
        delete conduit;
    }
    for (int i = 0; i < 500 && VexPipeNamedConduit::isServerRunning(prefix); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

double timedRequest()
{
    const Clock::time_point start = Clock::now();
    const int button = kyrointutil::showMessageBox("Kyro", "Timing", 3, "Yes", "No", 1);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (button != 1) {
        std::fprintf(stderr, "a request went unanswered\n");
        std::exit(1);
    }
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    const int coldCount = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;
    const int warmCount = argc > 2 ? std::max(3, std::atoi(argv[2])) : 200;

    // The library finds the companion beside this program through a custom environment
    // file, read on first use.
    const TPath configuration = programFolder() / "kyro_dialog_timing.xml";
    if (std::FILE* file = kyro::platform::openFile(configuration.utf8(), "w")) {
        std::fprintf(file,
                     "<KYROCUSTOMENV><PLATFORM OS=\"Windows\"><KEY ID=\"KYRO_COMMON_BIN_LOCATION\">"
                     "<STRING>%s</STRING></KEY></PLATFORM></KYROCUSTOMENV>\n",
                     programFolder().utf8());
        std::fclose(file);
    }
    kyro::platform::setEnvironmentVariable("NORVELDT_KYRO_CUSTOM_ENV", configuration.utf8());
    kyro::platform::setEnvironmentVariable("KYRO_VEX_ANSWERS", "vex.ErrorDialog=exit;MessageBox=1");
    endCompanion();

    std::vector<double> cold;
    for (int i = 0; i < coldCount; ++i) {
        cold.push_back(timedRequest());
        endCompanion();
    }
    std::vector<double> warm;
    timedRequest();
    for (int i = 0; i < warmCount; ++i)
        warm.push_back(timedRequest());
    endCompanion();

    print("dialog request, cold", cold);
    print("dialog request, warm", warm);
    return 0;
}
