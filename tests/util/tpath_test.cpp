// TPath: joins and splits by "\" (on every platform), and real file-system checks.
#include "kyro/util/TPath.h"

#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

TEST(TPath, Joins)
{
    const struct {
        const char* left;
        const char* right;
        const char* joined;
    } rows[] = {
        {"C:\\a\\", "b", "C:\\a\\b"},
        {"C:\\a", "\\b", "C:\\a\\b"},
        {"C:\\a\\", "\\b", "C:\\a\\b"},
        {"C:\\a", "b", "C:\\a\\b"},
        {"C:\\a", "", "C:\\a"},
        {"", "b", "\\b"},   // an empty text (not a null one) still gets the separator
        {"a", "b\\c\\", "a\\b\\c\\"},
        {"C:\\a\\\\", "\\\\b", "C:\\a\\\\\\b"},  // only one separator is dropped
    };
    for (const auto& row : rows) {
        EXPECT_EQ(TPath(row.left) / row.right, row.joined) << row.left << " / " << row.right;
        EXPECT_EQ(TPath(row.left) / TPath(row.right), row.joined) << row.left << " / " << row.right;
        TPath inPlace(row.left);
        inPlace /= row.right;
        EXPECT_EQ(inPlace, row.joined) << row.left << " /= " << row.right;
    }
    EXPECT_EQ(TPath() / "b", "b");
    EXPECT_TRUE((TPath() / "").isNull());
    TPath self("x");
    self /= self.utf8();
    EXPECT_EQ(self, "x\\x");
}

TEST(TPath, Components)
{
    TPath file("C:\\dir\\sub\\name.txt");
    EXPECT_EQ(file.fileName(), "name.txt");
    EXPECT_EQ(file.directory(), "C:\\dir\\sub");
    EXPECT_EQ(file, "C:\\dir\\sub\\name.txt");

    TPath bare("name.txt");
    EXPECT_EQ(bare.fileName(), "name.txt");
    EXPECT_TRUE(bare.directory().isEmpty());

    TPath trailing("C:\\dir\\");
    EXPECT_EQ(trailing.fileName(), "");
    EXPECT_EQ(trailing.directory(), "C:\\dir");

    TPath walk("a\\b\\c");
    EXPECT_EQ(walk.takeLastComponent(), "c");
    EXPECT_EQ(walk, "a\\b");
    EXPECT_EQ(walk.takeLastComponent(), "b");
    EXPECT_EQ(walk.takeLastComponent(), "a");
    EXPECT_TRUE(walk.isEmpty());
}

TEST(TPath, SlashesBecomeBackslashes)
{
    TPath forFileName("a/b/c.txt");
    EXPECT_EQ(forFileName.fileName(), "c.txt");
    EXPECT_EQ(forFileName, "a\\b\\c.txt");

    TPath forIsFile("nowhere/at/all");
    EXPECT_FALSE(forIsFile.isFile());
    EXPECT_EQ(forIsFile, "nowhere\\at\\all");

    TPath forRemove("nowhere/x");
    EXPECT_NE(forRemove.remove(), 0);
    EXPECT_EQ(forRemove, "nowhere\\x");

    // exists() works on a copy and leaves the path as it was.
    const TPath forExists("nowhere/y");
    EXPECT_FALSE(forExists.exists());
    EXPECT_EQ(forExists, "nowhere/y");

    // directory() does not rewrite.
    EXPECT_TRUE(TPath("a/b").directory().isEmpty());
}

TEST(TPath, FileSystem)
{
    TempFolder temp;
    const TPath root = temp.path();
    EXPECT_TRUE(root.exists());
    EXPECT_TRUE((root / "").exists());
    TPath withSlash = root;
    withSlash += "\\";
    EXPECT_TRUE(withSlash.exists());  // a trailing separator is ignored

    TPath deep = root / "one\\two\\three";
    EXPECT_FALSE(deep.exists());
    EXPECT_TRUE(deep.createDirectories());
    EXPECT_TRUE(deep.exists());
    EXPECT_FALSE(deep.isFile());
    EXPECT_TRUE(deep.createDirectories());  // already there

    TPath trailingDeep = root / "four\\five\\";
    EXPECT_TRUE(trailingDeep.createDirectories());
    EXPECT_TRUE((root / "four\\five").exists());

    TPath slashed(root);
    slashed += "/six/seven";
    EXPECT_TRUE(slashed.createDirectories());
    EXPECT_TRUE((root / "six\\seven").exists());

    TPath file = deep / "data.bin";
    writeFileBytes(file, "x");
    EXPECT_TRUE(file.exists());
    EXPECT_TRUE(file.isFile());
    // A file in the way of a folder: creation fails.
    TPath blocked = file / "sub";
    EXPECT_FALSE(blocked.createDirectories());
    EXPECT_EQ(file.remove(), 0);
    EXPECT_FALSE(file.exists());
    EXPECT_NE(file.remove(), 0);

    // Non-ASCII names reach the file system intact.
    TPath accented = root / "d\xC3\xA9j\xC3\xA0 \xE2\x82\xAC";
    EXPECT_TRUE(accented.createDirectories());
    EXPECT_TRUE(fileExists(accented));

    EXPECT_FALSE(TPath().exists());
    EXPECT_FALSE(TPath("").exists());
    EXPECT_FALSE(TPath().createDirectories());
}

TEST(TPath, DeepPathsDoNotExhaustTheStack)
{
    TempFolder temp;
    TPath deep = temp.path() / "nope";
    // Wine takes milliseconds per lookup of such long names, so fewer levels there.
    const int levels = KYRO_TEST_WINDOWS ? 300 : 5000;
    for (int i = 0; i < levels; ++i)
        deep /= "x";
    // Creation fails somewhere (names get too long), but it must return.
    deep.createDirectories();
    SUCCEED();
}

TEST(TPath, DriveRoots)
{
    if (!KYRO_TEST_WINDOWS)
        GTEST_SKIP() << "drive letters exist on Windows only";
    EXPECT_TRUE(TPath("C:").exists());
    EXPECT_TRUE(TPath("C:\\").exists());
    EXPECT_TRUE(TPath("C:\\windows\\").exists());
    EXPECT_TRUE(TPath("C:/windows").exists());
    EXPECT_FALSE(TPath("C:\\no such folder\\").exists());
}
