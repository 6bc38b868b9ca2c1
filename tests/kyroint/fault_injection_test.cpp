// Failing system calls, one at a time: a save of the settings store and a consent written,
// with the nth file open, write, replacement or mutex creation failing (n = 1, 2, ... until
// the operation makes fewer calls), once and from the nth call on. Each must answer as
// documented, leave nothing behind (memory, handles, temporaries), keep the file old or
// new, never a mixture, and let the next operation through.
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/int/privacy_consent.h"
#include "kyro/platform/fault_injection.h"
#include "kyro/platform/process_launch.h"
#include "kyro/util/c_str.h"

#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {

using kyro::platform::FaultPoint;
using kyro::platform::FaultRepeat;
namespace platform = kyro::platform;

struct Operation {
    std::function<void()> prepare;     // puts the files in their starting state
    std::function<bool()> run;         // true when it succeeded
    std::function<void(bool)> check;   // judges the files, given run's answer
};

// Runs `operation` with each call of each point failing in turn; a read-modify-write is
// refused without its mutex.
void failEachCall(const Operation& operation)
{
    // A save refused for want of its mutex records an error: once here, before memory is counted.
    operation.prepare();
    platform::armFault(FaultPoint::NamedMutexOpen, 1, FaultRepeat::FromThenOn);
    EXPECT_FALSE(operation.run());
    platform::disarmFaults();
    for (const FaultPoint point :
         {FaultPoint::FileOpen, FaultPoint::FileWrite, FaultPoint::FileReplace, FaultPoint::NamedMutexOpen}) {
        for (const FaultRepeat repeat : {FaultRepeat::Once, FaultRepeat::FromThenOn}) {
            for (long n = 1; n < 50; ++n) {
                SCOPED_TRACE("point " + std::to_string(static_cast<int>(point)) + " call " + std::to_string(n) +
                             (repeat == FaultRepeat::Once ? " fails once" : " and later ones fail"));
                operation.prepare();
                const std::int64_t blocks = kyro::cstr::allocatedBlocks();
                const int handles = platform::openHandleCount();
                platform::armFault(point, n, repeat);
                const bool succeeded = operation.run();
                const long injected = platform::faultsInjected(point);
                platform::disarmFaults();
                EXPECT_EQ(kyro::cstr::allocatedBlocks(), blocks);
                EXPECT_EQ(platform::openHandleCount(), handles);
                operation.check(succeeded);
                if (injected == 0) {
                    EXPECT_TRUE(succeeded);
                    EXPECT_GT(n, 1);   // every point is reached
                    break;
                }
                // The load alone may go without its mutex; the save's own hold may not.
                if (point != FaultPoint::NamedMutexOpen || repeat == FaultRepeat::FromThenOn) {
                    EXPECT_FALSE(succeeded);
                }
                operation.prepare();
                EXPECT_TRUE(operation.run());   // with nothing failing, the next one goes through
                operation.check(true);
            }
        }
    }
}

int temporaryFiles(const TPath& folder)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(nativePath(folder)))
        count += entry.path().extension() == ".tmp";
    return count;
}

std::string storedValue(const TStr& path, const char* section, const char* key)
{
    CKyroUtilSettingsFile settings(false);
    TStr value;
    return settings.load(path) && settings.getValue(section, key, value) ? value.utf8() : "<none>";
}

TEST(FaultInjection, SettingsSaveKeepsTheOldFileOrWritesTheNewOne)
{
    TempFolder temp;
    const TPath path = temp / "KyroUserSettings.xml";
    const auto save = [&](const char* report) {
        CKyroUtilSettingsFile settings(true);
        return settings.load(path) && settings.setValue("Options", "Report", report) &&
               settings.setValue("Options", "Other", "kept") && settings.save(path);
    };
    ASSERT_TRUE(save("old"));
    const std::string oldBytes = readFileBytes(path);
    ASSERT_TRUE(save("new"));
    const std::string newBytes = readFileBytes(path);
    failEachCall({[&] { writeFileBytes(path, oldBytes); }, [&] { return save("new"); },
                  [&](bool saved) {
                      EXPECT_EQ(readFileBytes(path), saved ? newBytes : oldBytes);
                      EXPECT_EQ(storedValue(path, "Options", "Report"), saved ? "new" : "old");
                      EXPECT_EQ(temporaryFiles(temp.path()), 0);
                  }});
}

TEST(FaultInjection, AConsentIsWrittenWholeOrNotAtAll)
{
    TempFolder temp;
    const TPath folder = temp / "settings";   // made by the write
    const TPath path = folder / "KyroUserSettings.xml";
    const kyrointutil::KyroProductIdentity identity{"Product", "ProductQualifier"};
    failEachCall({[&] { std::filesystem::remove_all(nativePath(folder)); },
                  [&] { return kyrointutil::writePrivacyPolicyConsent(identity, true, path); },
                  [&](bool written) {
                      bool consented = false;
                      EXPECT_EQ(kyrointutil::readPrivacyPolicyConsent(identity, &consented, path), written);
                      EXPECT_EQ(consented, written);
                      if (fileExists(folder)) {
                          EXPECT_EQ(temporaryFiles(folder), 0);
                      }
                  }});
}

}  // namespace
