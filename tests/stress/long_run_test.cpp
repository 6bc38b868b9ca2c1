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

// What a leak would make grow. Threads and the text library's blocks must come back
// exactly. Handles too, but for two: under Wine one lock of the runtime makes its kernel
// object the first time two threads meet at it, and keeps it. Private memory is the heap
// as the system sees it, which keeps some of what it was given back and fragments; 1,000
// requests that each kept 8 KiB would still pass 8 MiB. AddressSanitizer holds freed
// memory back on purpose, and its own leak check covers that one.
struct Usage {
    std::int64_t handles = kyro::platform::openHandleCount();
    std::int64_t threads = kyro::platform::threadCount();
    std::int64_t textBytes = kyro::cstr::allocatedBytes();
    std::int64_t textBlocks = kyro::cstr::allocatedBlocks();
    std::int64_t privateBytes = kyro::platform::privateMemoryBytes();
};
#ifdef KYRO_SANITIZE_ADDRESS
constexpr std::int64_t kPrivateSlack = INT64_MAX / 2;
#else
constexpr std::int64_t kPrivateSlack = 8 * 1024 * 1024;
#endif

// What grew past its slack, as "<name> <before> -> <after>; ...".
std::string grown(const Usage& before, const Usage& after)
{
    std::string text;
    const struct {
        const char* name;
        std::int64_t Usage::*field;
        std::int64_t slack;
    } figures[] = {{"handles", &Usage::handles, 2},          {"threads", &Usage::threads, 0},
                   {"textBytes", &Usage::textBytes, 0},     {"textBlocks", &Usage::textBlocks, 0},
                   {"privateBytes", &Usage::privateBytes, kPrivateSlack}};
    for (const auto& figure : figures) {
        if (before.*figure.field <= 0 && figure.field != &Usage::textBytes &&
            figure.field != &Usage::textBlocks)
            text += std::string(figure.name) + " cannot be told; ";
        if (after.*figure.field > before.*figure.field + figure.slack)
            text += std::string(figure.name) + " " + std::to_string(before.*figure.field) + " -> " +
                    std::to_string(after.*figure.field) + "; ";
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

// `argument` requests after a few that make what lives for the rest of the process (the
// logger, the locale, the framework's tables, per-thread caches). Prints what grew; its
// result is how many requests were not answered as scripted.
KYRO_HOST_OPERATION(requests)
{
    for (int i = 0; i < 6; ++i)
        requestOnce(i);
    // Reader threads that were let go end on their own, a moment later.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Usage before;
    int wrong = 0;
    const int count = std::atoi(argument.c_str());
    for (int i = 0; i < count; ++i)
        wrong += requestOnce(i) ? 0 : 1;
    // The last request's threads get their moment to end; a leak never comes back.
    std::string grew = grown(before, Usage());
    for (int wait = 0; wait < 40 && !grew.empty(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        grew = grown(before, Usage());
    }
    if (!grew.empty())
        std::printf("grew: %s\n", grew.c_str());
    return wrong;
}

TEST(LongRuns, ManyRequestsLeaveNothingBehind)
{
    const struct {
        int count;
        const char* script;
    } runs[] = {
        {scaled(1000), "MessageBox=1;ErrorDialog=reply"},
        // Each companion ends right after its answer; the next request starts another.
        {scaled(200), "MessageBox=1+exit;ErrorDialog=reply+exit"},
    };
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
