// Ends at once, or with KYRO_TEST_WRAP="<ms>[:<file>]" wraps a launch (as KYRO_USE_SQUISH):
// starts argv[1] with the rest, lives <ms> on (writing every 50 ms and "survived" into <file>).
#include "kyro/platform/filesystem.h"
#include "kyro/platform/process_launch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    std::string how;
    if (!kyro::platform::environmentVariable("KYRO_TEST_WRAP", &how))
        return 0;
    if (argc < 2)
        return 2;
    std::string commandLine = std::string("\"") + argv[1] + "\"";
    for (int i = 2; i < argc; ++i)
        commandLine += std::string(" ") + argv[i];
    kyro::platform::LaunchedProcess wrapped;
    if (kyro::platform::launchProcess(argv[1], commandLine.c_str(), &wrapped,
                                      kyro::platform::ChildOutput::Discard) !=
        kyro::platform::LaunchResult::Started)
        return 3;
    kyro::platform::closePipeEnd(wrapped.input);

    const std::string::size_type colon = how.find(':');
    const auto lifetime = std::chrono::milliseconds(std::atoi(how.substr(0, colon).c_str()));
    const std::string file = colon == std::string::npos ? std::string() : how.substr(colon + 1);
    const auto end = std::chrono::steady_clock::now() + lifetime;
    while (!file.empty() && std::chrono::steady_clock::now() < end) {
        std::printf("wrapper still here\n");
        std::fflush(stdout);
        std::fprintf(stderr, "wrapper still here\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_until(end);
    if (std::FILE* survived = file.empty() ? nullptr : kyro::platform::openFile(file.c_str(), "ab")) {
        std::fputs("survived\n", survived);
        std::fclose(survived);
    }
    return 0;
}
