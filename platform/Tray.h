#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Menu.h"

namespace platform {

// The application's icon in the panel's tray (a status notifier item), with its own menu.
class Tray {
public:
    virtual ~Tray() = default;
    // Shows the icon with the title and the menu, whose items reach the application delegate's
    // performAction. Where the desktop has no tray, nothing appears and `unavailable` runs once.
    virtual void install(const std::string& title, const std::vector<MenuItem>& menu,
                         std::function<void()> unavailable) = 0;
    // A label asks for attention and shows beside the icon; nullopt is the quiet state, no label.
    virtual void setAttention(const std::optional<std::string>& label) = 0;
};

} // namespace platform
