// The shared library loaded and unloaded at run time, as a host that loads it on demand
// does: its clean-up registry runs what was registered, newest first, at unload.
#include "kyro/platform/shared_library.h"
#include "kyro/util/CKyroUtilCleanup.h"
#include "kyro/util/TPath.h"

#include "ChildRole.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_cleaned;

struct Recorder : CKyroUtilCleanup {
    explicit Recorder(const char* name) : name(name) {}
    void cleanup(void*) override { g_cleaned.push_back(name); }
    std::string name;
};

TPath libraryPath()
{
    return thisTestProgram().directory() / KYRO_TEST_LIBRARY;
}

using RegisterFunction = int (*)(CKyroUtilCleanup*, void*);

}  // namespace

TEST(LibraryLoad, UnloadRunsTheRegisteredCleanupsNewestFirst)
{
    for (int round = 0; round < 2; ++round) {
        g_cleaned.clear();
        Recorder a("a"), b("b"), c("c");
        const kyro::platform::LibraryHandle library =
            kyro::platform::loadLibrary(libraryPath().utf8());
        ASSERT_NE(library, kyro::platform::kNoLibrary) << libraryPath().utf8();
        const auto registerCleanup = reinterpret_cast<RegisterFunction>(
            kyro::platform::librarySymbol(library, "registerCleanup"));
        ASSERT_NE(registerCleanup, nullptr);

        EXPECT_EQ(registerCleanup(&a, nullptr), 0);
        EXPECT_EQ(registerCleanup(&b, nullptr), 0);
        EXPECT_EQ(registerCleanup(&a, nullptr), -1);
        EXPECT_EQ(registerCleanup(&c, nullptr), 0);
        EXPECT_TRUE(g_cleaned.empty());

        ASSERT_TRUE(kyro::platform::unloadLibrary(library));
        EXPECT_EQ(g_cleaned, (std::vector<std::string>{"c", "b", "a"})) << "round " << round;
        // Really gone, so the next load starts from nothing.
        EXPECT_FALSE(kyro::platform::isLibraryLoaded(libraryPath().utf8()));
    }
}
