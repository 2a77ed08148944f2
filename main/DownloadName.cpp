#include "DownloadName.h"
#include <algorithm>
#include <cctype>

namespace DownloadName {

namespace {

constexpr size_t MaxNameBytes = 255; // the file system's limit for one name

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Cuts s to at most n bytes without splitting a UTF-8 sequence.
std::string cutUtf8(const std::string& s, size_t n) {
    if (s.size() <= n) return s;
    // A character has at most three continuation bytes; more in a row is no UTF-8 to respect.
    size_t end = n;
    while (end > 0 && n - end < 3 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return s.substr(0, end);
}

std::string trimEnd(std::string s) {
    while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();
    return s;
}

// Splits at the last dot: "archive.tar.gz" -> ("archive.tar", "gz"); no dot -> (name, "").
std::pair<std::string, std::string> splitExtension(const std::string& name) {
    auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return {name, ""};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

// base + suffix + "." + ext within the byte limit, shortening the base first.
std::string compose(const std::string& base, const std::string& suffix, std::string ext) {
    if (ext.size() > 64) ext = cutUtf8(ext, 64); // a "long extension" is not worth keeping whole
    size_t tail = suffix.size() + (ext.empty() ? 0 : ext.size() + 1);
    std::string b = cutUtf8(base, tail < MaxNameBytes ? MaxNameBytes - tail : 0);
    return b + suffix + (ext.empty() ? "" : "." + ext);
}

} // namespace

std::string clean(const std::string& suggested) {
    std::string name;
    for (unsigned char c : suggested) name += (c == '/' || c < 0x20 || c == 0x7F) ? '_' : static_cast<char>(c);
    // Trailing dots and blanks are lost or misread by other tools; "." and ".." vanish here too.
    name = trimEnd(name);
    if (name.size() > MaxNameBytes) {
        auto [base, ext] = splitExtension(name);
        // Shortening may leave only dots and blanks: "  ..." + "." + 300 blanks.
        name = trimEnd(compose(base, "", ext));
    }
    if (name.empty()) name = "file";
    // No hidden files, and nothing a shell command could take for an option ("-rf"); after the
    // shortening, which may begin the name with its extension's dot.
    if (name[0] == '.' || name[0] == '-') name[0] = '_';
    // A saved ".desktop" file could be taken for a launcher by the file manager.
    const std::string guard = ".download";
    if (endsWith(lower(name), ".desktop")) name = cutUtf8(name, MaxNameBytes - guard.size()) + guard;
    return name;
}

std::string uniqueURL(const std::string& folder, const std::string& name,
                      const std::function<bool(const std::string&)>& exists) {
    std::string cleaned = clean(name);
    std::string candidate = folder + "/" + cleaned;
    auto [base, ext] = splitExtension(cleaned);
    for (long counter = 2; exists(candidate); ++counter)
        candidate = folder + "/" + compose(base, " (" + std::to_string(counter) + ")", ext);
    return candidate;
}

} // namespace DownloadName
