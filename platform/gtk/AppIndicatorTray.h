#pragma once
#include <gtk/gtk.h>

#include "platform/Tray.h"

typedef struct _AppIndicator AppIndicator;

namespace platform::gtk {

class GtkApp;

// A status notifier item (libayatana-appindicator), made once a StatusNotifierWatcher is on the
// session bus: without one the library would fall back to an old-style tray icon, which we do not want.
class AppIndicatorTray : public platform::Tray {
public:
    explicit AppIndicatorTray(GtkApp& app);
    ~AppIndicatorTray() override;
    AppIndicatorTray(const AppIndicatorTray&) = delete;
    AppIndicatorTray& operator=(const AppIndicatorTray&) = delete;

    void install(const std::string& title, const std::vector<platform::MenuItem>& menu,
                 std::function<void()> unavailable) override;
    void setAttention(const std::optional<std::string>& label) override;

    // Internal: GLib callbacks.
    void watcherAppeared();
    void watcherVanished();
    void perform(const std::string& action);

private:
    void apply();

    GtkApp& app_;
    std::string title_;
    std::vector<platform::MenuItem> menu_;
    std::function<void()> unavailable_;
    std::optional<std::string> label_;
    guint watch_ = 0;
    AppIndicator* indicator_ = nullptr;
};

} // namespace platform::gtk
