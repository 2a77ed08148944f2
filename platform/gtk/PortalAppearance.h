#pragma once
#include <gio/gio.h>

#include "platform/Appearance.h"

namespace platform::gtk {

// The colour scheme from the desktop portal's settings (org.freedesktop.appearance color-scheme),
// and the dark style through GTK's prefer-dark setting, which WebKitGTK also turns into the
// pages' prefers-color-scheme.
class PortalAppearance : public platform::Appearance {
public:
    PortalAppearance();
    ~PortalAppearance() override;
    PortalAppearance(const PortalAppearance&) = delete;
    PortalAppearance& operator=(const PortalAppearance&) = delete;

    void watchColorScheme(std::function<void(unsigned)> fn) override;
    void setDarkStyle(std::optional<bool> dark) override;

    // Internal: GLib callbacks.
    void connected(GDBusConnection* bus);
    void schemeValue(GVariant* value);

private:
    std::function<void(unsigned)> handler_;
    GCancellable* cancellable_;
    GDBusConnection* bus_ = nullptr;
    guint subscription_ = 0;
    std::optional<bool> toolkitDefault_;
};

} // namespace platform::gtk
