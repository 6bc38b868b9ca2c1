// Long runs leave no more handles, threads, text blocks or private memory than before.
// KYRO_LONG_RUN_PERCENT=<percent> scales the counts, for a quick look.
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
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// Handles may grow by two (a lock of Wine's runtime), private memory by 8 MiB (heap, ASan).
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

// `argument` requests after a warm-up; returns how many were answered wrong, plus 1000 on growth.
KYRO_HOST_OPERATION(requests)
{
    for (int i = 0; i < 6; ++i)
        requestOnce(i);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));   // let go reader threads end
    const std::vector<std::int64_t> before = figures();
    int wrong = 0;
    for (int i = 0; i < std::atoi(argument.c_str()); ++i)
        wrong += requestOnce(i) ? 0 : 1;
    bool grew = true;
    for (int wait = 0; wait < 40 && grew; ++wait) {   // the last threads end; a leak stays
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::vector<std::int64_t> after = figures();
        grew = false;
        for (std::size_t i = 0; i < after.size(); ++i)
            grew = grew || after[i] > before[i] + kSlack[i];
    }
    return wrong + (grew ? 1000 : 0);
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
