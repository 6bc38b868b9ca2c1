// Long runs. One host process makes 1,000 dialog requests through a companion that keeps
// running, and 200 through a companion that ends after each answer and is started again;
// afterwards it holds no more handles, threads, text blocks or private memory than before.
// KYRO_LONG_RUN_PERCENT=<percent> scales the counts, for a quick look.
#include "kyro/int/dialog_requests.h"
#include "kyro/platform/process_info.h"
#include "kyro/platform/process_launch.h"
#include "kyro/util/c_str.h"

#include "FileBytes.h"
#include "HostProcess.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

int scaled(int count)
{
    std::string percent;
    if (!kyro::platform::environmentVariable("KYRO_LONG_RUN_PERCENT", &percent) || percent.empty())
        return count;
    return std::max(1, static_cast<int>(static_cast<long long>(count) * std::atoi(percent.c_str()) / 100));
}

// What a leak would make grow, and by how much it may. Handles by two (a lock of Wine's
// runtime makes its kernel object once and keeps it); private memory, which the heap keeps
// and fragments, by 8 MiB (1,000 requests that each kept 8 KiB would still pass); ASan holds
// freed memory back on purpose, and its own leak check covers that.
#ifdef KYRO_SANITIZE_ADDRESS
constexpr std::int64_t kPrivateSlack = INT64_MAX / 2;
#else
constexpr std::int64_t kPrivateSlack = 8 * 1024 * 1024;
#endif
const struct {
    const char* name;
    std::int64_t (*read)();
    std::int64_t slack;
    bool mustBeKnown;
} kFigures[] = {
    {"handles", [] { return std::int64_t{kyro::platform::openHandleCount()}; }, 2, true},
    {"threads", [] { return std::int64_t{kyro::platform::threadCount()}; }, 0, true},
    {"textBytes", kyro::cstr::allocatedBytes, 0, false},
    {"textBlocks", kyro::cstr::allocatedBlocks, 0, false},
    {"privateBytes", kyro::platform::privateMemoryBytes, kPrivateSlack, true},
};
constexpr std::size_t kFigureCount = sizeof kFigures / sizeof kFigures[0];

// What grew past its slack since `before`, as "<name> <before> -> <after>; ...".
std::string grown(const std::int64_t (&before)[kFigureCount])
{
    std::string text;
    for (std::size_t i = 0; i < kFigureCount; ++i) {
        const std::int64_t after = kFigures[i].read();
        if (kFigures[i].mustBeKnown && before[i] <= 0)
            text += std::string(kFigures[i].name) + " cannot be told; ";
        if (after > before[i] + kFigures[i].slack)
            text += std::string(kFigures[i].name) + " " + std::to_string(before[i]) + " -> " + std::to_string(after) + "; ";
    }
    return text;
}

bool requestOnce(int index)
{
    switch (index % 3) {
    case 0:
        return kyrointutil::showMessageBox("Kyro", "Go on?", 3, "Yes", "No", 1) == 1;
    case 1:
        return kyrointutil::showErrorDialog("Kyro", "Something failed", "The details", 4);
    default:
        return kyrointutil::showInsufficientMemory();
    }
}

// `argument` requests after a few that make what lives for the rest of the process; prints
// what grew, returns how many requests were not answered as scripted.
KYRO_HOST_OPERATION(requests)
{
    for (int i = 0; i < 6; ++i)
        requestOnce(i);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));   // let go reader threads end
    std::int64_t before[kFigureCount];
    for (std::size_t i = 0; i < kFigureCount; ++i)
        before[i] = kFigures[i].read();
    int wrong = 0;
    for (int i = 0; i < std::atoi(argument.c_str()); ++i)
        wrong += requestOnce(i) ? 0 : 1;
    std::string grew = grown(before);
    for (int wait = 0; wait < 40 && !grew.empty(); ++wait) {   // the last threads end; a leak stays
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        grew = grown(before);
    }
    if (!grew.empty())
        std::printf("grew: %s\n", grew.c_str());
    return wrong;
}

TEST(LongRuns, ManyRequestsLeaveNothingBehind)
{
    // The second companion ends right after each answer; the next request starts another.
    const struct {
        int count;
        const char* script;
    } runs[] = {{scaled(1000), "MessageBox=1;ErrorDialog=reply"}, {scaled(200), "MessageBox=1+exit;ErrorDialog=reply+exit"}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.script);
        TempFolder folder;
        const HostRun host = runHost(folder, "requests/" + std::to_string(run.count), run.script);
        EXPECT_EQ(host.results, "requests=0\n") << host.output;
        ASSERT_EQ(host.times.size(), 1u) << host.output;
        RecordProperty(run.script, std::to_string(host.times[0]) + " ms");
        EXPECT_EQ(readFileBytes(folder / "errors.log"), "");
    }
}

}  // namespace
