// The file-system floor: what we create, and what others plant where we write.
#include "kyro/platform/filesystem.h"

#include "Accounts.h"
#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace kyro::platform;

namespace {

// Whether the file opens in `mode` ("new": createNewFile()).
bool opens(const TPath& path, const std::string& mode)
{
    std::FILE* stream = mode == "new" ? createNewFile(path.utf8()) : openFile(path.utf8(), mode.c_str());
    return stream != nullptr && std::fclose(stream) == 0;
}

}  // namespace

TEST(PlatformFileSystem, FilesWeCreateAreOursOnlyWhateverTheMask)
{
    TempFolder temp;
    const unsigned mask = setCreationMask(0);  // a host started with umask 000
    std::string detail;
    for (const char* mode : {"w", "a+", "ab", "new"}) {
        const TPath path = temp / (std::string("made-") + mode + ".log").c_str();
        ASSERT_TRUE(opens(path, mode));
        EXPECT_TRUE(fileIsUserOnly(path, &detail)) << mode << ": " << detail;
    }
    EXPECT_FALSE(opens(temp / "made-w.log", "new"));  // never where a file is
    const TPath folder = temp / "folder";
    ASSERT_TRUE(makeDirectory(folder.utf8()));
    EXPECT_TRUE(KYRO_TEST_WINDOWS || (std::filesystem::status(nativePath(folder)).permissions() &
                                      std::filesystem::perms::all) == std::filesystem::perms::owner_all);
    setCreationMask(mask);
}

// Writes never follow a link nor reach a file of several names; only plain files are opened.
// Kinds this system cannot make are passed over (Wine 8 makes no symbolic links).
TEST(PlatformFileSystem, WritesGoOnlyToPlainFilesOfOneName)
{
    TempFolder temp;
    const TPath victim = temp / "victim.txt";
    writeFileBytes(victim, "precious");
    const TPath elsewhere = temp / "made-through-link.txt";
    std::error_code error;
    // refused: the modes that fail ("new": createNewFile()); reads: whether "rb" opens (what
    // is read is trusted only as far as its content). A fifo neither blocks nor passes as a file.
    const struct {
        const char* name;
        std::function<bool(const TPath&)> plant;
        std::vector<const char*> refused;
        bool reads;
    } rows[] = {
        {"a folder", [](const TPath& at) { return makeDirectory(at.utf8()); }, {"a+"}, false},
        {"a link", [&](const TPath& at) { return makeSymbolicLink(at, victim); },
         {"w", "wb", "a", "a+", "ab", "r+"}, true},
        {"a dangling link", [&](const TPath& at) { return makeSymbolicLink(at, elsewhere); },
         {"a+", "new"}, false},
        {"a second name",
         [&](const TPath& at) {
             std::filesystem::create_hard_link(nativePath(victim), nativePath(at), error);
             return !error;
         },
         {"a+", "w"}, true},
        {"a fifo", [](const TPath& at) { return makeFifo(at); }, {"a+", "w"}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const TPath planted = temp / (std::string(row.name) + ".log").c_str();
        if (!row.plant(planted))
            continue;
        for (const char* mode : row.refused)
            EXPECT_FALSE(opens(planted, mode)) << mode;
        EXPECT_EQ(opens(planted, "rb"), row.reads);
        EXPECT_EQ(readFileBytes(victim), "precious");
        EXPECT_FALSE(std::filesystem::exists(nativePath(elsewhere)));
    }
}
