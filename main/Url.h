#pragma once
#include <optional>
#include <string>

// The parts of an absolute URL that the policies look at.
struct Url {
    std::string scheme;   // lower case
    std::optional<std::string> host; // lower case, without port; nullopt when the URL has none
    std::string path;     // percent-decoded, without query or fragment
    std::string lastPathComponent() const;

    // nullopt when the text is not an absolute URL ("scheme:...").
    static std::optional<Url> parse(const std::string& text);
};
