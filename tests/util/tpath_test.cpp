// TPath: joins and splits by "\" on every platform, "/" rewritten, and the file-system checks.
#include "kyro/util/TPath.h"

#include "FileBytes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <string>

TEST(TPath, JoinsAndComponents)
{
    const struct { const char *left, *right, *joined; } rows[] = {
        {"C:\\a\\", "b", "C:\\a\\b"}, {"C:\\a", "\\b", "C:\\a\\b"}, {"C:\\a\\", "\\b", "C:\\a\\b"},
        {"C:\\a", "", "C:\\a"}, {"", "b", "\\b"},  // an empty text (not a null one) still gets "\"
        {"C:\\a\\\\", "\\\\b", "C:\\a\\\\\\b"},  // only one separator is dropped
    };
    for (const auto& row : rows)
        EXPECT_EQ(TPath(row.left) / row.right, row.joined) << row.left << " / " << row.right;
    EXPECT_EQ(TPath() / "b", "b");
    TPath self("x");
    EXPECT_EQ(self /= self.utf8(), "x\\x");

    // fileName() rewrites "/" to "\" in place; directory() does not.
    TPath path("C:/dir\\sub\\name.txt");
    EXPECT_EQ(path.fileName(), "name.txt");
    EXPECT_EQ(path.directory(), "C:\\dir\\sub");
    EXPECT_EQ(std::string(TPath("a/b").directory().utf8()), "");
    EXPECT_EQ(TPath("C:\\dir\\").fileName(), "");
    EXPECT_EQ(path.takeLastComponent(), "name.txt");
    EXPECT_EQ(path.takeLastComponent(), "sub");
    EXPECT_EQ(path, "C:\\dir");
}

TEST(TPath, FileSystem)
{
    TempFolder temp;
    const TPath root = temp.path();
    EXPECT_TRUE(TPath(root + "\\").exists());  // a trailing separator is ignored
    TPath deep = root / "one\\two", slashed = root + "/six/seven";
    EXPECT_TRUE(deep.createDirectories() && deep.createDirectories());  // the second: already there
    EXPECT_TRUE(slashed.createDirectories() && (root / "six\\seven").exists());
    EXPECT_FALSE(deep.isFile());
    TPath file = deep / "data.bin";
    writeFileBytes(file, "x");
    EXPECT_TRUE(file.exists() && file.isFile());
    EXPECT_FALSE(TPath(file / "sub").createDirectories());  // a file in the way
    EXPECT_EQ(file.remove(), 0);
    EXPECT_FALSE(file.exists());
    EXPECT_NE(file.remove(), 0);
    EXPECT_FALSE(TPath().exists() || TPath("").exists() || TPath().createDirectories());
}
