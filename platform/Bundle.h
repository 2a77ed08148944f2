#pragma once
#include <memory>
#include <optional>
#include <string>

namespace platform {

// An application bundle: "<Name>.app/Contents/Info.plist" beside "Contents/Linux/<executable>".
class BundleInfo {
public:
    virtual ~BundleInfo() = default;
    virtual std::string path() const = 0;
    // The Info dictionary's value for the key when it is a string.
    virtual std::optional<std::string> infoString(const std::string& key) const = 0;
    std::optional<std::string> identifier() const { return infoString("CFBundleIdentifier"); }
};

class Bundles {
public:
    virtual ~Bundles() = default;
    virtual const BundleInfo& main() const = 0;
    // nullptr when the folder is not a bundle.
    virtual std::unique_ptr<BundleInfo> open(const std::string& path) const = 0;
};

} // namespace platform
