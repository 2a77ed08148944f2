#include <sys/stat.h>
#include "TempDir.h"
#include "platform/gtk/LibarchiveUnzip.h"

namespace {

constexpr unsigned link = 0120777, dir = 040755, exe = 0100755;

bool isExecutable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
}

TEST(LibarchiveUnzip, ExtractsABundleKeepingExecutableBitsAndInnerLinks) {
    TempDir t;
    ASSERT_TRUE(makeZip(t, t / "u.zip",
                        {{"Nolar.app/", "", dir},
                         {"Nolar.app/Contents/Info.plist", "<plist/>"},
                         {"Nolar.app/Contents/Linux/nolar", "#!/bin/sh\n", exe},
                         {"Nolar.app/Contents/Lib/A/libx.so", "elf"},
                         {"Nolar.app/Contents/Lib/Current", "A", link},
                         {"./Nolar.app/Contents/Resources/a.txt", "text"}}));
    platform::gtk::LibarchiveUnzip unzip;
    ASSERT_TRUE(unzip.extract(t / "u.zip", t / "out"));
    EXPECT_EQ(readFile(t / "out/Nolar.app/Contents/Info.plist"), "<plist/>");
    EXPECT_TRUE(isExecutable(t / "out/Nolar.app/Contents/Linux/nolar"));
    EXPECT_FALSE(isExecutable(t / "out/Nolar.app/Contents/Info.plist"));
    EXPECT_TRUE(fs::is_symlink(t / "out/Nolar.app/Contents/Lib/Current"));
    EXPECT_EQ(readFile(t / "out/Nolar.app/Contents/Lib/Current/libx.so"), "elf");
    EXPECT_EQ(readFile(t / "out/Nolar.app/Contents/Resources/a.txt"), "text");
}

TEST(LibarchiveUnzip, RefusesArchivesThatReachOutsideTheFolderAndWritesNothingThere) {
    TempDir t;
    const std::string outside = t / "outside";
    fs::create_directory(outside);
    struct Row { const char* name; std::vector<ZipMember> members; };
    const Row rows[] = {
        {"dot-dot entry", {{"ok.txt", "x"}, {"../evil", "x"}}},
        {"dot-dot inside the path", {{"a/../../evil", "x"}}},
        {"absolute entry", {{outside + "/evil", "x"}}},
        {"link to an absolute folder, then a file through it", {{"l", outside, link}, {"l/evil", "x"}}},
        {"link climbing out, then a file through it", {{"l", "../outside", link}, {"l/evil", "x"}}},
        {"link inside, then a file through it", {{"d/", "", dir}, {"l", "d", link}, {"l/evil", "x"}}},
        {"chain of links that each look inside",
         {{"x/", "", dir}, {"a/b/s", "../../x", link}, {"l", "a/b/s/../..", link}}},
        {"character device", {{"dev", "", 020644}}},
    };
    int n = 0;
    for (const auto& row : rows) {
        std::string zip = t / ("hostile" + std::to_string(n) + ".zip");
        std::string dest = t / ("dest" + std::to_string(n++));
        ASSERT_TRUE(makeZip(t, zip, row.members)) << row.name;
        platform::gtk::LibarchiveUnzip unzip;
        EXPECT_FALSE(unzip.extract(zip, dest)) << row.name;
        EXPECT_TRUE(fs::is_empty(outside)) << row.name;
        EXPECT_FALSE(fs::exists(t / "evil")) << row.name;
    }
}

TEST(LibarchiveUnzip, FailsOnAnExistingFolderAndOnWhatIsNotAZip) {
    TempDir t;
    ASSERT_TRUE(makeZip(t, t / "u.zip", {{"a.txt", "x"}}));
    fs::create_directory(t / "existing");
    platform::gtk::LibarchiveUnzip unzip;
    EXPECT_FALSE(unzip.extract(t / "u.zip", t / "existing"));
    EXPECT_FALSE(fs::exists(t / "existing/a.txt"));
    writeFile(t / "not.zip", "plain text, not an archive");
    EXPECT_FALSE(unzip.extract(t / "not.zip", t / "out1"));
    EXPECT_FALSE(unzip.extract(t / "missing.zip", t / "out2"));
}

TEST(LibarchiveUnzip, ExtractsThroughALinkedTemporaryFolder) {
    TempDir t;
    ASSERT_TRUE(makeZip(t, t / "u.zip", {{"Nolar.app/Contents/Info.plist", "p"}}));
    fs::create_directory(t / "real");
    fs::create_directory_symlink(t / "real", t / "tmp-link");
    platform::gtk::LibarchiveUnzip unzip;
    ASSERT_TRUE(unzip.extract(t / "u.zip", t / "tmp-link/out"));
    EXPECT_EQ(readFile(t / "real/out/Nolar.app/Contents/Info.plist"), "p");
}

} // namespace
