// The file-system floor: kinds of paths, folders, deletion and opened streams.
#include "kyro/platform/filesystem.h"

#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

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
