// The root certificate upkeep: what it tells the debugger output (read back through
// KYRO_DEBUG_OUTPUT) for each state of the trust store, and how often it fetches the root.
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

// Offline, the launch's step updates at the first launch and after each retry interval
// only, and not once the root is there; a store that cannot be opened is said so.
TEST(RootCertificate, CheckSaysWhatItFoundAndAMissingRootIsSoughtAgainAfterTheRetryInterval)
{
    DebugOutput output;
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
        EXPECT_EQ(output.take(), row.said) << "step " << ++step;
    }
    kyrointutil::setRootUpkeepTiming(before);
    ASSERT_TRUE(store.makeUnopenable());
    EXPECT_FALSE(kyrointutil::checkC7Certificate());
    EXPECT_EQ(output.take(), Lines{kNoStore});
}

}  // namespace
