#pragma once
#include <memory>
#include "platform/Bundle.h"

namespace platform::gtk {

// A bundle folder whose Contents/Info.plist (XML or binary) was read when it was opened.
class PlistBundle : public platform::BundleInfo {
public:
    // info: the Info dictionary (a plist_t), or null when there is none.
    PlistBundle(std::string path, std::shared_ptr<void> info);
    std::string path() const override { return bundlePath; }
    std::optional<std::string> infoString(const std::string& key) const override;

private:
    std::string bundlePath;
    std::shared_ptr<void> info;
};

// Bundles read with libplist; the main bundle is the folder two levels above the executable's
// own folder (Nolar.app/Contents/Linux/nolar).
class PlistBundles : public platform::Bundles {
public:
    PlistBundles();
    const platform::BundleInfo& main() const override { return *mainBundle; }
    std::unique_ptr<platform::BundleInfo> open(const std::string& path) const override;

private:
    std::unique_ptr<PlistBundle> mainBundle;
};

} // namespace platform::gtk
