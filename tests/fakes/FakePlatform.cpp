#include "FakePlatform.h"
#include <algorithm>
#include "AppConfig.h"

namespace fakes {

namespace {
struct OwnedTimer : FakeTimer {
    FakeQueue* queue = nullptr;
    ~OwnedTimer() override {
        auto& t = queue->timers;
        t.erase(std::remove(t.begin(), t.end(), this), t.end());
    }
};

std::string parentOf(const std::string& p) {
    auto slash = p.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : p.substr(0, slash);
}
} // namespace

std::unique_ptr<platform::Timer> FakeQueue::repeating(double, std::function<void()> fn) {
    auto t = std::make_unique<OwnedTimer>();
    t->queue = this;
    t->fn = std::move(fn);
    timers.push_back(t.get());
    return t;
}

void FakeQueue::drain() {
    while (!pending.empty()) {
        auto fn = std::move(pending.front());
        pending.pop_front();
        fn();
    }
}

int FakeQueue::liveTimers() const {
    return static_cast<int>(std::count_if(timers.begin(), timers.end(), [](FakeTimer* t) { return t->valid; }));
}

void FakeQueue::fireTimers() {
    auto snapshot = timers;
    for (auto* t : snapshot)
        if (std::find(timers.begin(), timers.end(), t) != timers.end() && t->valid) t->fn();
}

void FakeQueue::runDelayed() {
    auto jobs = std::move(delayed);
    delayed.clear();
    for (auto& [_, fn] : jobs) fn();
}

void FakeWindow::close() {
    if (closed) return;
    closed = true;
    visible = false;
    if (delegate) delegate->windowWillClose(*this);
}

void FakeWindow::userClose() {
    if (delegate && delegate->windowShouldClose(*this)) close();
}

std::shared_ptr<platform::WebView> FakeWebEngine::createWebView(const platform::WebViewConfig& config) {
    auto v = std::make_shared<FakeWebView>();
    v->config = config;
    created.push_back(v);
    return v;
}

std::shared_ptr<platform::WebView> FakeWebEngine::createRelatedWebView(platform::WebView& opener) {
    auto v = std::make_shared<FakeWebView>();
    v->relatedTo = dynamic_cast<FakeWebView*>(&opener);
    if (v->relatedTo) v->config = v->relatedTo->config;
    created.push_back(v);
    return v;
}

std::shared_ptr<platform::Window> FakeWindowFactory::createWindow(const platform::WindowSpec& spec,
                                                                  std::shared_ptr<platform::WebView> content,
                                                                  platform::WindowDelegate& delegate) {
    auto w = std::make_shared<FakeWindow>();
    w->spec = spec;
    w->content = content;
    w->delegate = &delegate;
    w->currentTitle = spec.title;
    w->rect = {100, 80, spec.width, spec.height};
    if (auto* fv = dynamic_cast<FakeWebView*>(content.get())) fv->win = w.get();
    created.push_back(w);
    return w;
}

platform::AlertResult FakeDialogs::runModal(const platform::AlertSpec& a) {
    alerts.push_back({a, nullptr, nullptr});
    if (modalAnswers.empty()) return {platform::AlertFirstButtonReturn, a.textField.value_or("")};
    auto r = modalAnswers.front();
    modalAnswers.pop_front();
    return r;
}

std::optional<std::vector<std::string>> FakeDialogs::runOpenPanel(const platform::OpenPanelSpec& s) {
    panels.emplace_back(s, nullptr);
    return std::nullopt;
}

namespace {
struct FakeProgress : platform::ProgressPanel {
    FakeDialogs* owner;
    bool shown = true;
    explicit FakeProgress(FakeDialogs* o) : owner(o) {}
    void orderOut() override {
        if (shown) --owner->progressVisible;
        shown = false;
    }
    ~FakeProgress() override { orderOut(); }
};
} // namespace

std::unique_ptr<platform::ProgressPanel> FakeDialogs::showProgress(const std::string&, const std::string&) {
    ++progressShown;
    ++progressVisible;
    return std::make_unique<FakeProgress>(this);
}

void FakeDialogs::answerSheet(int response, const std::string& fieldText) {
    for (auto it = alerts.rbegin(); it != alerts.rend(); ++it) {
        if (it->completion) {
            auto c = std::move(it->completion);
            it->completion = nullptr;
            c({response, fieldText});
            return;
        }
    }
}

std::vector<platform::NotificationRequest> FakeNotificationCenter::shown() const {
    std::vector<platform::NotificationRequest> out;
    for (auto& r : added) {
        auto same = std::find_if(out.begin(), out.end(), [&](auto& o) { return o.identifier == r.identifier; });
        if (same != out.end()) out.erase(same);
        out.push_back(r);
    }
    return out;
}

bool FakeFiles::createPrivateDirectory(const std::string& p) {
    if (failCreate || exists(p) || !dirs.count(parentOf(p))) return false;
    dirs.insert(p);
    return true;
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
    auto collect = [&](const std::string& p) {
        if (parentOf(p) == dir) names.push_back(p.substr(dir.size() + 1));
    };
    for (auto& d : dirs) collect(d);
    for (auto& [f, _] : files) collect(f);
    return names;
}

bool FakeFiles::writeNewPrivateFile(const std::string& p, const std::string& text) {
    if (failWrite || exists(p) || !dirs.count(parentOf(p))) return false;
    files[p] = text;
    return true;
}

bool FakeUnzip::extract(const std::string& archive, const std::string& destination) {
    calls.emplace_back(archive, destination);
    if (!succeed || !files) return false;
    files->dirs.insert(destination);
    for (auto& e : entries) {
        auto full = destination + "/" + e;
        if (!full.empty() && full.back() == '/') files->dirs.insert(full.substr(0, full.size() - 1));
        else files->files[full] = "";
    }
    return true;
}

FakePlatform::FakePlatform() {
    unzip.files = &files;
    sha256.files = &files;
    AppConfig::useMainBundle(&bundles.mainBundle);
}

} // namespace fakes
