#include <sys/stat.h>
#include <algorithm>
#include "TempDir.h"
#include "platform/gtk/PosixFiles.h"

namespace {

struct PosixFiles : testing::Test {
    static unsigned mode(const std::string& path) { return unsigned(fs::symlink_status(path).permissions()); }
    TempDir t;
    platform::gtk::PosixFiles files;
};

TEST_F(PosixFiles, PrivateFoldersAndFilesAreNewOnlyTheUsersAndNeverThroughALink)
{
    ASSERT_TRUE(files.createPrivateDirectory(t / "work"));
    EXPECT_EQ(mode(t / "work"), 0700u);
    EXPECT_FALSE(files.createPrivateDirectory(t / "work"));
    fs::create_directory_symlink(t.path, t / "link");
    EXPECT_FALSE(files.createPrivateDirectory(t / "link"));
    EXPECT_FALSE(files.createPrivateDirectory(t / "missing/work"));
    ASSERT_TRUE(files.writeNewPrivateFile(t / "script.sh", "#!/bin/bash\necho ok\n"));
    EXPECT_EQ(readFile(t / "script.sh"), "#!/bin/bash\necho ok\n");
    EXPECT_EQ(mode(t / "script.sh"), 0600u);
    EXPECT_FALSE(files.writeNewPrivateFile(t / "script.sh", "other"));
    EXPECT_EQ(readFile(t / "script.sh"), "#!/bin/bash\necho ok\n");
    fs::create_symlink(t / "target", t / "planted");
    EXPECT_FALSE(files.writeNewPrivateFile(t / "planted", "x"));
    EXPECT_FALSE(fs::exists(t / "target"));
}

TEST_F(PosixFiles, MoveNeverReplaces)
{
    writeFile(t / "a", "A");
    writeFile(t / "b", "B");
    EXPECT_FALSE(files.move(t / "a", t / "b"));
    EXPECT_EQ(readFile(t / "b"), "B");
    ASSERT_TRUE(files.move(t / "a", t / "c"));
    EXPECT_FALSE(fs::exists(t / "a"));
    EXPECT_EQ(readFile(t / "c"), "A");
}

TEST_F(PosixFiles, MoveCrossesFileSystems)
{
    if (!fs::is_directory("/dev/shm"))
        GTEST_SKIP() << "no /dev/shm";
    TempDir other("/dev/shm");
    struct stat a {}, b {};
    if (::stat(t.path.c_str(), &a) == 0 && ::stat(other.path.c_str(), &b) == 0 && a.st_dev == b.st_dev)
        GTEST_SKIP() << "one file system only";
    std::string big(3 << 20, 'z');
    writeFile(other / "dl", big);
    fs::permissions(other / "dl", fs::perms(0640));
    ASSERT_TRUE(files.move(other / "dl", t / "update.zip"));
    EXPECT_FALSE(fs::exists(other / "dl"));
    EXPECT_EQ(readFile(t / "update.zip"), big);
    EXPECT_EQ(mode(t / "update.zip"), 0640u);
}

TEST_F(PosixFiles, ListingExistenceFoldersAndWritability)
{
    writeFile(t / "x", "");
    fs::create_directory(t / "Nolar.app");
    fs::create_symlink(t / "gone", t / "dangling");
    auto names = files.list(t.path);
    ASSERT_TRUE(names);
    std::sort(names->begin(), names->end());
    EXPECT_EQ(*names, (std::vector<std::string>{"Nolar.app", "dangling", "x"}));
    EXPECT_EQ(files.list(t / "missing"), std::nullopt);
    EXPECT_TRUE(files.exists(t / "dangling")) << "something stands at that name";
    EXPECT_FALSE(files.exists(t / "gone"));
    fs::create_directory_symlink(t / "Nolar.app", t / "linked.app");
    EXPECT_TRUE(files.isFolder(t / "Nolar.app"));
    EXPECT_FALSE(files.isFolder(t / "linked.app")) << "a link to a folder is not an unpacked bundle";
    EXPECT_TRUE(files.isWritable(t.path));
    EXPECT_FALSE(files.isWritable(t / "missing"));
    EXPECT_TRUE(fs::is_directory(files.downloadsDirectory()));
    EXPECT_TRUE(fs::is_directory(files.temporaryDirectory()));
}

} // namespace
