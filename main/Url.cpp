#include "Url.h"
#include <algorithm>
#include <cctype>

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            int hi = hexValue(s[i + 1]), lo = hexValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

bool validScheme(const std::string& s) {
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
    return std::all_of(s.begin(), s.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '+' || c == '-' || c == '.';
    });
}

} // namespace

std::optional<Url> Url::parse(const std::string& text) {
    auto colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    Url url;
    url.scheme = text.substr(0, colon);
    if (!validScheme(url.scheme)) return std::nullopt;
    url.scheme = lower(url.scheme);
    std::string rest = text.substr(colon + 1);
    auto end = rest.find_first_of("?#");
    std::string beforeQuery = rest.substr(0, end);
    if (beforeQuery.rfind("//", 0) == 0) {
        auto authorityEnd = beforeQuery.find('/', 2);
        std::string authority = beforeQuery.substr(2, authorityEnd == std::string::npos ? std::string::npos : authorityEnd - 2);
        beforeQuery = authorityEnd == std::string::npos ? "" : beforeQuery.substr(authorityEnd);
        auto at = authority.rfind('@');
        if (at != std::string::npos) authority = authority.substr(at + 1);
        std::string host;
        if (!authority.empty() && authority[0] == '[') {
            auto close = authority.find(']');
            if (close == std::string::npos) return std::nullopt;
            host = authority.substr(0, close + 1);
        } else {
            host = authority.substr(0, authority.find(':'));
        }
        if (!host.empty()) url.host = lower(percentDecode(host));
    }
    url.path = percentDecode(beforeQuery);
    return url;
}

std::string Url::lastPathComponent() const {
    if (path.empty()) return "";
    if (path == "/") return "/";
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}
