#include "TempDir.h"
#include "platform/gtk/LibarchiveUnzip.h"

namespace {

constexpr unsigned link = 0120777, dir = 040755, exe = 0100755;

TEST(LibarchiveUnzip, ExtractsABundleKeepingExecutableBitsAndInnerLinksOnlyIntoANewFolder)
{
    TempDir t;
    ASSERT_TRUE(makeZip(t, t / "u.zip",
                        {{"Nolar.app/", "", dir},
                         {"Nolar.app/Contents/Info.plist", "<plist/>"},
                         {"Nolar.app/Contents/Linux/nolar", "#!/bin/sh\n", exe},
                         {"Nolar.app/Contents/Lib/A/libx.so", "elf"},
                         {"Nolar.app/Contents/Lib/Current", "A", link},
                         {"./Nolar.app/Contents/Resources/a.txt", "text"}}));
    // Into a folder whose own path goes through a link, as a temporary folder's may.
    fs::create_directory(t / "real");
    fs::create_directory_symlink(t / "real", t / "tmp-link");
    platform::gtk::LibarchiveUnzip unzip;
    ASSERT_TRUE(unzip.extract(t / "u.zip", t / "tmp-link/out"));
    const std::string contents = t / "real/out/Nolar.app/Contents/";
    EXPECT_EQ(readFile(contents + "Info.plist"), "<plist/>");
    auto executable = [](const std::string& path) {
        return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
    };
    EXPECT_TRUE(executable(contents + "Linux/nolar"));
    EXPECT_FALSE(executable(contents + "Info.plist"));
    EXPECT_TRUE(fs::is_symlink(contents + "Lib/Current"));
    EXPECT_EQ(readFile(contents + "Lib/Current/libx.so"), "elf");
    EXPECT_EQ(readFile(contents + "Resources/a.txt"), "text");

    fs::create_directory(t / "existing");
    EXPECT_FALSE(unzip.extract(t / "u.zip", t / "existing"));
    EXPECT_TRUE(fs::is_empty(t / "existing"));
    writeFile(t / "not.zip", "plain text, not an archive");
    EXPECT_FALSE(unzip.extract(t / "not.zip", t / "out1"));
    EXPECT_FALSE(unzip.extract(t / "missing.zip", t / "out2"));
}

TEST(LibarchiveUnzip, RefusesArchivesThatReachOutsideTheFolderAndWritesNothingThere)
{
    TempDir t;
    const std::string outside = t / "outside";
    fs::create_directory(outside);
    const std::pair<const char*, std::vector<ZipMember>> rows[] = {
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
    for (const auto& [name, members] : rows) {
        ASSERT_TRUE(makeZip(t, t / "hostile.zip", members)) << name;
        EXPECT_FALSE(platform::gtk::LibarchiveUnzip().extract(t / "hostile.zip", t / name)) << name;
        EXPECT_TRUE(fs::is_empty(outside)) << name;
        EXPECT_FALSE(fs::exists(t / "evil")) << name;
    }
}

TEST(LibarchiveUnzip, StopsAtTheEntryThatCrossesALimitAndLeavesNothingBehind)
{
    TempDir t;
    ASSERT_TRUE(makeZip(t, t / "two.zip", {{"a", std::string(600, 'a')}, {"b", std::string(600, 'b')}}));
    platform::gtk::LibarchiveUnzip roomy({1200, 1000, 10}), tight({1199, 1000, 10}), few({1 << 20, 1000, 1});
    ASSERT_TRUE(roomy.extract(t / "two.zip", t / "roomy"));
    EXPECT_EQ(fs::file_size(t / "roomy/b"), 600u);
    EXPECT_FALSE(tight.extract(t / "two.zip", t / "tight"));
    EXPECT_FALSE(fs::exists(t / "tight"));
    EXPECT_FALSE(few.extract(t / "two.zip", t / "few"));
    EXPECT_FALSE(fs::exists(t / "few"));
    // Bombs, with the default limits.
    for (const char* python : {"with z.open('Nolar.app/big', 'w') as f:\n"   // 300 MB of zeros
                               "    for i in range(300): f.write(bytes(1 << 20))\n",
                               "for i in range(200000): z.writestr('Nolar.app/%d' % i, b'')\n"}) {
        ASSERT_TRUE(makeZip(t, t / "bomb.zip", {}, python));
        EXPECT_FALSE(platform::gtk::LibarchiveUnzip().extract(t / "bomb.zip", t / "bomb")) << python;
        EXPECT_FALSE(fs::exists(t / "bomb")) << python;
    }
}

} // namespace
