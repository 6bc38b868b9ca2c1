// TPath: joins and splits by "\" on every platform, "/" rewritten, and the file-system checks.
#include "kyro/util/TPath.h"

#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

TEST(TPath, JoinsAndComponents)
{
    const struct { const char *left, *right, *joined; } rows[] = {
        {"C:\\a\\", "b", "C:\\a\\b"}, {"C:\\a", "\\b", "C:\\a\\b"}, {"C:\\a\\", "\\b", "C:\\a\\b"},
        {"C:\\a", "b", "C:\\a\\b"}, {"C:\\a", "", "C:\\a"}, {"a", "b\\c\\", "a\\b\\c\\"},
        {"", "b", "\\b"},  // an empty text (not a null one) still gets the separator
        {"C:\\a\\\\", "\\\\b", "C:\\a\\\\\\b"},  // only one separator is dropped
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.left) + " / " + row.right);
        EXPECT_EQ(TPath(row.left) / row.right, row.joined);
        EXPECT_EQ(TPath(row.left) / TPath(row.right), row.joined);
        TPath inPlace(row.left);
        EXPECT_EQ(inPlace /= row.right, row.joined);
    }
    EXPECT_EQ(TPath() / "b", "b");
    EXPECT_TRUE((TPath() / "").isNull());
    TPath self("x");
    EXPECT_EQ(self /= self.utf8(), "x\\x");

    const struct { const char *path, *fileName, *directory; } parts[] = {
        {"C:\\dir\\sub\\name.txt", "name.txt", "C:\\dir\\sub"}, {"name.txt", "name.txt", ""},
        {"C:\\dir\\", "", "C:\\dir"}, {"a/b", "b", ""},  // directory() does not rewrite "/"
    };
    for (const auto& row : parts) {
        EXPECT_EQ(TPath(row.path).fileName(), row.fileName) << row.path;
        EXPECT_EQ(TPath(row.path).directory().utf8(), std::string(row.directory)) << row.path;
    }
    TPath walk("a\\b\\c");
    EXPECT_EQ(walk.takeLastComponent(), "c");
    EXPECT_EQ(walk, "a\\b");
    EXPECT_EQ(walk.takeLastComponent(), "b");
    EXPECT_EQ(walk.takeLastComponent(), "a");
    EXPECT_TRUE(walk.isEmpty());
}

TEST(TPath, FileSystem)
{
    // fileName(), isFile() and remove() rewrite "/" to "\" in place; exists() does not.
    TPath forFileName("a/b/c.txt"), forIsFile("nowhere/at/all"), forRemove("nowhere/x");
    const TPath forExists("nowhere/y");
    EXPECT_EQ(forFileName.fileName(), "c.txt");
    EXPECT_FALSE(forIsFile.isFile());
    EXPECT_NE(forRemove.remove(), 0);
    EXPECT_FALSE(forExists.exists());
    EXPECT_EQ(forFileName + ";" + forIsFile + ";" + forRemove + ";" + forExists,
              "a\\b\\c.txt;nowhere\\at\\all;nowhere\\x;nowhere/y");

    TempFolder temp;
    const TPath root = temp.path();
    EXPECT_TRUE((root / "").exists());
    EXPECT_TRUE(TPath(root + "\\").exists());  // a trailing separator is ignored
    TPath deep = root / "one\\two\\three", trailing = root / "four\\five\\";
    TPath slashed = root + "/six/seven";
    EXPECT_FALSE(deep.exists());
    EXPECT_TRUE(deep.createDirectories() && deep.createDirectories());  // the second: already there
    EXPECT_TRUE(deep.exists());
    EXPECT_FALSE(deep.isFile());
    EXPECT_TRUE(trailing.createDirectories() && (root / "four\\five").exists());
    EXPECT_TRUE(slashed.createDirectories() && (root / "six\\seven").exists());
    TPath file = deep / "data.bin";
    writeFileBytes(file, "x");
    EXPECT_TRUE(file.exists() && file.isFile());
    EXPECT_FALSE(TPath(file / "sub").createDirectories());  // a file in the way
    EXPECT_EQ(file.remove(), 0);
    EXPECT_FALSE(file.exists());
    EXPECT_NE(file.remove(), 0);
    EXPECT_FALSE(TPath().exists() || TPath("").exists() || TPath().createDirectories());

    // Far too deep: creation fails somewhere but returns (fewer levels under slow Wine lookups).
    for (int i = 0; i < (KYRO_TEST_WINDOWS ? 300 : 5000); ++i)
        deep /= "x";
    deep.createDirectories();
    if (KYRO_TEST_WINDOWS) {  // drive roots
        for (const char* path : {"C:", "C:\\", "C:\\windows\\", "C:/windows"})
            EXPECT_TRUE(TPath(path).exists()) << path;
        EXPECT_FALSE(TPath("C:\\no such folder\\").exists());
    }
}
