#include "KeyFileSettings.h"

#include <glib/gstdio.h>

namespace platform::gtk {

namespace {

constexpr const char* systemGroup = "Nolar";

std::string defaultPath() {
    gchar* p = g_build_filename(g_get_user_config_dir(), "Nolar", "settings.ini", nullptr);
    std::string path(p);
    g_free(p);
    return path;
}

bool readInt(GKeyFile* file, const char* group, const char* key, int& out) {
    GError* error = nullptr;
    int v = g_key_file_get_integer(file, group, key, &error);
    if (error) {
        g_error_free(error);
        return false;
    }
    out = v;
    return true;
}

} // namespace

KeyFileSettings::KeyFileSettings() : KeyFileSettings(defaultPath()) {}

KeyFileSettings::KeyFileSettings(std::string path) : path_(std::move(path)), file_(g_key_file_new()) {
    // A missing or unreadable file simply means no settings yet.
    g_key_file_load_from_file(file_, path_.c_str(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
}

KeyFileSettings::~KeyFileSettings() { g_key_file_free(file_); }

double KeyFileSettings::doubleForKey(const std::string& key) const {
    GError* error = nullptr;
    double v = g_key_file_get_double(file_, systemGroup, key.c_str(), &error);
    if (error) {
        g_error_free(error);
        return 0;
    }
    return v;
}

void KeyFileSettings::setDouble(const std::string& key, double value) {
    g_key_file_set_double(file_, systemGroup, key.c_str(), value);
    save();
}

bool KeyFileSettings::windowFrame(const std::string& name, Frame& frame) const {
    const char* group = name.c_str();
    Frame f;
    if (!readInt(file_, group, "x", f.x) || !readInt(file_, group, "y", f.y) ||
        !readInt(file_, group, "width", f.width) || !readInt(file_, group, "height", f.height))
        return false;
    if (f.width <= 0 || f.height <= 0)
        return false;
    f.maximized = g_key_file_get_boolean(file_, group, "maximized", nullptr);
    frame = f;
    return true;
}

void KeyFileSettings::setWindowFrame(const std::string& name, const Frame& frame) {
    const char* group = name.c_str();
    g_key_file_set_integer(file_, group, "x", frame.x);
    g_key_file_set_integer(file_, group, "y", frame.y);
    g_key_file_set_integer(file_, group, "width", frame.width);
    g_key_file_set_integer(file_, group, "height", frame.height);
    g_key_file_set_boolean(file_, group, "maximized", frame.maximized);
    save();
}

void KeyFileSettings::save() {
    gchar* dir = g_path_get_dirname(path_.c_str());
    g_mkdir_with_parents(dir, 0700);
    g_free(dir);
    // Written through a temporary file and a rename, so a crash never leaves half a file.
    GError* error = nullptr;
    if (!g_key_file_save_to_file(file_, path_.c_str(), &error)) {
        g_warning("settings not saved: %s", error->message);
        g_error_free(error);
    }
}

} // namespace platform::gtk
