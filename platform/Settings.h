#pragma once
#include <string>

namespace platform {

// The user's persisted settings.
class Settings {
public:
    virtual ~Settings() = default;
    virtual double doubleForKey(const std::string& key) const = 0; // 0 when absent
    virtual void setDouble(const std::string& key, double value) = 0;
};

} // namespace platform
