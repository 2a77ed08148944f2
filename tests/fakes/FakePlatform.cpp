#include "FakePlatform.h"
#include <fstream>
#include "AppConfig.h"
#include "Log.h"

namespace fakes {

namespace {
const platform::BundleInfo* currentBundle = nullptr;

struct FakeProgress : platform::ProgressPanel {
    int* visible;
    explicit FakeProgress(int* v) : visible(v) {}
    void orderOut() override {
        if (visible) --*visible;
        visible = nullptr;
    }
    ~FakeProgress() override { orderOut(); }
};
} // namespace

std::unique_ptr<platform::ProgressPanel> FakeDialogs::showProgress(const std::string&, const std::string&) {
    ++progressShown;
    ++progressVisible;
    return std::make_unique<FakeProgress>(&progressVisible);
}

FakePlatform::FakePlatform() : previousBundle(std::exchange(currentBundle, &bundles.mainBundle)) {
    unzip.files = &files;
    sha256.files = &files;
    AppConfig::useMainBundle(currentBundle);
}

FakePlatform::~FakePlatform() {
    currentBundle = previousBundle;
    AppConfig::useMainBundle(previousBundle);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string logText() {
    Log::flush();
    return readFile(Log::path());
}

} // namespace fakes
