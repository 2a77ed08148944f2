#include "BuildNumber.h"
#include <charconv>

std::optional<int64_t> parseBuildNumber(const std::string& text) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') {
        ++first;
        // "+-5" and a lone "+" are not numbers.
        if (first == last || *first == '-') return std::nullopt;
    }
    if (first == last) return std::nullopt;
    const char* digits = *first == '-' ? first + 1 : first;
    if (digits == last) return std::nullopt;
    for (const char* p = digits; p != last; ++p)
        if (*p < '0' || *p > '9') return std::nullopt;
    int64_t value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last) return std::nullopt;
    return value;
}
