#include "BadgeLabel.h"
#include <cmath>

std::optional<std::string> badgeLabel(double count) {
    double whole = std::trunc(count);
    if (!(whole >= 1)) return std::nullopt; // also NaN
    if (whole > 999) return "999+";
    return std::to_string(static_cast<long>(whole));
}
