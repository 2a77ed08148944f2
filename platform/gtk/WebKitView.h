#pragma once
#include <webkit2/webkit2.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "NativeView.h"
#include "platform/WebView.h"

namespace platform::gtk {

class WebKitDownloads;
class WebKitScriptRelay;

// One WebKitWebView and its signals, translated into calls of the view's delegate. Every
// signal handler is disconnected in the destructor, and every answer that comes later (dialogs,
// file chooser, click decisions) holds this object weakly.
class WebKitView : public platform::WebView, public NativeView, public std::enable_shared_from_this<WebKitView> {
public:
    // Takes a reference to webView (sinking a floating one). Call start() once the view is owned
    // by a shared_ptr.
    WebKitView(WebKitWebView* webView, std::shared_ptr<WebKitDownloads> downloads,
               std::shared_ptr<WebKitScriptRelay> relay);
    ~WebKitView() override;
    WebKitView(const WebKitView&) = delete;
    WebKitView& operator=(const WebKitView&) = delete;

    void start();
    // The view that wraps webView, if it is still alive.
    static std::shared_ptr<WebKitView> from(WebKitWebView* webView);

    // platform::WebView
    void setDelegate(platform::WebViewDelegate* delegate) override { delegate_ = delegate; }
    void load(const std::string& url, double timeoutSeconds, bool userStarted = false) override;
    void loadHTMLString(const std::string& html) override;
    void reload() override;
    void stopLoading() override;
    void evaluateJavaScript(const std::string& script) override;
    void terminateWebProcess() override;
    double pageZoom() const override;
    void setPageZoom(double zoom) override;
    std::optional<std::string> title() const override;
    std::optional<std::string> url() const override;
    platform::Window* window() const override { return window_; }

    // NativeView
    GtkWidget* widget() override { return GTK_WIDGET(webView_); }
    void attachToWindow(platform::Window* window) override { window_ = window; }

    WebKitWebView* webView() const { return webView_; }
    platform::WebViewDelegate* delegate() const { return delegate_; }
    const std::shared_ptr<WebKitDownloads>& downloads() const { return downloads_; }
    const std::shared_ptr<WebKitScriptRelay>& relay() const { return relay_; }

    // From the script relay: a message a frame of this view posted, and a link click in its top
    // frame that was held back for a decision.
    void receiveScriptMessage(const platform::ScriptMessage& message);
    // trusted: the user clicked (not the page's script).
    void decideClick(const std::string& url, bool download, bool trusted);

private:
    template <typename Handler>
    void connect(gpointer instance, const char* signal, Handler handler);

    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, gpointer self);
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent, gpointer self);
    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, char* uri, GError*, gpointer self);
    static gboolean onLoadFailedWithTlsErrors(WebKitWebView*, char* uri, GTlsCertificate*, GTlsCertificateFlags,
                                              gpointer self);
    static void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self);
    static void onTitle(GObject*, GParamSpec*, gpointer self);
    static void onClose(WebKitWebView*, gpointer self);
    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer self);
    // Page dialogs, file chooser and permissions (WebKitViewDialogs.cpp).
    static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self);
    static gboolean onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest*, gpointer self);
    static gboolean onPermissionRequest(WebKitWebView*, WebKitPermissionRequest*, gpointer self);

    platform::Policy decideNavigation(WebKitNavigationPolicyDecision* decision, platform::TargetFrame frame);
    platform::Policy decideResponse(WebKitResponsePolicyDecision* decision);
    void fail(const platform::LoadError& error);
    // A load that has no response within its time-out fails as timed out.
    void armLoadTimeout(double seconds);
    void disarmLoadTimeout();
    static gboolean onLoadTimeout(gpointer self);
    // The page's process is asked a trivial question every few seconds; one that stays
    // unanswered too long means the process hangs.
    static gboolean onWatchdog(gpointer self);
    static void onPingAnswer(GObject* source, GAsyncResult* result, gpointer data);
    void watchdogTick();
    void runScriptDialog(WebKitScriptDialog* dialog);

    WebKitWebView* webView_;
    std::shared_ptr<WebKitDownloads> downloads_;
    std::shared_ptr<WebKitScriptRelay> relay_;
    platform::WebViewDelegate* delegate_ = nullptr;
    platform::Window* window_ = nullptr;
    std::vector<gulong> handlers_;
    bool loadFailed_ = false;
    // The address of a top-frame navigation the user started (or its latest redirect), until it
    // commits: a response for it continues what the user asked for.
    std::string userNavigation_;
    // The address of the page on show, not one still loading.
    std::string committedUri_;
    guint loadTimeout_ = 0;
    guint watchdog_ = 0;
    bool pingOutstanding_ = false;
    unsigned pingGeneration_ = 0;
    int unansweredTicks_ = 0;
};

} // namespace platform::gtk
