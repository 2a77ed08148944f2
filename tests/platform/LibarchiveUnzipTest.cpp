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

namespace {

// A zip that python writes from `body` (a loop over the open ZipFile `z`).
bool makeZipWith(const TempDir& t, const std::string& zip, const std::string& body) {
    writeFile(t / "bomb.py", "import zipfile\nz = zipfile.ZipFile('" + zip + "', 'w', zipfile.ZIP_DEFLATED)\n" + body +
                                 "z.close()\n");
    return std::system(("/usr/bin/python3 '" + (t / "bomb.py") + "'").c_str()) == 0;
}

} // namespace

TEST(LibarchiveUnzip, RefusesBombsAndLeavesNothingOfThemBehind) {
    TempDir t;
    struct Row { const char* name; std::string body; } rows[] = {
        {"300 MB of zeros in a small archive",
         "with z.open('Nolar.app/big', 'w') as f:\n    for i in range(300):\n        f.write(bytes(1 << 20))\n"},
        {"200 000 empty entries", "for i in range(200000):\n    z.writestr('Nolar.app/%d' % i, b'')\n"},
    };
    int n = 0;
    for (const auto& row : rows) {
        std::string zip = t / ("bomb" + std::to_string(n) + ".zip"), dest = t / ("dest" + std::to_string(n++));
        ASSERT_TRUE(makeZipWith(t, zip, row.body)) << row.name;
        platform::gtk::LibarchiveUnzip unzip;
        EXPECT_FALSE(unzip.extract(zip, dest)) << row.name;
        EXPECT_FALSE(fs::exists(dest)) << row.name;
    }
}

TEST(LibarchiveUnzip, StopsAtTheEntryThatCrossesTheTotalLimit) {
    TempDir t;
    ASSERT_TRUE(makeZipWith(t, t / "two.zip", "import os\nz.writestr('a', os.urandom(600))\nz.writestr('b', os.urandom(600))\n"));
    platform::gtk::LibarchiveUnzip roomy({1200, 1000, 10}), tight({1199, 1000, 10}), few({1 << 20, 1000, 1});
    ASSERT_TRUE(roomy.extract(t / "two.zip", t / "roomy"));
    EXPECT_EQ(fs::file_size(t / "roomy/b"), 600u);
    EXPECT_FALSE(tight.extract(t / "two.zip", t / "tight"));
    EXPECT_FALSE(fs::exists(t / "tight"));
    EXPECT_FALSE(few.extract(t / "two.zip", t / "few"));
    EXPECT_FALSE(fs::exists(t / "few"));
}
