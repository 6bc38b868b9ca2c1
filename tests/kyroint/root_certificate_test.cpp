// The root certificate upkeep: what it tells the debugger output for each state of the
// trust store, and how often it fetches the root.
#include "kyro/int/root_certificate.h"
#include "kyro/platform/debug_output.h"

#include "../platform/TrustTestSupport.h"
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
const char kUpdating[] = "KyRO: updateRootCertificate - Updating certificate for Corvel 'PRODUCTION'...";
const char kUrlFailed[] = "KyRO: updateRootCertificate - Failed to open URL !!!";

// Offline, the launch's step updates at the first launch and after each retry interval
// only, and not once the root is there.
TEST(RootCertificate, CheckSaysWhatItFoundAndAMissingRootIsSoughtAgainAfterTheRetryInterval)
{
    TempFolder folder;
    const TPath file = folder / "debug.log";   // the debugger output
    ScopedVariable variable(kyro::platform::kDebugOutputFileVariable, nativePath(file).u8string().c_str());
    const auto output = [&] {
        const Lines lines = looseFileLines(file);
        writeFileBytes(file, "");
        return lines;
    };
    TestTrustStore store;
    // Another letter case, or the name in a field that is not the display name.
    ASSERT_TRUE(store.hold({"gte-root-other-case.pem", "name-from-common-name.pem"}));
    const UnreachableNetwork network;
    ASSERT_TRUE(network.active());
    const kyrointutil::RootUpkeepTiming before = kyrointutil::setRootUpkeepTiming({5000, 400});
    const Lines updated = {kNotFound, kUpdating, kUrlFailed};
    const struct {
        bool waitFirst;
        const char* held;
        Lines said;
    } rows[] = {
        {true, nullptr, updated},   {false, nullptr, {kNotFound}}, {true, nullptr, updated},
        {false, nullptr, {kNotFound}}, {true, "gte-root.pem", {kFound}},
    };
    int step = 0;
    for (const auto& row : rows) {
        if (row.held != nullptr) {
            ASSERT_TRUE(store.hold({row.held}));
        }
        if (row.waitFirst)
            std::this_thread::sleep_for(std::chrono::milliseconds(450));
        kyrointutil::keepRootCertificate(nullptr, nullptr);
        EXPECT_EQ(output(), row.said) << "step " << ++step;
    }
    kyrointutil::setRootUpkeepTiming(before);
}

}  // namespace
