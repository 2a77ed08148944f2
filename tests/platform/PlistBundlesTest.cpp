#include "TempDir.h"
#include "platform/gtk/PlistBundles.h"

namespace {

void makeBundle(const std::string& path, const std::string& info)
{
    fs::create_directories(path + "/Contents");
    writeFile(path + "/Contents/Info.plist", info);
}

TEST(PlistBundles, ReadsStringValuesOfXmlAndBinaryInfo)
{
    TempDir t;
    makeBundle(t / "Xml.app", R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>org.nolar.Nolar</string>
  <key>CFBundleName</key><string>Нолар</string>
  <key>LSMinimum</key><integer>3</integer>
</dict></plist>)");
    fs::create_directories(t / "Bin.app/Contents");
    const std::string binary = t / "Bin.app/Contents/Info.plist";
    ASSERT_EQ(std::system(("/usr/bin/python3 -c \"import plistlib; plistlib.dump({'CFBundleVersion': '+42'}, "
                           "open('" + binary + "', 'wb'), fmt=plistlib.FMT_BINARY)\"").c_str()), 0);
    platform::gtk::PlistBundles bundles;
    auto xml = bundles.open(t / "Xml.app");
    ASSERT_TRUE(xml);
    EXPECT_EQ(xml->path(), t / "Xml.app");
    EXPECT_EQ(xml->identifier(), "org.nolar.Nolar");
    EXPECT_EQ(xml->infoString("CFBundleName"), "Нолар");
    EXPECT_EQ(xml->infoString("LSMinimum"), std::nullopt) << "not a string";
    EXPECT_EQ(xml->infoString("Missing"), std::nullopt);
    auto bin = bundles.open(t / "Bin.app");
    ASSERT_TRUE(bin);
    EXPECT_EQ(bin->infoString("CFBundleVersion"), "+42");
    EXPECT_EQ(bin->identifier(), std::nullopt);
}

TEST(PlistBundles, TheMainBundleAndFoldersThatAreNoBundle)
{
    TempDir t;
    fs::create_directories(t / "Empty.app/Contents");
    makeBundle(t / "Garbage.app", "not a property list");
    makeBundle(t / "Array.app", "<plist version=\"1.0\"><array><string>x</string></array></plist>");
    fs::create_directories(t / "Dir.app/Contents/Info.plist");
    platform::gtk::PlistBundles bundles;
    for (const char* name : {"Empty.app", "Garbage.app", "Array.app", "Dir.app", "Missing.app"})
        EXPECT_EQ(bundles.open(t / name), nullptr) << name;
    // The main bundle is the folder above the executable's folder.
    auto exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(bundles.main().path(), exe.parent_path().parent_path().parent_path().string());
}

} // namespace
