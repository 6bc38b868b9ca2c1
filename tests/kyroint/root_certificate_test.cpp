// The root certificate upkeep: what it tells the debugger output (read back through
// KYRO_DEBUG_OUTPUT) for each state of the trust store, and how often it fetches the root.
#include "kyro/int/root_certificate.h"
#include "kyro/platform/debug_output.h"

#include "../platform/TrustTestSupport.h"
#include "ChildRole.h"
#include "FileBytes.h"
#include "ScopedVariable.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const char kFound[] = "KyRO: checkC7Certificate - Found required certificate in the store.";
const char kNotFound[] = "KyRO: checkC7Certificate - Unable to find required certiface in the store.";
const char kNoStore[] = "KyRO: checkC7Certificate - Unable to open certificate store !!!";
const char kUpdating[] = "KyRO: updateRootCertificate - Updating certificate for Corvel 'PRODUCTION'...";
const char kUrlFailed[] = "KyRO: updateRootCertificate - Failed to open URL !!!";

// The debugger output while the object lives; take() answers the lines since the last call.
class DebugOutput {
public:
    Lines take()
    {
        const Lines lines = looseFileLines(m_file);
        writeFileBytes(m_file, "");
        return lines;
    }

private:
    TempFolder m_folder;
    TPath m_file = m_folder / "debug.log";
    ScopedVariable m_variable{kyro::platform::kDebugOutputFileVariable, nativePath(m_file).u8string().c_str()};
};

TEST(RootCertificate, CheckReportsWhetherTheRootIsInTheStore)
{
    DebugOutput output;
    TestTrustStore store;
    const struct {
        std::vector<std::string> held;   // {"-"}: the store cannot be opened
        bool found;
        const char* said;
    } rows[] = {
        {{"other-root.pem", "gte-root.pem", "gte-root-other-case.pem"}, true, kFound},
        // Another letter case, or the name in a field that is not the display name.
        {{"gte-root-other-case.pem", "name-from-common-name.pem"}, false, kNotFound},
        {{}, false, kNotFound},
        {{"-"}, false, kNoStore},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(row.held == std::vector<std::string>{"-"} ? store.makeUnopenable() : store.hold(row.held));
        EXPECT_EQ(kyrointutil::checkC7Certificate(), row.found) << row.said;
        EXPECT_EQ(output.take(), Lines{row.said});
    }
}

TEST(RootCertificate, AnUpdateThatCannotReachTheAddressSaysSo)
{
    DebugOutput output;
    {
        const UnreachableNetwork network;
        ASSERT_TRUE(network.active());
        EXPECT_FALSE(kyrointutil::updateRootCertificate());
        EXPECT_EQ(output.take(), (Lines{kUpdating, kUrlFailed}));
    }
    // One that never answers is given up at the limit, the caller's idle work going on.
    const UnreachableNetwork network(true);
    ASSERT_TRUE(network.active());
    int calls = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(kyrointutil::updateRootCertificate(700, &countIdleCalls, &calls));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
    EXPECT_GE(calls, 4);
    EXPECT_EQ(output.take(), (Lines{kUpdating, kUrlFailed}));
}

// Offline, the launch's step updates at the first launch and after each retry interval only.
TEST(RootCertificate, AMissingRootIsSoughtAgainAfterTheRetryInterval)
{
    DebugOutput output;
    TestTrustStore store;
    ASSERT_TRUE(store.hold({"other-root.pem"}));
    const UnreachableNetwork network;
    ASSERT_TRUE(network.active());
    const kyrointutil::RootUpkeepTiming before = kyrointutil::setRootUpkeepTiming({5000, 400});
    const Lines updated = {kNotFound, kUpdating, kUrlFailed};
    const struct {
        bool waitFirst;
        const char* held;
        Lines said;
    } rows[] = {
        {true, nullptr, updated},   {false, nullptr, {kNotFound}}, {false, nullptr, {kNotFound}},
        {true, nullptr, updated},   {false, nullptr, {kNotFound}},
        {true, "gte-root.pem", {kFound}},   // once the root is there, nothing is fetched
    };
    int step = 0;
    for (const auto& row : rows) {
        if (row.held != nullptr) {
            ASSERT_TRUE(store.hold({row.held}));
        }
        if (row.waitFirst)
            std::this_thread::sleep_for(std::chrono::milliseconds(450));
        kyrointutil::keepRootCertificate(nullptr, nullptr);
        EXPECT_EQ(output.take(), row.said) << "step " << ++step;
    }
    kyrointutil::setRootUpkeepTiming(before);
}

// The whole upkeep, network out of reach, in a process whose standard output is read.
KYRO_CHILD_ROLE(upkeepQuietly)
{
    const UnreachableNetwork network;
    if (network.active() && !kyrointutil::checkC7Certificate())
        kyrointutil::updateRootCertificate();
    return network.active() ? 0 : 2;
}

TEST(RootCertificate, NothingReachesTheStandardOutputOrError)
{
    DebugOutput output;
    std::string printed = "not run";
    ASSERT_TRUE(runRole("upkeepQuietly", &printed));
    EXPECT_EQ(printed, "");
    const Lines lines = output.take();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines, lines[0] == kFound ? Lines{kFound} : (Lines{lines[0], kUpdating, kUrlFailed}));
}

}  // namespace
