#pragma once
#include <cstdint>
#include <optional>
#include <string>

// A build number: an optional single "+" or "-", then one or more ASCII digits, nothing else,
// within a signed 64-bit integer.
std::optional<int64_t> parseBuildNumber(const std::string& text);
