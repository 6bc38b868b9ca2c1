// The file-system floor: kinds of paths, folders, deletion and opened streams.
#include "kyro/platform/filesystem.h"

#include "Accounts.h"
#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

using namespace kyro::platform;

TEST(PlatformFileSystem, PathKindsAndFolders)
{
    TempFolder temp;
    const TPath folder = temp / "made";
    EXPECT_EQ(pathKind(temp.path().utf8()), PathKind::Directory);
    EXPECT_EQ(pathKind(folder.utf8()), PathKind::Missing);
    EXPECT_TRUE(makeDirectory(folder.utf8()));
    EXPECT_FALSE(makeDirectory(folder.utf8()));  // already there
    EXPECT_EQ(pathKind(folder.utf8()), PathKind::Directory);
    EXPECT_FALSE(makeDirectory((temp / "a\\b").utf8()));  // parent missing

    const TPath file = temp / "file.txt";
    writeFileBytes(file, "abc");
    EXPECT_EQ(pathKind(file.utf8()), PathKind::File);
    EXPECT_EQ(removeFile(file.utf8()), 0);
    EXPECT_EQ(pathKind(file.utf8()), PathKind::Missing);
    EXPECT_EQ(removeFile(file.utf8()), -1);

    EXPECT_EQ(pathKind(""), PathKind::Missing);
    EXPECT_EQ(pathKind(nullptr), PathKind::Missing);
    EXPECT_FALSE(makeDirectory(""));
    EXPECT_EQ(removeFile(""), -1);
}

TEST(PlatformFileSystem, TextStreamsUseThePlatformLineEnd)
{
    TempFolder temp;
    const TPath path = temp / "lines.txt";
    std::FILE* out = openFile(path.utf8(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs("one\ntwo\n", out);
    std::fclose(out);
    EXPECT_EQ(readFileBytes(path), std::string("one") + kTextLineEnd + "two" + kTextLineEnd);

    std::FILE* append = openFile(path.utf8(), "a+");
    ASSERT_NE(append, nullptr);
    std::fputs("three\n", append);
    std::fclose(append);
    EXPECT_EQ(readFileBytes(path), textLines("one\ntwo\nthree\n"));

    EXPECT_EQ(openFile((temp / "missing\\x.txt").utf8(), "a+"), nullptr);
    EXPECT_EQ(openFile(nullptr, "r"), nullptr);

    // Non-ASCII names are opened as such, not through a narrow code page.
    const TPath accented = temp / "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5.txt";
    std::FILE* named = openFile(accented.utf8(), "w");
    ASSERT_NE(named, nullptr);
    std::fclose(named);
    EXPECT_TRUE(fileExists(accented));
}

// ---- Other users' links and files in folders they can write -----------------------------

namespace {

// Restores the file creation mask.
struct CreationMask {
    explicit CreationMask(unsigned mask) : old(setCreationMask(mask)) {}
    ~CreationMask() { setCreationMask(old); }
    unsigned old;
};

bool opens(const TPath& path, const char* mode)
{
    std::FILE* stream = openFile(path.utf8(), mode);
    if (stream == nullptr)
        return false;
    std::fclose(stream);
    return true;
}

}  // namespace

TEST(PlatformFileSystem, FilesWeCreateAreOursOnlyWhateverTheMask)
{
    TempFolder temp;
    // A host started with umask 000.
    CreationMask mask(0);
    std::string detail;
    for (const char* mode : {"w", "a+", "ab"}) {
        const TPath path = temp / (std::string("made-") + mode[0] + mode[1] + ".log").c_str();
        std::FILE* stream = openFile(path.utf8(), mode);
        ASSERT_NE(stream, nullptr) << mode;
        std::fclose(stream);
        EXPECT_TRUE(fileIsUserOnly(path, &detail)) << mode << ": " << detail;
    }
    const TPath fresh = temp / "fresh.tmp";
    std::FILE* stream = createNewFile(fresh.utf8());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(writeFile(stream, "new", 3), 3u);
    std::fclose(stream);
    EXPECT_EQ(readFileBytes(fresh), "new");
    EXPECT_TRUE(fileIsUserOnly(fresh, &detail)) << detail;
    // Only a path where nothing is: never an existing file.
    EXPECT_EQ(createNewFile(fresh.utf8()), nullptr);
    EXPECT_EQ(readFileBytes(fresh), "new");
    EXPECT_EQ(createNewFile(temp.path().utf8()), nullptr);
    EXPECT_EQ(createNewFile(""), nullptr);
    if (!KYRO_TEST_WINDOWS) {
        const TPath folder = temp / "folder";
        ASSERT_TRUE(makeDirectory(folder.utf8()));
        EXPECT_EQ(std::filesystem::status(nativePath(folder)).permissions() &
                      std::filesystem::perms::all,
                  std::filesystem::perms::owner_all);
    }
}

TEST(PlatformFileSystem, WritesNeverFollowALinkNorReachAFileOfSeveralNames)
{
    TempFolder temp;
    const TPath victim = temp / "victim.txt";
    writeFileBytes(victim, "precious");
    const TPath link = temp / "planted.log";
    if (!makeSymbolicLink(link, victim)) {
        // Wine 8 makes no symbolic links for Windows programs, so the refusal of reparse
        // points (FILE_FLAG_OPEN_REPARSE_POINT) cannot be shown there.
        GTEST_SKIP() << "no symbolic links can be made here (Wine 8 has none for Windows "
                        "programs)";
    }
    for (const char* mode : {"w", "wb", "a", "a+", "ab", "r+"})
        EXPECT_FALSE(opens(link, mode)) << mode;
    EXPECT_EQ(readFileBytes(victim), "precious");
    // Reading through a link is allowed: what is read is only trusted as far as its content.
    EXPECT_TRUE(opens(link, "rb"));
    // A dangling link is not created through either.
    const TPath dangling = temp / "dangling.log";
    ASSERT_TRUE(makeSymbolicLink(dangling, temp / "made-through-link.txt"));
    EXPECT_FALSE(opens(dangling, "a+"));
    EXPECT_EQ(createNewFile(dangling.utf8()), nullptr);
    EXPECT_FALSE(std::filesystem::exists(nativePath(temp / "made-through-link.txt")));
}

TEST(PlatformFileSystem, OnlyPlainFilesAreOpened)
{
    TempFolder temp;
    EXPECT_FALSE(opens(temp.path(), "rb"));
    EXPECT_FALSE(opens(temp.path(), "a+"));

    // A file that also has another name elsewhere is not written.
    const TPath victim = temp / "victim.txt";
    writeFileBytes(victim, "precious");
    const TPath second = temp / "second-name.log";
    std::error_code error;
    std::filesystem::create_hard_link(nativePath(victim), nativePath(second), error);
    if (!error) {
        EXPECT_FALSE(opens(second, "a+"));
        EXPECT_FALSE(opens(second, "w"));
        EXPECT_EQ(readFileBytes(victim), "precious");
        EXPECT_TRUE(opens(second, "rb"));
    }

    // A pipe planted at the path neither blocks the open nor is taken for a file.
    const TPath fifo = temp / "fifo.log";
    if (makeFifo(fifo)) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(opens(fifo, "a+"));
        EXPECT_FALSE(opens(fifo, "w"));
        EXPECT_FALSE(opens(fifo, "rb"));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
}
