// A settings save with the nth file open, write, replacement or mutex creation failing, once
// and from then on: nothing left behind (memory, handles, temporaries), the file old or new,
// and the next save goes through.
#include "kyro/int/CKyroUtilSettingsFile.h"
#include "kyro/platform/fault_injection.h"
#include "kyro/platform/process_launch.h"
#include "kyro/util/c_str.h"

#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

namespace {

using kyro::platform::FaultPoint;
using kyro::platform::FaultRepeat;
namespace platform = kyro::platform;

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
    const auto check = [&](bool saved) {
        EXPECT_EQ(readFileBytes(path), saved ? newBytes : oldBytes);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(nativePath(temp.path())), {}), 1);
    };
    // A save refused for want of its mutex records an error: once here, before memory is counted.
    writeFileBytes(path, oldBytes);
    platform::armFault(FaultPoint::NamedMutexOpen, 1, FaultRepeat::FromThenOn);
    EXPECT_FALSE(save("new"));
    platform::disarmFaults();
    for (const FaultPoint point :
         {FaultPoint::FileOpen, FaultPoint::FileWrite, FaultPoint::FileReplace, FaultPoint::NamedMutexOpen}) {
        for (const FaultRepeat repeat : {FaultRepeat::Once, FaultRepeat::FromThenOn}) {
            for (long n = 1; n < 50; ++n) {
                SCOPED_TRACE("point " + std::to_string(static_cast<int>(point)) + " call " + std::to_string(n) +
                             (repeat == FaultRepeat::Once ? " fails once" : " and later ones fail"));
                writeFileBytes(path, oldBytes);
                const std::int64_t blocks = kyro::cstr::allocatedBlocks();
                const int handles = platform::openHandleCount();
                platform::armFault(point, n, repeat);
                const bool saved = save("new");
                const long injected = platform::faultsInjected(point);
                platform::disarmFaults();
                EXPECT_EQ(kyro::cstr::allocatedBlocks(), blocks);
                EXPECT_EQ(platform::openHandleCount(), handles);
                check(saved);
                if (injected == 0) {
                    EXPECT_TRUE(saved);
                    EXPECT_GT(n, 1);   // every point is reached
                    break;
                }
                // The load alone may go without its mutex; the save's own hold may not.
                if (point != FaultPoint::NamedMutexOpen || repeat == FaultRepeat::FromThenOn) {
                    EXPECT_FALSE(saved);
                }
                writeFileBytes(path, oldBytes);
                EXPECT_TRUE(save("new"));   // with nothing failing, the next one goes through
                check(true);
            }
        }
    }
}

}  // namespace
