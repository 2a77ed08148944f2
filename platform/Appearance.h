#pragma once
#include <functional>
#include <optional>

namespace platform {

// The desktop's light or dark style.
class Appearance {
public:
    virtual ~Appearance() = default;
    // The desktop's colour scheme, once it answers and after every change, on the main thread:
    // 0 no preference, 1 prefer dark, 2 prefer light. A desktop that cannot tell never calls.
    virtual void watchColorScheme(std::function<void(unsigned)> fn) = 0;
    // Dark (true) or light windows and pages; nullopt returns to the toolkit's own default.
    virtual void setDarkStyle(std::optional<bool> dark) = 0;
};

} // namespace platform
