#pragma once
#include <optional>
#include <string>

// The launcher badge's text for the page's count: none below 1, "999+" above 999,
// otherwise the count truncated toward zero.
std::optional<std::string> badgeLabel(double count);
