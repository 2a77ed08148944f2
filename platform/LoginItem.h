#pragma once
#include <string>

namespace platform {

// The application's entry among what the desktop starts at login.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() const = 0;
    // Writes the desktop entry (replacing one there); false when it cannot be written.
    virtual bool enable(const std::string& desktopEntry) = 0;
    virtual bool disable() = 0;
};

} // namespace platform
