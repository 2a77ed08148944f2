#pragma once
#include <glib.h>

#include <string>

#include "platform/Settings.h"

namespace platform::gtk {

// The user's settings in $XDG_CONFIG_HOME/Nolar/settings.ini: the system's keys in the group "Nolar",
// each window frame in a group named after the window's autosave name.
class KeyFileSettings : public platform::Settings {
public:
    struct Frame {
        int x = 0, y = 0;
        int width = 0, height = 0;
        bool maximized = false;
    };

    KeyFileSettings();
    explicit KeyFileSettings(std::string path);
    ~KeyFileSettings() override;
    KeyFileSettings(const KeyFileSettings&) = delete;
    KeyFileSettings& operator=(const KeyFileSettings&) = delete;

    double doubleForKey(const std::string& key) const override;
    void setDouble(const std::string& key, double value) override;

    // False when no usable frame was saved under the name.
    bool windowFrame(const std::string& name, Frame& frame) const;
    void setWindowFrame(const std::string& name, const Frame& frame);

    const std::string& path() const { return path_; }

private:
    void save();

    std::string path_;
    GKeyFile* file_;
};

} // namespace platform::gtk
