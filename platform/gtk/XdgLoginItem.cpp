#include "XdgLoginItem.h"

#include <glib.h>
#include <glib/gstdio.h>

namespace platform::gtk {

XdgLoginItem::XdgLoginItem(const std::string& appId) : appId_(appId) {}

// Read each time: the configuration folder is fixed for the run, but the user may edit the folder.
std::string XdgLoginItem::path() const {
    std::string name = appId_ + ".desktop";
    char* path = g_build_filename(g_get_user_config_dir(), "autostart", name.c_str(), nullptr);
    std::string out = path;
    g_free(path);
    return out;
}

bool XdgLoginItem::isEnabled() const { return g_file_test(path().c_str(), G_FILE_TEST_IS_REGULAR); }

bool XdgLoginItem::enable(const std::string& desktopEntry) {
    std::string file = path();
    char* folder = g_path_get_dirname(file.c_str());
    bool ok = g_mkdir_with_parents(folder, 0700) == 0 &&
              g_file_set_contents(file.c_str(), desktopEntry.data(), static_cast<gssize>(desktopEntry.size()), nullptr);
    g_free(folder);
    return ok;
}

bool XdgLoginItem::disable() { return g_unlink(path().c_str()) == 0 || !isEnabled(); }

} // namespace platform::gtk
