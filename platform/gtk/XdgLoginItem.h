#pragma once
#include "platform/LoginItem.h"

namespace platform::gtk {

// The XDG autostart entry: $XDG_CONFIG_HOME/autostart/<application id>.desktop.
class XdgLoginItem : public platform::LoginItem {
public:
    explicit XdgLoginItem(const std::string& appId);
    bool isEnabled() const override;
    bool enable(const std::string& desktopEntry) override;
    bool disable() override;

private:
    std::string path() const;
    std::string appId_;
};

} // namespace platform::gtk
