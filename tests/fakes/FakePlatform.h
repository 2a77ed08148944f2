#pragma once
// In-memory fakes of every platform service, recording what the system asked of them.
#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <utility>
#include "platform/Platform.h"

namespace fakes {

using namespace platform;
using Text = std::optional<std::string>;
using Paths = std::optional<std::vector<std::string>>;

// Nothing runs by itself: tests drain the queue, run the delayed jobs and fire the timers.
struct FakeQueue : MainQueue {
    using Job = std::function<void()>;
    // A timer lives until its handle is invalidated or destroyed.
    struct Handle : Timer {
        std::shared_ptr<Job> job;
        void invalidate() override { job.reset(); }
    };
    std::deque<Job> pending;
    std::vector<Job> delayed;
    std::vector<std::weak_ptr<Job>> timers;

    void async(Job fn) override { pending.push_back(std::move(fn)); }
    void after(double, Job fn) override { delayed.push_back(std::move(fn)); }
    std::unique_ptr<Timer> repeating(double, Job fn) override {
        auto handle = std::make_unique<Handle>();
        handle->job = std::make_shared<Job>(std::move(fn));
        timers.push_back(handle->job);
        return handle;
    }
    void drain() {
        for (; !pending.empty(); pending.pop_front()) pending.front()();
    }
    void runDelayed() {
        for (auto& job : std::exchange(delayed, {})) job();
    }
    void fireTimers() {
        for (auto& timer : std::vector(timers))
            if (auto job = timer.lock()) (*job)();
    }
    int liveTimers() const {
        return std::count_if(timers.begin(), timers.end(), [](auto& timer) { return !timer.expired(); });
    }
};

struct FakeApplication : Application {
    int activations = 0, hides = 0, terminations = 0;
    bool active = true;
    std::optional<MenuBar> menu;
    std::vector<Text> badges;
    std::vector<std::function<void()>> wakeHandlers;
    int activities = 0;

    void setDelegate(ApplicationDelegate*) override {}
    int run() override { return 0; }
    bool isRunningElsewhere() override { return false; }
    void activate() override { ++activations; }
    void hide() override { ++hides; }
    void terminate() override { ++terminations; }
    bool isActive() const override { return active; }
    void setMainMenu(const MenuBar& m) override { menu = m; }
    void setBadgeLabel(const Text& label) override { badges.push_back(label); }
    std::shared_ptr<void> beginActivity(unsigned long long, const std::string&) override {
        ++activities;
        return std::make_shared<int>(0);
    }
    void onWake(std::function<void()> fn) override { wakeHandlers.push_back(std::move(fn)); }
};

struct FakeWindow : Window {
    std::shared_ptr<WebView> content;
    WindowDelegate* delegate = nullptr;
    std::string currentTitle;
    bool visible = false, fullScreen = false, closed = false;
    Rect rect;

    void setTitle(const std::string& t) override { currentTitle = t; }
    std::string title() const override { return currentTitle; }
    void makeKeyAndOrderFront() override { visible = true; }
    void orderOut() override { visible = false; }
    void close() override {
        if (closed) return;
        closed = true;
        visible = false;
        delegate->windowWillClose(*this);
    }
    bool isVisible() const override { return visible; }
    bool isFullScreen() const override { return fullScreen; }
    Rect frame() const override { return rect; }
    void setTopLeft(int x, int y) override { rect.x = x; rect.y = y; }
    WebView& webView() override { return *content; }
    // A click on the close button.
    void userClose() {
        if (delegate->windowShouldClose(*this)) close();
    }
};

struct FakeWebView : WebView {
    WebViewConfig config;
    FakeWebView* relatedTo = nullptr;
    WebViewDelegate* delegate = nullptr;
    std::vector<std::string> loads, htmlLoads, scripts;
    int reloads = 0, stops = 0, terminations = 0;
    double zoom = 1.0;
    Text currentTitle;
    Window* win = nullptr;

    void setDelegate(WebViewDelegate* d) override { delegate = d; }
    void load(const std::string& url, double, bool) override { loads.push_back(url); }
    void loadHTMLString(const std::string& html) override { htmlLoads.push_back(html); }
    void reload() override { ++reloads; }
    void stopLoading() override { ++stops; }
    void evaluateJavaScript(const std::string& s) override { scripts.push_back(s); }
    void terminateWebProcess() override { ++terminations; }
    double pageZoom() const override { return zoom; }
    void setPageZoom(double z) override { zoom = z; }
    Text title() const override { return currentTitle; }
    Text url() const override { return std::nullopt; }
    Window* window() const override { return win; }
};

struct FakeWebEngine : WebEngine {
    std::vector<std::shared_ptr<FakeWebView>> created;
    std::shared_ptr<WebView> createWebView(const WebViewConfig& config) override {
        created.push_back(std::make_shared<FakeWebView>());
        created.back()->config = config;
        return created.back();
    }
    std::shared_ptr<WebView> createRelatedWebView(WebView& opener) override {
        createWebView(static_cast<FakeWebView&>(opener).config);
        created.back()->relatedTo = static_cast<FakeWebView*>(&opener);
        return created.back();
    }
    bool isSandboxed() override { return true; }
    std::vector<std::string> localeNames() const override { return {"C"}; }
    std::vector<std::string> spellingDictionaries() const override { return {}; }
    void setSpellCheckingLanguages(const std::vector<std::string>&) override {}
};

struct FakeWindowFactory : WindowFactory {
    std::vector<std::shared_ptr<FakeWindow>> created;
    std::shared_ptr<Window> createWindow(const WindowSpec& spec, std::shared_ptr<WebView> content,
                                         WindowDelegate& delegate) override {
        auto w = created.emplace_back(std::make_shared<FakeWindow>());
        w->content = content;
        w->delegate = &delegate;
        w->currentTitle = spec.title;
        static_cast<FakeWebView&>(*content).win = w.get();
        return w;
    }
};

struct ShownAlert {
    AlertSpec spec;
    Window* sheetOn = nullptr; // nullptr: application-modal
    std::function<void(AlertResult)> completion;
};

struct FakeDialogs : Dialogs {
    std::vector<ShownAlert> alerts;
    // Answers for application-modal runs, taken in order; when none is left, the first button.
    std::deque<AlertResult> modalAnswers;
    std::vector<std::pair<OpenPanelSpec, Window*>> panels;
    std::function<void(Paths)> panelCompletion;
    int progressShown = 0, progressVisible = 0;

    void beginSheet(const AlertSpec& a, Window& w, std::function<void(AlertResult)> c) override {
        alerts.push_back({a, &w, std::move(c)});
    }
    AlertResult runModal(const AlertSpec& a) override {
        alerts.push_back({a, nullptr, nullptr});
        if (modalAnswers.empty()) return {AlertFirstButtonReturn, ""};
        auto answer = modalAnswers.front();
        modalAnswers.pop_front();
        return answer;
    }
    void beginOpenPanel(const OpenPanelSpec& s, Window& w, std::function<void(Paths)> c) override {
        panels.emplace_back(s, &w);
        panelCompletion = std::move(c);
    }
    Paths runOpenPanel(const OpenPanelSpec&) override { return std::nullopt; }
    std::unique_ptr<ProgressPanel> showProgress(const std::string&, const std::string&) override;
    // Answers the last sheet not answered yet.
    void answerSheet(int response) {
        auto it = std::find_if(alerts.rbegin(), alerts.rend(), [](auto& a) { return bool(a.completion); });
        if (it != alerts.rend()) std::exchange(it->completion, nullptr)({response, ""});
    }
};

struct FakeNotificationCenter : NotificationCenter {
    AuthorizationStatus status = AuthorizationStatus::Authorized;
    bool grantAnswer = true;
    std::vector<NotificationRequest> added;
    int authorizationRequests = 0;
    std::function<void(Text)> handler;

    void getAuthorizationStatus(std::function<void(AuthorizationStatus)> c) override { c(status); }
    void requestAuthorization(std::function<void(bool, Text)> c) override {
        ++authorizationRequests;
        c(grantAnswer, std::nullopt);
    }
    void add(const NotificationRequest& r, std::function<void(Text)> c) override {
        added.push_back(r);
        c(std::nullopt);
    }
    void setResponseHandler(std::function<void(Text)> h) override { handler = std::move(h); }
};

struct FakeWorkspace : Workspace {
    std::vector<std::string> opened, revealed, finished;
    bool openURL(const std::string& url) override { opened.push_back(url); return true; }
    void revealFile(const std::string& p) override { revealed.push_back(p); }
    void downloadFinished(const std::string& p) override { finished.push_back(p); }
};

struct FakeHttp : HttpClient {
    struct Sent { HttpRequest request; std::function<void(HttpResponse)> completion; };
    struct Download { HttpRequest request; std::function<void(DownloadResult)> completion; };
    std::vector<Sent> sent;
    std::vector<Download> downloads;
    void send(const HttpRequest& r, std::function<void(HttpResponse)> c) override { sent.push_back({r, c}); }
    void download(const HttpRequest& r, std::function<void(DownloadResult)> c) override {
        downloads.push_back({r, c});
    }
};

struct FakeSettings : Settings {
    std::map<std::string, double> values;
    double doubleForKey(const std::string& k) const override { return values.count(k) ? values.at(k) : 0; }
    void setDouble(const std::string& k, double v) override { values[k] = v; }
};

struct FakeBundle : BundleInfo {
    std::string bundlePath = "/opt/Nolar.app";
    std::map<std::string, std::string> info{{"CFBundleIdentifier", "org.nolar.Nolar"},
                                            {"CFBundleShortVersionString", "1.4"}, {"CFBundleVersion", "27"}};
    std::string path() const override { return bundlePath; }
    Text infoString(const std::string& key) const override {
        return info.count(key) ? std::optional(info.at(key)) : std::nullopt;
    }
};

struct FakeBundles : Bundles {
    FakeBundle mainBundle;
    std::map<std::string, FakeBundle> others; // by path
    const BundleInfo& main() const override { return mainBundle; }
    std::unique_ptr<BundleInfo> open(const std::string& path) const override {
        return others.count(path) ? std::make_unique<FakeBundle>(others.at(path)) : nullptr;
    }
};

// Files by path with their content, and folders.
struct FakeFiles : Files {
    std::map<std::string, std::string> files;
    std::set<std::string> dirs{"/tmp", "/home/u/Downloads", "/opt"}, readOnly;
    bool failCreate = false, failMove = false, failWrite = false;

    std::string temporaryDirectory() const override { return "/tmp"; }
    std::string downloadsDirectory() const override { return "/home/u/Downloads"; }
    bool exists(const std::string& p) const override { return files.count(p) || dirs.count(p); }
    bool isWritable(const std::string& p) const override { return exists(p) && !readOnly.count(p); }
    bool isFolder(const std::string& p) const override { return dirs.count(p); }
    bool createPrivateDirectory(const std::string& p) override {
        return !failCreate && !exists(p) && dirs.count(parentOf(p)) && dirs.insert(p).second;
    }
    bool move(const std::string& from, const std::string& to) override {
        if (failMove || !files.count(from) || exists(to) || !dirs.count(parentOf(to))) return false;
        files[to] = files[from];
        files.erase(from);
        return true;
    }
    std::optional<std::vector<std::string>> list(const std::string& dir) const override {
        if (!dirs.count(dir)) return std::nullopt;
        std::vector<std::string> names;
        for (auto& p : dirs)
            if (parentOf(p) == dir) names.push_back(p.substr(dir.size() + 1));
        for (auto& [p, _] : files)
            if (parentOf(p) == dir) names.push_back(p.substr(dir.size() + 1));
        return names;
    }
    bool writeNewPrivateFile(const std::string& p, const std::string& text) override {
        if (failWrite || exists(p) || !dirs.count(parentOf(p))) return false;
        files[p] = text;
        return true;
    }
    static std::string parentOf(const std::string& path) {
        return path.substr(0, std::max(path.rfind('/'), size_t(1)));
    }
};

// Digests by a file's content, so that a digest follows its file when it moves.
struct FakeSha256 : Sha256 {
    std::map<std::string, std::string> digests;
    const FakeFiles* files = nullptr;
    Text hexDigestOfFile(const std::string& p) const override {
        if (!files->files.count(p) || !digests.count(files->files.at(p))) return std::nullopt;
        return digests.at(files->files.at(p));
    }
};

struct FakeUnzip : Unzip {
    // What each extraction creates below the destination; a trailing "/" marks a folder.
    std::vector<std::string> entries;
    bool succeed = true;
    FakeFiles* files = nullptr;
    std::vector<std::pair<std::string, std::string>> calls;
    bool extract(const std::string& archive, const std::string& destination) override {
        calls.emplace_back(archive, destination);
        if (!succeed) return false;
        files->dirs.insert(destination);
        for (auto& e : entries) {
            if (e.back() == '/') files->dirs.insert(destination + "/" + e.substr(0, e.size() - 1));
            else files->files[destination + "/" + e] = "";
        }
        return true;
    }
};

struct FakeProcesses : Processes {
    bool canSpawn = true;
    std::vector<std::pair<std::string, std::vector<std::string>>> spawned;
    long pid() const override { return 4242; }
    bool spawnDetached(const std::string& exe, const std::vector<std::string>& args) override {
        if (canSpawn) spawned.emplace_back(exe, args);
        return canSpawn;
    }
};

struct FakeTray : Tray {
    std::vector<Text> attention;
    void install(const std::string&, const std::vector<MenuItem>&, std::function<void()>) override {}
    void setAttention(const Text& label) override { attention.push_back(label); }
};

struct FakeAppearance : Appearance {
    std::function<void(unsigned)> scheme;
    std::vector<std::optional<bool>> styles;
    void watchColorScheme(std::function<void(unsigned)> fn) override { scheme = std::move(fn); }
    void setDarkStyle(std::optional<bool> dark) override { styles.push_back(dark); }
};

struct FakeLoginItem : LoginItem {
    bool isEnabled() const override { return false; }
    bool enable(const std::string&) override { return true; }
    bool disable() override { return true; }
};

// Every fake, wired into one Platform whose main bundle AppConfig reads while it lives.
struct FakePlatform {
    FakeApplication app;
    FakeQueue queue;
    FakeDialogs dialogs;
    FakeWebEngine web;
    FakeWindowFactory windows;
    FakeNotificationCenter notifications;
    FakeWorkspace workspace;
    FakeHttp http;
    FakeSettings settings;
    FakeBundles bundles;
    FakeFiles files;
    FakeSha256 sha256;
    FakeUnzip unzip;
    FakeProcesses processes;
    FakeTray tray;
    FakeAppearance appearance;
    FakeLoginItem loginItem;
    Platform services{app, queue, dialogs, web, windows, notifications, workspace, http, settings, bundles,
                      files, sha256, unzip, processes, tray, appearance, loginItem};
    const BundleInfo* previousBundle;
    FakePlatform();
    ~FakePlatform();
};

std::string readFile(const std::string& path);
// The log's text so far, every line written before the call included.
std::string logText();

} // namespace fakes
