#include <sys/stat.h>
#include <algorithm>
#include "TempDir.h"
#include "platform/gtk/PosixFiles.h"

namespace {

unsigned permissions(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(PosixFiles, PrivateFolderIsNewAndOnlyTheUsers) {
    TempDir t;
    platform::gtk::PosixFiles files;
    ASSERT_TRUE(files.createPrivateDirectory(t / "work"));
    EXPECT_EQ(permissions(t / "work"), 0700u);
    EXPECT_FALSE(files.createPrivateDirectory(t / "work"));
    fs::create_directory_symlink(t.path, t / "link");
    EXPECT_FALSE(files.createPrivateDirectory(t / "link"));
    EXPECT_FALSE(files.createPrivateDirectory(t / "missing/work"));
}

TEST(PosixFiles, PrivateFileIsNewNeverFollowsALinkAndHoldsTheText) {
    TempDir t;
    platform::gtk::PosixFiles files;
    ASSERT_TRUE(files.writeNewPrivateFile(t / "script.sh", "#!/bin/bash\necho ok\n"));
    EXPECT_EQ(readFile(t / "script.sh"), "#!/bin/bash\necho ok\n");
    EXPECT_EQ(permissions(t / "script.sh"), 0600u);
    EXPECT_FALSE(files.writeNewPrivateFile(t / "script.sh", "other"));
    EXPECT_EQ(readFile(t / "script.sh"), "#!/bin/bash\necho ok\n");
    fs::create_symlink(t / "target", t / "planted");
    EXPECT_FALSE(files.writeNewPrivateFile(t / "planted", "x"));
    EXPECT_FALSE(fs::exists(t / "target"));
}

TEST(PosixFiles, MoveNeverReplaces) {
    TempDir t;
    platform::gtk::PosixFiles files;
    writeFile(t / "a", "A");
    writeFile(t / "b", "B");
    EXPECT_FALSE(files.move(t / "a", t / "b"));
    EXPECT_EQ(readFile(t / "b"), "B");
    ASSERT_TRUE(files.move(t / "a", t / "c"));
    EXPECT_FALSE(fs::exists(t / "a"));
    EXPECT_EQ(readFile(t / "c"), "A");
}

TEST(PosixFiles, MoveCrossesFileSystems) {
    TempDir t;
    platform::gtk::PosixFiles files;
    TempDir other;
    other.path = "/dev/shm/nolar-files-test-" + std::to_string(::getpid());
    if (!fs::create_directory(other.path)) GTEST_SKIP() << "no /dev/shm";
    struct stat a {}, b {};
    ::stat(t.path.c_str(), &a);
    ::stat(other.path.c_str(), &b);
    if (a.st_dev == b.st_dev) GTEST_SKIP() << "one file system only";
    std::string big(3 << 20, 'z');
    writeFile(other / "dl", big);
    ::chmod((other / "dl").c_str(), 0640);
    ASSERT_TRUE(files.move(other / "dl", t / "update.zip"));
    EXPECT_FALSE(fs::exists(other / "dl"));
    EXPECT_EQ(readFile(t / "update.zip"), big);
    EXPECT_EQ(permissions(t / "update.zip"), 0640u);
}

TEST(PosixFiles, ListingExistenceFoldersAndWritability) {
    TempDir t;
    platform::gtk::PosixFiles files;
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
