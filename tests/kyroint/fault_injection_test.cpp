// Failing system calls, one at a time: a save of the settings store and a consent written
// and read, with the nth file open, write, replacement or mutex creation failing (n = 1, 2,
// ... until the operation makes fewer calls), once and from the nth call on. Each must
// answer as documented, leave nothing behind (memory, handles, temporaries), keep the file
// old or new, never a mixture, and let the next operation through. (A log write that fails
// costs whole lines only: diagnostics_tests.)
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
#include <vector>

namespace {

using kyro::platform::FaultPoint;
using kyro::platform::FaultRepeat;
namespace platform = kyro::platform;

// The points the file operations below go through (pipes are the companion tests').
const FaultPoint kEveryPoint[] = {FaultPoint::FileOpen, FaultPoint::FileWrite,
                                  FaultPoint::FileReplace, FaultPoint::NamedMutexOpen};

const char* nameOf(FaultPoint point)
{
    static const char* const kNames[] = {"open", "write", "replace", "mutex", "pipe"};
    return kNames[static_cast<int>(point)];
}

struct DisarmAtEnd {
    ~DisarmAtEnd() { platform::disarmFaults(); }
};

// One operation under test.
struct Operation {
    std::function<void()> prepare;     // puts the files in their starting state
    std::function<bool()> run;         // does it; true when it succeeded
    std::function<void(bool)> check;   // judges the files, given run's answer
    bool needsMutex = false;           // a read-modify-write: refused without its mutex
};

// Runs `operation` with the nth call of `point` failing, n = 1, 2, ... while it makes n.
void failEachCall(const Operation& operation, FaultPoint point)
{
    for (const FaultRepeat repeat : {FaultRepeat::Once, FaultRepeat::FromThenOn}) {
        for (long n = 1;; ++n) {
            SCOPED_TRACE(std::string(nameOf(point)) + " call " + std::to_string(n) +
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
                EXPECT_TRUE(succeeded);   // nothing failed
                break;
            }
            // Only a load gets through a mutex that cannot be made; a read-modify-write whose
            // load alone was refused it gets through too.
            if (point != FaultPoint::NamedMutexOpen || !operation.needsMutex || repeat == FaultRepeat::FromThenOn) {
                EXPECT_EQ(succeeded, point == FaultPoint::NamedMutexOpen && !operation.needsMutex);
            }

            // With nothing failing, the next one goes through.
            operation.prepare();
            EXPECT_TRUE(operation.run());
            operation.check(true);
            ASSERT_LT(n, 50) << "the operation never got through";
        }
    }
}

// The sweep for every kind of call; answers the kinds the operation makes ("open write ...").
std::string failEveryKindOfCall(const Operation& operation)
{
    DisarmAtEnd disarm;
    operation.prepare();
    for (const FaultPoint point : kEveryPoint)
        platform::armFault(point, 0);
    EXPECT_TRUE(operation.run());
    platform::disarmFaults();
    operation.check(true);
    std::string reached;
    for (const FaultPoint point : kEveryPoint) {
        if (platform::faultPointCalls(point) > 0)
            reached += std::string(reached.empty() ? "" : " ") + nameOf(point);
    }
    for (const FaultPoint point : kEveryPoint)
        failEachCall(operation, point);
    return reached;
}

// Leftovers of saves: temporary files in the folder.
int temporaryFiles(const TPath& folder)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(nativePath(folder)))
        count += entry.path().extension() == ".tmp";
    return count;
}

// The value a fresh store reads from the file; "<none>" when it does not load.
std::string storedValue(const TStr& path, const char* section, const char* key)
{
    CKyroUtilSettingsFile settings(false);
    TStr value;
    return settings.load(path) && settings.getValue(section, key, value) ? value.utf8() : "<none>";
}

// ---- the settings store -----------------------------------------------------------------

// A save refused for want of its mutex records an error: once here, before memory is counted.
void warmUpUnlockedSave(const Operation& operation)
{
    DisarmAtEnd disarm;
    operation.prepare();
    platform::armFault(FaultPoint::NamedMutexOpen, 1, FaultRepeat::FromThenOn);
    EXPECT_FALSE(operation.run());
    platform::disarmFaults();
}

TEST(FaultInjection, SettingsSaveKeepsTheOldFileOrWritesTheNewOne)
{
    TempFolder temp;
    const TPath path = temp / "KyroUserSettings.xml";

    // The old file and the new one, as a save with nothing failing writes them.
    CKyroUtilSettingsFile settings(false);
    ASSERT_TRUE(settings.load(path) && settings.setValue("Options", "Report", "old") &&
                settings.setValue("Options", "Other", "kept") && settings.save(path));
    const std::string oldBytes = readFileBytes(path);
    ASSERT_TRUE(settings.load(path) && settings.setValue("Options", "Report", "new") && settings.save(path));
    const std::string newBytes = readFileBytes(path);

    Operation save{
        [&] { writeFileBytes(path, oldBytes); },
        [&] {
            CKyroUtilSettingsFile settings(true);
            return settings.load(path) && settings.setValue("Options", "Report", "new") &&
                   settings.save(path);
        },
        [&](bool saved) {
            EXPECT_EQ(readFileBytes(path), saved ? newBytes : oldBytes);
            EXPECT_EQ(storedValue(path, "Options", "Report"), saved ? "new" : "old");
            EXPECT_EQ(storedValue(path, "Options", "Other"), "kept");
            EXPECT_EQ(temporaryFiles(temp.path()), 0);
        }};
    save.needsMutex = true;
    warmUpUnlockedSave(save);
    EXPECT_EQ(failEveryKindOfCall(save), "open write replace mutex");
}

TEST(FaultInjection, ConsentWriteAndReadAnswerFalseOrRecordTheAnswer)
{
    TempFolder temp;
    const TPath folder = temp / "settings";
    const TPath path = folder / "KyroUserSettings.xml";
    const kyrointutil::KyroProductIdentity identity{"Product", "ProductQualifier"};

    // Written into a file that is not there yet, in a folder that is not there yet.
    Operation write{
        [&] { std::filesystem::remove_all(nativePath(folder)); },
        [&] { return kyrointutil::writePrivacyPolicyConsent(identity, true, path); },
        [&](bool written) {
            bool consented = false;
            EXPECT_EQ(kyrointutil::readPrivacyPolicyConsent(identity, &consented, path), written);
            EXPECT_EQ(consented, written);
            if (fileExists(folder)) {
                EXPECT_EQ(temporaryFiles(folder), 0);
            } else {
                EXPECT_FALSE(written);
            }
        }};
    write.needsMutex = true;
    warmUpUnlockedSave(write);
    EXPECT_EQ(failEveryKindOfCall(write), "open write replace mutex");

    // Read back: not found when the file cannot be read.
    ASSERT_TRUE(kyrointutil::writePrivacyPolicyConsent(identity, false, path));
    const std::string bytes = readFileBytes(path);
    EXPECT_EQ(failEveryKindOfCall(Operation{
        [] {},
        [&] {
            bool consented = true;
            const bool found = kyrointutil::readPrivacyPolicyConsent(identity, &consented, path);
            EXPECT_FALSE(consented);
            return found;
        },
                  [&](bool) { EXPECT_EQ(readFileBytes(path), bytes); }}),
              "open mutex");
}

}  // namespace
