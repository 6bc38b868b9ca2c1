// Long runs: 1,000 dialog requests through a companion that keeps running, and 200 through one
// that ends after each answer, leave no more handles, threads, text blocks or private memory
// than before. KYRO_LONG_RUN_PERCENT=<percent> scales the counts, for a quick look.
#include "kyro/int/dialog_requests.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"
#include "kyro/util/c_str.h"

#include "FileBytes.h"
#include "HostProcess.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// How much each may grow: handles by two (a lock of Wine's runtime makes its kernel object
// once), private memory by 8 MiB (the heap keeps and fragments it; ASan holds it back).
const std::int64_t kSlack[] = {2, 0, 0, KYRO_TEST_SANITIZED ? INT64_MAX / 2 : 8 * 1024 * 1024};
std::vector<std::int64_t> figures()
{
    return {kyro::platform::openHandleCount(), kyro::platform::threadCount(), kyro::cstr::allocatedBlocks(),
        kyro::platform::privateMemoryBytes()};
}

bool requestOnce(int index)
{
    return index % 3 == 0 ? kyrointutil::showMessageBox("Kyro", "Go on?", 3, "Yes", "No", 1) == 1
        : index % 3 == 1  ? kyrointutil::showErrorDialog("Kyro", "Something failed", "The details", 4)
                          : kyrointutil::showInsufficientMemory();
}

// `argument` requests after a warm-up; prints what grew, returns how many were answered wrong.
KYRO_HOST_OPERATION(requests)
{
    for (int i = 0; i < 6; ++i)
        requestOnce(i);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));   // let go reader threads end
    const std::vector<std::int64_t> before = figures();
    int wrong = 0;
    for (int i = 0; i < std::atoi(argument.c_str()); ++i)
        wrong += requestOnce(i) ? 0 : 1;
    std::string grew = "(not looked)";
    for (int wait = 0; wait < 40 && !grew.empty(); ++wait) {   // the last threads end; a leak stays
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        grew.clear();
        const std::vector<std::int64_t> after = figures();
        for (std::size_t i = 0; i < after.size(); ++i) {
            if (after[i] > before[i] + kSlack[i])
                grew += " #" + std::to_string(i) + " " + std::to_string(before[i]) + "->" + std::to_string(after[i]);
        }
    }
    if (!grew.empty())
        std::printf("grew: %s\n", grew.c_str());
    return wrong;
}

TEST(LongRuns, ManyRequestsLeaveNothingBehind)
{
    std::string percent;
    const int scale =
        kyro::platform::environmentVariable("KYRO_LONG_RUN_PERCENT", &percent) ? std::atoi(percent.c_str()) : 100;
    const struct {
        int count;
        const char* script;
    } runs[] = {{1000, "MessageBox=1;ErrorDialog=reply"}, {200, "MessageBox=1+exit;ErrorDialog=reply+exit"}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.script);
        TempFolder folder;
        const HostRun host = runHost(folder, "requests/" + std::to_string(run.count * scale / 100), run.script);
        EXPECT_EQ(host.results, "requests=0\n") << host.output;
        EXPECT_EQ(readFileBytes(folder / "errors.log"), "");
    }
}

}  // namespace
