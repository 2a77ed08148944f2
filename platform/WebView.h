#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Window;
class WebView;

// What the engine knows of the frame a navigation targets.
enum class TargetFrame {
    Main,      // the top frame of the view
    Sub,       // an iframe
    None,      // the navigation asks for a new window
    Unknown,   // the engine did not say (decide host rules again at response time)
};

struct NavigationAction {
    bool shouldPerformDownload = false;
    std::optional<std::string> url;     // absolute URL text
    TargetFrame targetFrame = TargetFrame::Unknown;
    bool userGesture = false;           // the user started it (a trusted click or key press), or
                                        // it is a redirect of a navigation the user started
};

struct NavigationResponse {
    std::string url;
    bool canShowMIMEType = true;
    bool isHTTP = false;
    std::optional<std::string> contentDisposition;
    bool mainFrame = false;            // the main resource of the top frame
    bool userGesture = false;          // it answers a navigation the user started
};

enum class Policy { Cancel = 0, Allow = 1, Download = 2 };

struct LoadError {
    std::string domain;        // e.g. "g-io-error-quark", "WebKitNetworkError"
    int code = 0;
    std::string description;   // human-readable, from the engine
    bool transport = false;    // a network failure (the service could not be reached)
    bool cancelled = false;    // the load was cancelled (e.g. replaced by another)
};

struct ScriptMessage {
    std::string body;          // JSON text of what the page posted
    std::optional<std::string> originHost; // host of the posting frame; nullopt when unknown
};

struct OpenPanelParams {
    bool allowsMultipleSelection = false;
    bool allowsDirectories = false;
};

// How to build a web view.
struct WebViewConfig {
    std::string applicationNameForUserAgent; // appended to the engine's user agent; empty: none
    std::string userScript;                  // run at document start in the top frame; empty: none
    std::string messageHandler;              // name of the script message handler; empty: none
};

using DownloadId = uint64_t;

// Everything the engine asks of its host. Every policy question is answered synchronously.
class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    virtual Policy decidePolicyForAction(WebView& view, const NavigationAction& action) = 0;
    virtual Policy decidePolicyForResponse(WebView& view, const NavigationResponse& response) = 0;
    virtual void didFinish(WebView& view) = 0;
    virtual void didFail(WebView& view, const LoadError& error) = 0;
    virtual void webContentProcessDidTerminate(WebView& view) = 0;
    // The page's process has not answered for 10 s while its window shows, 30 s while hidden.
    virtual void webContentProcessUnresponsive(WebView& view) = 0;
    virtual void titleChanged(WebView& view) = 0;
    virtual void didReceiveScriptMessage(WebView& view, const ScriptMessage& message) = 0;

    // A page wants a new window (window.open, target=_blank). Return a view made with
    // WebEngine::createRelatedWebView(opener), or nullptr for none. The engine loads the page itself.
    virtual std::shared_ptr<WebView> createWebView(WebView& opener, const NavigationAction& action) = 0;
    virtual void webViewDidClose(WebView& view) = 0;

    // Downloads. decideDestination always answers with a full file path.
    virtual std::string decideDestination(WebView& view, DownloadId download, const std::string& suggestedFilename) = 0;
    virtual void downloadDidFinish(DownloadId download) = 0;
    virtual void downloadDidFail(DownloadId download, const std::string& description) = 0;

    // Page dialogs; each completion is called exactly once.
    virtual void runOpenPanel(WebView& view, const OpenPanelParams& params,
                              std::function<void(std::optional<std::vector<std::string>>)> completion) = 0;
    virtual bool decideMediaCapture(WebView& view, const std::string& host) = 0; // true: grant
    virtual void runAlert(WebView& view, const std::string& message, std::function<void()> completion) = 0;
    virtual void runConfirm(WebView& view, const std::string& message, std::function<void(bool)> completion) = 0;
    virtual void runPrompt(WebView& view, const std::string& prompt, const std::string& defaultText,
                           std::function<void(std::optional<std::string>)> completion) = 0;
};

class WebView {
public:
    virtual ~WebView() = default;
    virtual void setDelegate(WebViewDelegate* delegate) = 0; // not owned; nullptr detaches
    // userStarted: the user asked for this page, so a redirect of it may leave for the browser.
    virtual void load(const std::string& url, double timeoutSeconds, bool userStarted = false) = 0;
    virtual void loadHTMLString(const std::string& html) = 0; // no base URL
    virtual void reload() = 0;
    virtual void stopLoading() = 0;
    virtual void evaluateJavaScript(const std::string& script) = 0; // result and errors ignored
    // Ends the page's process; the delegate hears of it as a terminated content process.
    virtual void terminateWebProcess() = 0;
    virtual double pageZoom() const = 0;
    virtual void setPageZoom(double zoom) = 0;
    virtual std::optional<std::string> title() const = 0;
    virtual std::optional<std::string> url() const = 0;
    virtual Window* window() const = 0;  // the window that shows it, if any
};

class WebEngine {
public:
    virtual ~WebEngine() = default;
    // A view on the persistent website data and cookies shared by every view.
    virtual std::shared_ptr<WebView> createWebView(const WebViewConfig& config) = 0;
    // A view for a page's new-window request, related to the opener (same configuration).
    virtual std::shared_ptr<WebView> createRelatedWebView(WebView& opener) = 0;
    // Whether the pages run confined by the engine's sandbox (known once a view exists).
    virtual bool isSandboxed() = 0;
    // The user's locale names, most preferred first ("ru_RU.UTF-8", "ru_RU", "ru", "C").
    virtual std::vector<std::string> localeNames() const = 0;
    // Tags of the installed spelling dictionaries ("ru_RU", "en_US").
    virtual std::vector<std::string> spellingDictionaries() const = 0;
    // Underlines misspelt words in every view, in these languages; none turns checking off.
    virtual void setSpellCheckingLanguages(const std::vector<std::string>& languages) = 0;
};

} // namespace platform
