#include <tuple>
#include "TempDir.h"
#include "platform/gtk/KeyFileSettings.h"

using platform::gtk::KeyFileSettings;

namespace {

TEST(KeyFileSettingsTest, ValuesSurviveIntoTheNextRunWhateverIsSavedLast)
{
    TempDir t;
    const std::string path = t / "Nolar/settings.ini";   // the first write makes the folder
    {
        KeyFileSettings settings(path);
        EXPECT_EQ(settings.doubleForKey("NolarZoom"), 0.0) << "absent";
        settings.setDouble("NolarZoom", 1.2000000000000002);   // what 1.1 + 0.1 really is
        settings.setWindowFrame("NolarMainWindow", {-40, 25, 1100, 760, true});
    }
    KeyFileSettings next(path);
    EXPECT_EQ(next.doubleForKey("NolarZoom"), 1.2000000000000002);
    KeyFileSettings::Frame f;
    ASSERT_TRUE(next.windowFrame("NolarMainWindow", f));
    EXPECT_EQ(std::tie(f.x, f.y, f.width, f.height, f.maximized), std::make_tuple(-40, 25, 1100, 760, true));
    EXPECT_FALSE(next.windowFrame("OtherWindow", f));
    next.setWindowFrame("NolarMainWindow", {10, 20, 500, 600, false});
    EXPECT_EQ(KeyFileSettings(path).doubleForKey("NolarZoom"), 1.2000000000000002) << "saving keeps the rest";
}

TEST(KeyFileSettingsTest, UnusableSavedFramesAreIgnored)
{
    TempDir t;
    for (const char* text : {
             "[W]\nx=1\ny=2\nwidth=300\n",                 // no height
             "[W]\nx=1\ny=2\nwidth=0\nheight=200\n",       // empty
             "[W]\nx=1\ny=2\nwidth=300\nheight=-5\n",      // negative
             "[W]\nx=one\ny=2\nwidth=300\nheight=200\n",   // not a number
             "not a key file at all\x01\x02",
         }) {
        writeFile(t / "settings.ini", text);
        KeyFileSettings::Frame f;
        EXPECT_FALSE(KeyFileSettings(t / "settings.ini").windowFrame("W", f)) << text;
    }
}

} // namespace
