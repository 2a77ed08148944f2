#include "WebKitView.h"

#include <cstring>
#include <utility>

#include "WebKitDownloads.h"
#include "WebKitLoadError.h"
#include "WebKitScriptRelay.h"

namespace platform::gtk {

namespace {

constexpr const char* viewKey = "nolar-view";
constexpr guint watchdogIntervalSeconds = 2;
// Ticks without an answer before the page counts as hung: 10 s on screen, 30 s hidden.
constexpr int unansweredTicksShown = 5;
constexpr int unansweredTicksHidden = 15;

// Timer and callback data: the view, if it still exists.
using WeakView = std::weak_ptr<WebKitView>;
void deleteWeakView(gpointer data)
{
    delete static_cast<WeakView*>(data);
}

struct PingData {
    WeakView view;
    unsigned generation;
};

// The view behind a signal's user data, kept alive for the length of the handler: a delegate may
// close the window that owns it while it answers.
std::shared_ptr<WebKitView> lockView(gpointer self)
{
    return static_cast<WebKitView*>(self)->weak_from_this().lock();
}

std::optional<std::string> requestUri(WebKitNavigationAction* action)
{
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
    if (!uri)
        return std::nullopt;
    return std::string(uri);
}

bool isHttpScheme(const char* uri)
{
    const char* scheme = uri ? g_uri_peek_scheme(uri) : nullptr;
    return scheme && (std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0);
}

} // namespace

WebKitView::WebKitView(WebKitWebView* webView, std::shared_ptr<WebKitDownloads> downloads,
                       std::shared_ptr<WebKitScriptRelay> relay)
    : webView_(WEBKIT_WEB_VIEW(g_object_ref_sink(webView))), downloads_(std::move(downloads)),
      relay_(std::move(relay))
{
}

WebKitView::~WebKitView()
{
    disarmLoadTimeout();
    if (watchdog_)
        g_source_remove(watchdog_);
    for (gulong handler : handlers_)
        g_signal_handler_disconnect(webView_, handler);
    g_object_set_data(G_OBJECT(webView_), viewKey, nullptr);
    g_object_unref(webView_);
}

template <typename Handler>
void WebKitView::connect(gpointer instance, const char* signal, Handler handler)
{
    handlers_.push_back(g_signal_connect(instance, signal, G_CALLBACK(handler), this));
}

void WebKitView::start()
{
    g_object_set_data_full(G_OBJECT(webView_), viewKey, new std::weak_ptr<WebKitView>(weak_from_this()),
                           [](gpointer p) { delete static_cast<std::weak_ptr<WebKitView>*>(p); });
    connect(webView_, "decide-policy", onDecidePolicy);
    connect(webView_, "load-changed", onLoadChanged);
    connect(webView_, "load-failed", onLoadFailed);
    connect(webView_, "load-failed-with-tls-errors", onLoadFailedWithTlsErrors);
    connect(webView_, "web-process-terminated", onWebProcessTerminated);
    connect(webView_, "notify::title", onTitle);
    connect(webView_, "close", onClose);
    connect(webView_, "create", onCreate);
    connect(webView_, "script-dialog", onScriptDialog);
    connect(webView_, "run-file-chooser", onRunFileChooser);
    connect(webView_, "permission-request", onPermissionRequest);
    if (relay_)
        relay_->addMember(shared_from_this());
    watchdog_ = g_timeout_add_seconds_full(G_PRIORITY_DEFAULT, watchdogIntervalSeconds, onWatchdog,
                                           new WeakView(weak_from_this()), deleteWeakView);
}

std::shared_ptr<WebKitView> WebKitView::from(WebKitWebView* webView)
{
    auto* weak = static_cast<std::weak_ptr<WebKitView>*>(g_object_get_data(G_OBJECT(webView), viewKey));
    return weak ? weak->lock() : nullptr;
}

void WebKitView::load(const std::string& url, double timeoutSeconds, bool userStarted)
{
    if (userStarted)
        userNavigation_ = url;
    webkit_web_view_load_uri(webView_, url.c_str());
    // After the call: it cancels a load still running, which disarms that load's timer.
    armLoadTimeout(timeoutSeconds);
}

// WebKitGTK has no time-out per request: a server that accepts the connection and never
// answers would leave the window blank for good.
void WebKitView::armLoadTimeout(double seconds)
{
    disarmLoadTimeout();
    if (seconds <= 0)
        return;
    guint ms = seconds * 1000 >= G_MAXUINT ? G_MAXUINT : static_cast<guint>(seconds * 1000);
    loadTimeout_ = g_timeout_add_full(G_PRIORITY_DEFAULT, ms, onLoadTimeout, new WeakView(weak_from_this()),
                                      deleteWeakView);
}

void WebKitView::disarmLoadTimeout()
{
    if (loadTimeout_)
        g_source_remove(loadTimeout_);
    loadTimeout_ = 0;
}

gboolean WebKitView::onLoadTimeout(gpointer data)
{
    std::shared_ptr<WebKitView> view = static_cast<WeakView*>(data)->lock();
    if (!view)
        return G_SOURCE_REMOVE;
    view->loadTimeout_ = 0;
    // The engine reports the stop as a cancelled load, which changes nothing; the time-out is
    // the failure that counts.
    webkit_web_view_stop_loading(view->webView_);
    view->fail(makeLoadError(g_quark_to_string(G_IO_ERROR), G_IO_ERROR_TIMED_OUT, "request timed out"));
    return G_SOURCE_REMOVE;
}

void WebKitView::terminateWebProcess()
{
    webkit_web_view_terminate_web_process(webView_);
}

gboolean WebKitView::onWatchdog(gpointer data)
{
    if (std::shared_ptr<WebKitView> view = static_cast<WeakView*>(data)->lock())
        view->watchdogTick();
    return G_SOURCE_CONTINUE;
}

void WebKitView::watchdogTick()
{
    if (!pingOutstanding_) {
        pingOutstanding_ = true;
        unansweredTicks_ = 0;
        webkit_web_view_evaluate_javascript(webView_, "0", -1, WebKitScriptRelay::worldName, nullptr, nullptr,
                                            onPingAnswer, new PingData{weak_from_this(), ++pingGeneration_});
        return;
    }
    GtkWidget* widget = GTK_WIDGET(webView_);
    bool shown = gtk_widget_get_mapped(widget) && gtk_widget_is_visible(gtk_widget_get_toplevel(widget));
    if (++unansweredTicks_ < (shown ? unansweredTicksShown : unansweredTicksHidden))
        return;
    // Whatever answer is still on its way belongs to the process that is about to go.
    pingOutstanding_ = false;
    ++pingGeneration_;
    if (delegate_)
        delegate_->webContentProcessUnresponsive(*this);
}

void WebKitView::onPingAnswer(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<PingData> ping(static_cast<PingData*>(data));
    // An error (the process went away, no document yet) is an answer too: nothing hangs.
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
    g_clear_object(&value);
    std::shared_ptr<WebKitView> view = ping->view.lock();
    if (view && ping->generation == view->pingGeneration_)
        view->pingOutstanding_ = false;
}

void WebKitView::loadHTMLString(const std::string& html)
{
    disarmLoadTimeout();
    webkit_web_view_load_html(webView_, html.c_str(), nullptr);
}

void WebKitView::reload()
{
    webkit_web_view_reload(webView_);
}

void WebKitView::stopLoading()
{
    disarmLoadTimeout();
    webkit_web_view_stop_loading(webView_);
}

void WebKitView::evaluateJavaScript(const std::string& script)
{
    webkit_web_view_evaluate_javascript(webView_, script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

double WebKitView::pageZoom() const
{
    return webkit_web_view_get_zoom_level(webView_);
}

void WebKitView::setPageZoom(double zoom)
{
    webkit_web_view_set_zoom_level(webView_, zoom);
}

std::optional<std::string> WebKitView::title() const
{
    const char* t = webkit_web_view_get_title(webView_);
    return t ? std::optional<std::string>(t) : std::nullopt;
}

std::optional<std::string> WebKitView::url() const
{
    const char* u = webkit_web_view_get_uri(webView_);
    return u && *u ? std::optional<std::string>(u) : std::nullopt;
}

void WebKitView::receiveScriptMessage(const platform::ScriptMessage& message)
{
    std::shared_ptr<WebKitView> keep = weak_from_this().lock();
    if (keep && delegate_)
        delegate_->didReceiveScriptMessage(*this, message);
}

void WebKitView::decideClick(const std::string& url, bool download, bool trusted)
{
    std::shared_ptr<WebKitView> keep = weak_from_this().lock();
    if (!keep || !delegate_)
        return;
    platform::NavigationAction action{download, url, platform::TargetFrame::Main, trusted};
    // The page never started this navigation; an allowed link is loaded from here.
    switch (delegate_->decidePolicyForAction(*this, action)) {
    case platform::Policy::Allow:
        load(url, 0, trusted);
        break;
    case platform::Policy::Download:
        downloads_->start(keep, url);
        break;
    case platform::Policy::Cancel:
        break;
    }
}

platform::Policy WebKitView::decideNavigation(WebKitNavigationPolicyDecision* decision, platform::TargetFrame frame)
{
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(decision);
    // The engine does not say whether a link carried a download attribute; it turns such a
    // navigation into a download by itself.
    platform::NavigationAction question{false, requestUri(action), frame};
    // A redirect continues the navigation the user started; the engine does not carry the
    // gesture over to it.
    bool continuesUser = !userNavigation_.empty() && webkit_navigation_action_is_redirect(action);
    question.userGesture = webkit_navigation_action_is_user_gesture(action) || continuesUser;
    platform::Policy policy = delegate_->decidePolicyForAction(*this, question);
    if (policy == platform::Policy::Allow && question.userGesture && question.url)
        userNavigation_ = *question.url;
    return policy;
}

platform::Policy WebKitView::decideResponse(WebKitResponsePolicyDecision* decision)
{
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(decision);
    const char* uri = response ? webkit_uri_response_get_uri(response) : nullptr;
    SoupMessageHeaders* headers = response ? webkit_uri_response_get_http_headers(response) : nullptr;
    const char* disposition = headers ? soup_message_headers_get_one(headers, "Content-Disposition") : nullptr;

    platform::NavigationResponse question;
    question.url = uri ? uri : "";
    question.canShowMIMEType = webkit_response_policy_decision_is_mime_type_supported(decision);
    question.isHTTP = isHttpScheme(uri);
    if (disposition)
        question.contentDisposition = disposition;
    question.mainFrame = webkit_response_policy_decision_is_main_frame_main_resource(decision);
    question.userGesture = question.mainFrame && !userNavigation_.empty() && question.url == userNavigation_;
    return delegate_->decidePolicyForResponse(*this, question);
}

gboolean WebKitView::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                    gpointer self)
{
    std::shared_ptr<WebKitView> view = lockView(self);
    if (!view || !view->delegate_)
        return FALSE;
    platform::Policy policy;
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION:
        policy = view->decideNavigation(WEBKIT_NAVIGATION_POLICY_DECISION(decision), platform::TargetFrame::Unknown);
        break;
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
        policy = view->decideNavigation(WEBKIT_NAVIGATION_POLICY_DECISION(decision), platform::TargetFrame::None);
        break;
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE:
        policy = view->decideResponse(WEBKIT_RESPONSE_POLICY_DECISION(decision));
        break;
    default:
        return FALSE;
    }
    switch (policy) {
    case platform::Policy::Allow:
        webkit_policy_decision_use(decision);
        break;
    case platform::Policy::Download:
        view->downloads_->expectFrom(view);
        webkit_policy_decision_download(decision);
        break;
    case platform::Policy::Cancel:
        webkit_policy_decision_ignore(decision);
        break;
    }
    return TRUE;
}

void WebKitView::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self)
{
    std::shared_ptr<WebKitView> view = lockView(self);
    if (!view)
        return;
    if (event == WEBKIT_LOAD_STARTED) {
        view->loadFailed_ = false;
    } else if (event == WEBKIT_LOAD_COMMITTED) {
        view->disarmLoadTimeout();
        view->userNavigation_.clear();
        const char* uri = webkit_web_view_get_uri(view->webView_);
        view->committedUri_ = uri ? uri : "";
    } else if (event == WEBKIT_LOAD_FINISHED) {
        // The engine reports FINISHED after a failed load as well.
        bool failed = std::exchange(view->loadFailed_, false);
        if (!failed && view->delegate_)
            view->delegate_->didFinish(*view);
    }
}

void WebKitView::fail(const platform::LoadError& error)
{
    // A cancelled load was replaced by another, whose timer stays.
    if (!error.cancelled)
        disarmLoadTimeout();
    loadFailed_ = true;
    userNavigation_.clear();
    if (delegate_)
        delegate_->didFail(*this, error);
}

// Both failure handlers answer TRUE: the engine's own error page would replace the page and
// cancel the load that the delegate starts in its place.
gboolean WebKitView::onLoadFailed(WebKitWebView*, WebKitLoadEvent, char*, GError* error, gpointer self)
{
    std::shared_ptr<WebKitView> view = lockView(self);
    if (view)
        view->fail(error ? makeLoadError(*error) : makeLoadError("", 0, ""));
    return TRUE;
}

gboolean WebKitView::onLoadFailedWithTlsErrors(WebKitWebView*, char*, GTlsCertificate*, GTlsCertificateFlags errors,
                                               gpointer self)
{
    std::shared_ptr<WebKitView> view = lockView(self);
    if (view)
        view->fail(makeTlsLoadError(errors));
    return TRUE;
}

void WebKitView::onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self)
{
    std::shared_ptr<WebKitView> view = lockView(self);
    if (view && view->delegate_)
        view->delegate_->webContentProcessDidTerminate(*view);
}

void WebKitView::onTitle(GObject*, GParamSpec*, gpointer self)
{
    std::shared_ptr<WebKitView> view = lockView(self);
    if (view && view->delegate_)
        view->delegate_->titleChanged(*view);
}

void WebKitView::onClose(WebKitWebView*, gpointer self)
{
    std::shared_ptr<WebKitView> view = lockView(self);
    if (view && view->delegate_)
        view->delegate_->webViewDidClose(*view);
}

GtkWidget* WebKitView::onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self)
{
    std::shared_ptr<WebKitView> view = lockView(self);
    if (!view || !view->delegate_)
        return nullptr;
    platform::NavigationAction question{false, requestUri(action), platform::TargetFrame::None};
    std::shared_ptr<platform::WebView> created = view->delegate_->createWebView(*view, question);
    auto* native = dynamic_cast<NativeView*>(created.get());
    // The engine keeps no reference of its own to the view we return: one that nobody else
    // holds would be gone as soon as this handler returns.
    if (!native || created.use_count() < 2)
        return nullptr;
    return native->widget();
}

} // namespace platform::gtk
