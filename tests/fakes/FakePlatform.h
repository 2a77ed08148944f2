#pragma once
// In-memory fakes of every platform service, recording what the system asked of them.
#include <deque>
#include <map>
#include <set>
#include "platform/Platform.h"

namespace fakes {

// Nothing runs by itself: tests drain the queue and fire timers explicitly.
struct FakeQueue : platform::MainQueue {
    struct Repeating { std::function<void()> fn; bool valid = true; };
    std::deque<std::function<void()>> pending;
    std::vector<std::function<void()>> delayed;
    std::vector<std::weak_ptr<Repeating>> timers; // a timer is gone once its handle is destroyed

    void async(std::function<void()> fn) override { pending.push_back(std::move(fn)); }
    void after(double, std::function<void()> fn) override { delayed.push_back(std::move(fn)); }
    std::unique_ptr<platform::Timer> repeating(double, std::function<void()> fn) override;
    void drain();       // including work queued while draining
    int liveTimers() const;
    void fireTimers();  // every live timer once
    void runDelayed();  // every delayed job once, then forgets them
};

struct FakeApplication : platform::Application {
    int activations = 0, hides = 0, terminations = 0;
    bool active = true;
    std::optional<platform::MenuBar> menu;
    std::vector<std::optional<std::string>> badges;
    std::vector<std::function<void()>> wakeHandlers;
    int activities = 0;

    void setDelegate(platform::ApplicationDelegate*) override {}
    int run() override { return 0; }
    bool isRunningElsewhere() override { return false; }
    void activate() override { ++activations; }
    void hide() override { ++hides; }
    void terminate() override { ++terminations; }
    bool isActive() const override { return active; }
    void setMainMenu(const platform::MenuBar& m) override { menu = m; }
    void setBadgeLabel(const std::optional<std::string>& label) override { badges.push_back(label); }
    std::shared_ptr<void> beginActivity(unsigned long long, const std::string&) override {
        ++activities;
        return std::make_shared<int>(0);
    }
    void onWake(std::function<void()> fn) override { wakeHandlers.push_back(std::move(fn)); }
};

struct FakeWindow : platform::Window {
    std::shared_ptr<platform::WebView> content;
    platform::WindowDelegate* delegate = nullptr;
    std::string currentTitle;
    bool visible = false, fullScreen = false, closed = false;
    platform::Rect rect;

    void setTitle(const std::string& t) override { currentTitle = t; }
    std::string title() const override { return currentTitle; }
    void makeKeyAndOrderFront() override { visible = true; }
    void orderOut() override { visible = false; }
    void close() override;
    bool isVisible() const override { return visible; }
    bool isFullScreen() const override { return fullScreen; }
    platform::Rect frame() const override { return rect; }
    void setTopLeft(int x, int y) override { rect.x = x; rect.y = y; }
    platform::WebView& webView() override { return *content; }
    // A click on the close button.
    void userClose() {
        if (delegate->windowShouldClose(*this)) close();
    }
};

struct FakeWebView : platform::WebView {
    platform::WebViewConfig config;
    FakeWebView* relatedTo = nullptr;
    platform::WebViewDelegate* delegate = nullptr;
    std::vector<std::string> loads, htmlLoads, scripts;
    int reloads = 0, stops = 0, terminations = 0;
    double zoom = 1.0;
    std::optional<std::string> currentTitle;
    platform::Window* win = nullptr;

    void setDelegate(platform::WebViewDelegate* d) override { delegate = d; }
    void load(const std::string& url, double, bool) override { loads.push_back(url); }
    void loadHTMLString(const std::string& html) override { htmlLoads.push_back(html); }
    void reload() override { ++reloads; }
    void stopLoading() override { ++stops; }
    void evaluateJavaScript(const std::string& s) override { scripts.push_back(s); }
    void terminateWebProcess() override { ++terminations; }
    double pageZoom() const override { return zoom; }
    void setPageZoom(double z) override { zoom = z; }
    std::optional<std::string> title() const override { return currentTitle; }
    std::optional<std::string> url() const override { return std::nullopt; }
    platform::Window* window() const override { return win; }
};

struct FakeWebEngine : platform::WebEngine {
    std::vector<std::shared_ptr<FakeWebView>> created;
    std::shared_ptr<platform::WebView> createWebView(const platform::WebViewConfig& config) override {
        created.push_back(std::make_shared<FakeWebView>());
        created.back()->config = config;
        return created.back();
    }
    std::shared_ptr<platform::WebView> createRelatedWebView(platform::WebView& opener) override {
        createWebView(static_cast<FakeWebView&>(opener).config);
        created.back()->relatedTo = static_cast<FakeWebView*>(&opener);
        return created.back();
    }
    bool isSandboxed() override { return true; }
    std::vector<std::string> localeNames() const override { return {"C"}; }
    std::vector<std::string> spellingDictionaries() const override { return {}; }
    void setSpellCheckingLanguages(const std::vector<std::string>&) override {}
};

struct FakeWindowFactory : platform::WindowFactory {
    std::vector<std::shared_ptr<FakeWindow>> created;
    std::shared_ptr<platform::Window> createWindow(const platform::WindowSpec& spec,
                                                   std::shared_ptr<platform::WebView> content,
                                                   platform::WindowDelegate& delegate) override {
        auto w = created.emplace_back(std::make_shared<FakeWindow>());
        w->content = content;
        w->delegate = &delegate;
        w->currentTitle = spec.title;
        w->rect = {100, 80, spec.width, spec.height};
        static_cast<FakeWebView&>(*content).win = w.get();
        return w;
    }
};

struct ShownAlert {
    platform::AlertSpec spec;
    platform::Window* sheetOn = nullptr; // nullptr: application-modal
    std::function<void(platform::AlertResult)> completion;
};

struct FakeDialogs : platform::Dialogs {
    std::vector<ShownAlert> alerts;
    // Answers for application-modal runs, taken in order; when none is left, the first button.
    std::deque<platform::AlertResult> modalAnswers;
    std::vector<std::pair<platform::OpenPanelSpec, platform::Window*>> panels;
    std::function<void(std::optional<std::vector<std::string>>)> panelCompletion;
    int progressShown = 0, progressVisible = 0;

    void beginSheet(const platform::AlertSpec& a, platform::Window& w,
                    std::function<void(platform::AlertResult)> c) override {
        alerts.push_back({a, &w, std::move(c)});
    }
    platform::AlertResult runModal(const platform::AlertSpec& a) override;
    void beginOpenPanel(const platform::OpenPanelSpec& s, platform::Window& w,
                        std::function<void(std::optional<std::vector<std::string>>)> c) override {
        panels.emplace_back(s, &w);
        panelCompletion = std::move(c);
    }
    std::optional<std::vector<std::string>> runOpenPanel(const platform::OpenPanelSpec& s) override {
        panels.emplace_back(s, nullptr);
        return std::nullopt;
    }
    std::unique_ptr<platform::ProgressPanel> showProgress(const std::string&, const std::string&) override;
    // Answers the last sheet not answered yet.
    void answerSheet(int response);
};

struct FakeNotificationCenter : platform::NotificationCenter {
    platform::AuthorizationStatus status = platform::AuthorizationStatus::Authorized;
    bool grantAnswer = true;
    std::vector<platform::NotificationRequest> added;
    int authorizationRequests = 0;
    std::function<void(std::optional<std::string>)> handler;

    void getAuthorizationStatus(std::function<void(platform::AuthorizationStatus)> c) override { c(status); }
    void requestAuthorization(std::function<void(bool, std::optional<std::string>)> c) override {
        ++authorizationRequests;
        c(grantAnswer, std::nullopt);
    }
    void add(const platform::NotificationRequest& r, std::function<void(std::optional<std::string>)> c) override {
        added.push_back(r);
        c(std::nullopt);
    }
    void setResponseHandler(std::function<void(std::optional<std::string>)> h) override { handler = std::move(h); }
};

struct FakeWorkspace : platform::Workspace {
    std::vector<std::string> opened, revealed, finished;
    bool openURL(const std::string& url) override { opened.push_back(url); return true; }
    void revealFile(const std::string& p) override { revealed.push_back(p); }
    void downloadFinished(const std::string& p) override { finished.push_back(p); }
};

struct FakeHttp : platform::HttpClient {
    struct Sent { platform::HttpRequest request; std::function<void(platform::HttpResponse)> completion; };
    struct Download { platform::HttpRequest request; std::function<void(platform::DownloadResult)> completion; };
    std::vector<Sent> sent;
    std::vector<Download> downloads;
    void send(const platform::HttpRequest& r, std::function<void(platform::HttpResponse)> c) override {
        sent.push_back({r, std::move(c)});
    }
    void download(const platform::HttpRequest& r, std::function<void(platform::DownloadResult)> c) override {
        downloads.push_back({r, std::move(c)});
    }
};

struct FakeSettings : platform::Settings {
    std::map<std::string, double> values;
    double doubleForKey(const std::string& k) const override { return values.count(k) ? values.at(k) : 0; }
    void setDouble(const std::string& k, double v) override { values[k] = v; }
};

struct FakeBundle : platform::BundleInfo {
    std::string bundlePath = "/opt/Nolar.app";
    std::map<std::string, std::string> info{{"CFBundleIdentifier", "org.nolar.Nolar"},
                                            {"CFBundleShortVersionString", "1.4"},
                                            {"CFBundleVersion", "27"}};
    std::string path() const override { return bundlePath; }
    std::optional<std::string> infoString(const std::string& key) const override {
        return info.count(key) ? std::optional(info.at(key)) : std::nullopt;
    }
};

struct FakeBundles : platform::Bundles {
    FakeBundle mainBundle;
    std::map<std::string, FakeBundle> others; // by path
    const platform::BundleInfo& main() const override { return mainBundle; }
    std::unique_ptr<platform::BundleInfo> open(const std::string& path) const override {
        return others.count(path) ? std::make_unique<FakeBundle>(others.at(path)) : nullptr;
    }
};

// Files by path with their content, and folders.
struct FakeFiles : platform::Files {
    std::map<std::string, std::string> files;
    std::set<std::string> dirs{"/tmp", "/home/u/Downloads", "/opt"}, readOnly;
    bool failCreate = false, failMove = false, failWrite = false;

    std::string temporaryDirectory() const override { return "/tmp"; }
    std::string downloadsDirectory() const override { return "/home/u/Downloads"; }
    bool exists(const std::string& p) const override { return files.count(p) || dirs.count(p); }
    bool isWritable(const std::string& p) const override { return exists(p) && !readOnly.count(p); }
    bool isFolder(const std::string& p) const override { return dirs.count(p); }
    bool createPrivateDirectory(const std::string& p) override;
    bool move(const std::string& from, const std::string& to) override;
    std::optional<std::vector<std::string>> list(const std::string& dir) const override;
    bool writeNewPrivateFile(const std::string& p, const std::string& text) override;
};

// Digests by a file's content, so that a digest follows its file when it moves.
struct FakeSha256 : platform::Sha256 {
    std::map<std::string, std::string> digests;
    const FakeFiles* files = nullptr;
    std::optional<std::string> hexDigestOfFile(const std::string& p) const override {
        if (!files->files.count(p) || !digests.count(files->files.at(p))) return std::nullopt;
        return digests.at(files->files.at(p));
    }
};

struct FakeUnzip : platform::Unzip {
    // What each extraction creates below the destination; a trailing "/" marks a folder.
    std::vector<std::string> entries;
    bool succeed = true;
    FakeFiles* files = nullptr;
    std::vector<std::pair<std::string, std::string>> calls;
    bool extract(const std::string& archive, const std::string& destination) override;
};

struct FakeProcesses : platform::Processes {
    bool canSpawn = true;
    std::vector<std::pair<std::string, std::vector<std::string>>> spawned;
    long pid() const override { return 4242; }
    bool spawnDetached(const std::string& exe, const std::vector<std::string>& args) override {
        if (canSpawn) spawned.emplace_back(exe, args);
        return canSpawn;
    }
};

struct FakeTray : platform::Tray {
    std::vector<std::optional<std::string>> attention;
    void install(const std::string&, const std::vector<platform::MenuItem>&, std::function<void()>) override {}
    void setAttention(const std::optional<std::string>& label) override { attention.push_back(label); }
};

struct FakeAppearance : platform::Appearance {
    std::function<void(unsigned)> scheme;
    std::vector<std::optional<bool>> styles;
    void watchColorScheme(std::function<void(unsigned)> fn) override { scheme = std::move(fn); }
    void setDarkStyle(std::optional<bool> dark) override { styles.push_back(dark); }
};

struct FakeLoginItem : platform::LoginItem {
    bool isEnabled() const override { return false; }
    bool enable(const std::string&) override { return true; }
    bool disable() override { return true; }
};

// Every fake, wired into one platform::Platform whose main bundle AppConfig reads while it lives.
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
    platform::Platform services{app, queue, dialogs, web, windows, notifications, workspace,
                                http, settings, bundles, files, sha256, unzip, processes,
                                tray, appearance, loginItem};
    const platform::BundleInfo* previousBundle;
    FakePlatform();
    ~FakePlatform();
};

std::string readFile(const std::string& path);
// The log's text so far, every line written before the call included.
std::string logText();

} // namespace fakes
