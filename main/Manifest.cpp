#include "Manifest.h"
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include "Url.h"

namespace {

// A JSON number as an integer, a fraction truncated. A number that no 64-bit integer can
// hold counts as absent rather than wrapping into an arbitrary build.
int64_t integerMember(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number()) return 0;
    // Tested first: the JSON library also counts an unsigned number as an integer.
    if (it->is_number_unsigned()) {
        auto value = it->get<uint64_t>();
        return value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? 0 : static_cast<int64_t>(value);
    }
    if (it->is_number_integer()) return it->get<int64_t>();
    double value = std::trunc(it->get<double>());
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!std::isfinite(value) || value >= 9223372036854775808.0 || value < -9223372036854775808.0) return 0;
    return static_cast<int64_t>(value);
}

std::string stringMember(const nlohmann::json& object, const char* key, const char* fallback) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return fallback;
    return it->get<std::string>();
}

std::string lowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c); });
    return text;
}

// Only characters a URI may hold: an address with blanks, controls or raw non-ASCII text
// would not reach the HTTP client intact.
bool hasOnlyUriCharacters(const std::string& text) {
    static const char* allowed = "-._~:/?#[]@!$&'()*+,;=%";
    return std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               (c != 0 && std::strchr(allowed, c) != nullptr);
    });
}

} // namespace

Manifest Manifest::fromJson(const nlohmann::json& object) {
    Manifest m;
    if (!object.is_object()) return m;
    m.build = integerMember(object, "build");
    m.minBuild = integerMember(object, "minBuild");
    m.versionName = stringMember(object, "versionName", "?");
    m.url = stringMember(object, "url", "");
    m.sha256 = lowerAscii(stringMember(object, "sha256", ""));
    m.notes = stringMember(object, "notes", "");
    return m;
}

bool Manifest::isValid(const std::string& updatePrefix) const {
    if (url.rfind(updatePrefix, 0) != 0) return false;
    if (sha256.size() != 64) return false;
    auto parsed = Url::parse(url);
    return parsed && parsed->host && hasOnlyUriCharacters(url);
}
