#pragma once
#include <cstdint>
#include <string>
#include <nlohmann/json_fwd.hpp>

// The service's version manifest ("version.json"): what a published build offers.
struct Manifest {
    int64_t build = 0;
    int64_t minBuild = 0;
    std::string versionName = "?";
    std::string url;
    std::string sha256;   // lower-cased as read
    std::string notes;

    // Reads the members of a JSON object; a missing member or one of another type keeps its default.
    static Manifest fromJson(const nlohmann::json& object);

    bool isNewerThan(int64_t ownBuild) const { return build > ownBuild; }
    // The archive address lies under the prefix and is a usable URL; the digest has 64 characters.
    bool isValid(const std::string& updatePrefix) const;
    // The running build is no longer supported.
    bool isCriticalFor(int64_t ownBuild) const { return ownBuild < minBuild; }
};
