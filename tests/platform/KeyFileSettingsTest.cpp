#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <fstream>
#include <tuple>

#include "platform/gtk/KeyFileSettings.h"

using platform::gtk::KeyFileSettings;

namespace {

class KeyFileSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char* dir = g_dir_make_tmp("nolar-settings-XXXXXX", nullptr);
        root = dir;
        g_free(dir);
        // A folder that does not exist yet: the first write must create it.
        path = root + "/Nolar/settings.ini";
    }
    void TearDown() override {
        g_remove(path.c_str());
        g_rmdir((root + "/Nolar").c_str());
        g_rmdir(root.c_str());
    }
    std::string root, path;
};

TEST_F(KeyFileSettingsTest, ValuesSurviveIntoTheNextRunWhateverIsSavedLast) {
    {
        KeyFileSettings settings(path);
        EXPECT_EQ(settings.doubleForKey("NolarZoom"), 0.0) << "absent";
        settings.setDouble("NolarZoom", 1.2000000000000002); // what 1.1 + 0.1 really is
        settings.setWindowFrame("NolarMainWindow", {-40, 25, 1100, 760, true});
    }
    KeyFileSettings next(path);
    EXPECT_EQ(next.doubleForKey("NolarZoom"), 1.2000000000000002);
    KeyFileSettings::Frame f;
    ASSERT_TRUE(next.windowFrame("NolarMainWindow", f));
    EXPECT_EQ(std::make_tuple(f.x, f.y, f.width, f.height, f.maximized), std::make_tuple(-40, 25, 1100, 760, true));
    EXPECT_FALSE(next.windowFrame("OtherWindow", f));
    next.setWindowFrame("NolarMainWindow", {10, 20, 500, 600, false});
    EXPECT_EQ(KeyFileSettings(path).doubleForKey("NolarZoom"), 1.2000000000000002) << "saving keeps the other groups";
}

TEST_F(KeyFileSettingsTest, UnusableSavedFramesAreIgnored) {
    const char* rows[] = {
        "[W]\nx=1\ny=2\nwidth=300\n",               // no height
        "[W]\nx=1\ny=2\nwidth=0\nheight=200\n",     // empty
        "[W]\nx=1\ny=2\nwidth=300\nheight=-5\n",    // negative
        "[W]\nx=one\ny=2\nwidth=300\nheight=200\n", // not a number
        "not a key file at all\x01\x02",
    };
    g_mkdir_with_parents((root + "/Nolar").c_str(), 0700);
    for (const char* text : rows) {
        std::ofstream(path) << text;
        KeyFileSettings settings(path);
        KeyFileSettings::Frame f;
        EXPECT_FALSE(settings.windowFrame("W", f)) << text;
    }
}

} // namespace
