// The file-system floor: text streams, what we create, and what others plant where we write.
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

bool opens(const TPath& path, const char* mode)
{
    std::FILE* stream = openFile(path.utf8(), mode);
    if (stream == nullptr)
        return false;
    std::fclose(stream);
    return true;
}

}  // namespace

// Text streams write the system's line ends; non-ASCII names are not narrowed to a code page.
TEST(PlatformFileSystem, TextStreamsAndNonAsciiNames)
{
    TempFolder temp;
    const TPath path = temp / "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5.txt";
    for (const char* mode : {"w", "a+"}) {
        std::FILE* out = openFile(path.utf8(), mode);
        ASSERT_NE(out, nullptr);
        std::fputs("one\n", out);
        std::fclose(out);
    }
    EXPECT_EQ(readFileBytes(path), std::string("one") + kTextLineEnd + "one" + kTextLineEnd);
    EXPECT_EQ(removeFile(path.utf8()), 0);
    EXPECT_EQ(pathKind(path.utf8()), PathKind::Missing);
}

TEST(PlatformFileSystem, FilesWeCreateAreOursOnlyWhateverTheMask)
{
    TempFolder temp;
    const unsigned mask = setCreationMask(0);  // a host started with umask 000
    std::string detail;
    for (const char* mode : {"w", "a+", "ab"}) {
        const TPath path = temp / (std::string("made-") + mode[0] + mode[1] + ".log").c_str();
        ASSERT_TRUE(opens(path, mode));
        EXPECT_TRUE(fileIsUserOnly(path, &detail)) << mode << ": " << detail;
    }
    // createNewFile() too, and only where nothing is: never an existing file.
    const TPath fresh = temp / "fresh.tmp";
    std::FILE* stream = createNewFile(fresh.utf8());
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    EXPECT_TRUE(fileIsUserOnly(fresh, &detail)) << detail;
    EXPECT_EQ(createNewFile(fresh.utf8()), nullptr);
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
        for (const std::string mode : row.refused) {
            if (mode == "new")
                EXPECT_EQ(createNewFile(planted.utf8()), nullptr);
            else
                EXPECT_FALSE(opens(planted, mode.c_str())) << mode;
        }
        EXPECT_EQ(opens(planted, "rb"), row.reads);
        EXPECT_EQ(readFileBytes(victim), "precious");
        EXPECT_FALSE(std::filesystem::exists(nativePath(elsewhere)));
    }
}
