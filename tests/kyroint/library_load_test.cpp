// The shared library loaded and unloaded at run time, as a host that loads it on demand does:
// its clean-up registry runs at unload.
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

}  // namespace

TEST(LibraryLoad, UnloadRunsTheRegisteredCleanupsNewestFirst)
{
    const std::string library = (thisTestProgram().directory() / KYRO_TEST_LIBRARY).utf8();
    for (int round = 0; round < 2; ++round) {   // the second load starts from nothing
        g_cleaned.clear();
        Recorder a("a"), b("b");
        const kyro::platform::LibraryHandle loaded = kyro::platform::loadLibrary(library.c_str());
        ASSERT_NE(loaded, kyro::platform::kNoLibrary) << library;
        const auto registerCleanup = reinterpret_cast<int (*)(CKyroUtilCleanup*, void*)>(
            kyro::platform::librarySymbol(loaded, "registerCleanup"));
        ASSERT_NE(registerCleanup, nullptr);
        EXPECT_EQ(registerCleanup(&a, nullptr) + registerCleanup(&b, nullptr), 0);
        ASSERT_TRUE(kyro::platform::unloadLibrary(loaded));
        EXPECT_EQ(g_cleaned, (std::vector<std::string>{"b", "a"})) << "round " << round;
        EXPECT_FALSE(kyro::platform::isLibraryLoaded(library.c_str()));
    }
}
