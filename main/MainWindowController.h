#pragma once
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>
#include "platform/Platform.h"

namespace NavigationPolicy { struct Decision; }
class Notifier;
class Updater;
class WeakScriptHandler;

// The main window and its web view, and everything the engine asks of its host for the main
// view and for every popup: navigation, popups, load failures, downloads, dialogs, page messages.
class MainWindowController : public platform::WebViewDelegate,
                             public platform::WindowDelegate,
                             public std::enable_shared_from_this<MainWindowController> {
public:
    // Builds the window and the web view and starts loading the start page.
    static std::shared_ptr<MainWindowController> create(platform::Platform& platform,
                                                        std::shared_ptr<Notifier> notifier,
                                                        std::shared_ptr<Updater> updater,
                                                        const std::string& initialPermission);
    ~MainWindowController() override;

    platform::WebView& webView() const { return *mainView; }
    std::shared_ptr<platform::Window> window() const { return mainWindow; }

    void load();
    void reload();
    void zoom(double step);
    void zoomReset();
    // Hands a click on one of the page's notifications back to the page.
    void notificationClicked(const std::string& id);

    bool isShowingOffline() const { return showingOffline; }
    const std::vector<std::shared_ptr<platform::Window>>& popupWindows() const { return popups; }

    // Window delegate (main window and popups).
    bool windowShouldClose(platform::Window& window) override;
    void windowWillClose(platform::Window& window) override;

    // Web view delegate (main view and popups); see the MainWindow*.cpp files.
    platform::Policy decidePolicyForAction(platform::WebView& view, const platform::NavigationAction& action) override;
    platform::Policy decidePolicyForResponse(platform::WebView& view, const platform::NavigationResponse& response) override;
    void didFinish(platform::WebView& view) override;
    void didFail(platform::WebView& view, const platform::LoadError& error) override;
    void webContentProcessDidTerminate(platform::WebView& view) override;
    void webContentProcessUnresponsive(platform::WebView& view) override;
    void titleChanged(platform::WebView& view) override;
    void didReceiveScriptMessage(platform::WebView& view, const platform::ScriptMessage& message) override;
    std::shared_ptr<platform::WebView> createWebView(platform::WebView& opener, const platform::NavigationAction& action) override;
    void webViewDidClose(platform::WebView& view) override;
    std::string decideDestination(platform::WebView& view, platform::DownloadId download, const std::string& suggestedFilename) override;
    void downloadDidFinish(platform::DownloadId download) override;
    void downloadDidFail(platform::DownloadId download, const std::string& description) override;
    void runOpenPanel(platform::WebView& view, const platform::OpenPanelParams& params,
                      std::function<void(std::optional<std::vector<std::string>>)> completion) override;
    bool decideMediaCapture(platform::WebView& view, const std::string& host) override;
    void runAlert(platform::WebView& view, const std::string& message, std::function<void()> completion) override;
    void runConfirm(platform::WebView& view, const std::string& message, std::function<void(bool)> completion) override;
    void runPrompt(platform::WebView& view, const std::string& prompt, const std::string& defaultText,
                   std::function<void(std::optional<std::string>)> completion) override;

private:
    MainWindowController(platform::Platform& platform, std::shared_ptr<Notifier> notifier,
                         std::shared_ptr<Updater> updater);
    void build(const std::string& initialPermission);
    bool isMain(const platform::WebView& view) const { return &view == mainView.get(); }
    void loadStartPage();

    // Navigation
    platform::Policy carryOut(platform::WebView& view, const NavigationPolicy::Decision& decision, const std::string& url,
                              bool userGesture);
    void askThenOpen(platform::WebView& view, const std::string& url);
    platform::WebView* liveView(const platform::WebView* view) const; // nullptr once it is gone

    // Popups
    void openPopup(const std::string& url, bool userStarted);
    std::shared_ptr<platform::WebView> makePopup(std::shared_ptr<platform::WebView> view, const std::string& title);

    void closeIfNeverShown(platform::WebView& view);

    // Load failures and reconnection
    void handleLoadError(platform::WebView& view, const platform::LoadError& error);
    void showOffline(const std::string& message);
    void probeAndReload();
    void stopRetryTimer();

    // Page messages
    void userContentController(const platform::ScriptMessage& message);

    // Dialogs: a sheet on the asking view's window when it is visible, application-modal otherwise.
    void present(platform::WebView& view, const platform::AlertSpec& alert, std::function<void(platform::AlertResult)> completion);

    platform::Platform& platform;
    std::shared_ptr<platform::WebView> mainView;
    std::shared_ptr<platform::Window> mainWindow;
    std::shared_ptr<Notifier> notifier;
    std::shared_ptr<Updater> updater;
    std::shared_ptr<WeakScriptHandler> handler;
    std::vector<std::shared_ptr<platform::Window>> popups;
    // Popup views that have shown a page; one whose first navigation became a download is closed.
    std::set<const platform::WebView*> popupsWithPage;
    bool showingOffline = false;
    std::unique_ptr<platform::Timer> retryTimer;
    std::map<platform::DownloadId, std::string> downloads;
};
