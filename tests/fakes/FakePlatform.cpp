#include "FakePlatform.h"
#include <algorithm>
#include <fstream>
#include <utility>
#include "AppConfig.h"
#include "Log.h"

namespace fakes {

namespace {
struct Handle : platform::Timer {
    std::shared_ptr<FakeQueue::Repeating> timer;
    void invalidate() override { timer->valid = false; }
};

struct FakeProgress : platform::ProgressPanel {
    int* visible;
    explicit FakeProgress(int* v) : visible(v) {}
    void orderOut() override {
        if (visible) --*visible;
        visible = nullptr;
    }
    ~FakeProgress() override { orderOut(); }
};

std::string parentOf(const std::string& p) { return p.substr(0, std::max<size_t>(p.find_last_of('/'), 1)); }
const platform::BundleInfo* currentBundle = nullptr;
} // namespace

std::unique_ptr<platform::Timer> FakeQueue::repeating(double, std::function<void()> fn) {
    auto h = std::make_unique<Handle>();
    h->timer = std::make_shared<Repeating>(Repeating{std::move(fn)});
    timers.push_back(h->timer);
    return h;
}

void FakeQueue::drain() {
    for (; !pending.empty(); pending.pop_front()) pending.front()();
}

int FakeQueue::liveTimers() const {
    return std::count_if(timers.begin(), timers.end(), [](auto& weak) {
        auto t = weak.lock();
        return t && t->valid;
    });
}

void FakeQueue::fireTimers() {
    for (auto& weak : std::vector(timers))
        if (auto t = weak.lock(); t && t->valid) t->fn();
}

void FakeQueue::runDelayed() {
    for (auto& fn : std::exchange(delayed, {})) fn();
}

void FakeWindow::close() {
    if (closed) return;
    closed = true;
    visible = false;
    delegate->windowWillClose(*this);
}

platform::AlertResult FakeDialogs::runModal(const platform::AlertSpec& a) {
    alerts.push_back({a, nullptr, nullptr});
    if (modalAnswers.empty()) return {platform::AlertFirstButtonReturn, ""};
    auto r = modalAnswers.front();
    modalAnswers.pop_front();
    return r;
}

std::unique_ptr<platform::ProgressPanel> FakeDialogs::showProgress(const std::string&, const std::string&) {
    ++progressShown;
    ++progressVisible;
    return std::make_unique<FakeProgress>(&progressVisible);
}

void FakeDialogs::answerSheet(int response) {
    auto it = std::find_if(alerts.rbegin(), alerts.rend(), [](auto& a) { return a.completion != nullptr; });
    if (it != alerts.rend()) std::exchange(it->completion, nullptr)({response, ""});
}

bool FakeFiles::createPrivateDirectory(const std::string& p) {
    return !failCreate && !exists(p) && dirs.count(parentOf(p)) && dirs.insert(p).second;
}

bool FakeFiles::move(const std::string& from, const std::string& to) {
    if (failMove || !files.count(from) || exists(to) || !dirs.count(parentOf(to))) return false;
    files[to] = files[from];
    files.erase(from);
    return true;
}

std::optional<std::vector<std::string>> FakeFiles::list(const std::string& dir) const {
    if (!dirs.count(dir)) return std::nullopt;
    std::vector<std::string> names;
    for (auto& p : dirs)
        if (parentOf(p) == dir) names.push_back(p.substr(dir.size() + 1));
    for (auto& [p, _] : files)
        if (parentOf(p) == dir) names.push_back(p.substr(dir.size() + 1));
    return names;
}

bool FakeFiles::writeNewPrivateFile(const std::string& p, const std::string& text) {
    if (failWrite || exists(p) || !dirs.count(parentOf(p))) return false;
    files[p] = text;
    return true;
}

bool FakeUnzip::extract(const std::string& archive, const std::string& destination) {
    calls.emplace_back(archive, destination);
    if (!succeed) return false;
    files->dirs.insert(destination);
    for (auto& e : entries) {
        if (e.back() == '/') files->dirs.insert(destination + "/" + e.substr(0, e.size() - 1));
        else files->files[destination + "/" + e] = "";
    }
    return true;
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
