#include "WebKitDownloads.h"

#include "WebKitView.h"

namespace platform::gtk {

namespace {

constexpr const char* recordKey = "nolar-download";

// Lives as long as the WebKitDownload it is attached to; its signals carry it as user data.
struct Record {
    platform::DownloadId id;
    std::shared_ptr<WebKitView> owner; // released when the download ends
    bool failed = false;
};

platform::WebViewDelegate* delegateOf(const Record& record)
{
    return record.owner ? record.owner->delegate() : nullptr;
}

} // namespace

WebKitDownloads::~WebKitDownloads()
{
    if (context_) {
        g_signal_handler_disconnect(context_, started_);
        g_object_unref(context_);
    }
}

void WebKitDownloads::attach(WebKitWebContext* context)
{
    context_ = WEBKIT_WEB_CONTEXT(g_object_ref(context));
    started_ = g_signal_connect(context_, "download-started", G_CALLBACK(onStarted), this);
}

void WebKitDownloads::expectFrom(const std::shared_ptr<WebKitView>& view)
{
    expected_ = view;
}

void WebKitDownloads::start(const std::shared_ptr<WebKitView>& view, const std::string& url)
{
    expectFrom(view);
    WebKitDownload* download = webkit_web_view_download_uri(view->webView(), url.c_str());
    g_clear_object(&download);
}

void WebKitDownloads::onStarted(WebKitWebContext*, WebKitDownload* download, gpointer self)
{
    auto* downloads = static_cast<WebKitDownloads*>(self);
    std::shared_ptr<WebKitView> owner;
    if (WebKitWebView* webView = webkit_download_get_web_view(download))
        owner = WebKitView::from(webView);
    if (!owner)
        owner = downloads->expected_.lock();
    downloads->expected_.reset();

    auto* record = new Record{downloads->nextId_++, std::move(owner)};
    g_object_set_data_full(G_OBJECT(download), recordKey, record,
                           [](gpointer r) { delete static_cast<Record*>(r); });
    g_signal_connect(download, "decide-destination", G_CALLBACK(onDecideDestination), record);
    g_signal_connect(download, "failed", G_CALLBACK(onFailed), record);
    g_signal_connect(download, "finished", G_CALLBACK(onFinished), record);
}

gboolean WebKitDownloads::onDecideDestination(WebKitDownload* download, char* suggestedFilename, gpointer data)
{
    auto* record = static_cast<Record*>(data);
    std::shared_ptr<WebKitView> owner = record->owner;
    platform::WebViewDelegate* delegate = delegateOf(*record);
    std::string path = delegate ? delegate->decideDestination(*owner, record->id, suggestedFilename ? suggestedFilename : "")
                                : std::string();
    // Left alone, the engine would pick a folder and a name of its own.
    if (path.empty()) {
        webkit_download_cancel(download);
        return TRUE;
    }
    webkit_download_set_allow_overwrite(download, FALSE);
    webkit_download_set_destination(download, path.c_str());
    return TRUE;
}

void WebKitDownloads::onFailed(WebKitDownload*, GError* error, gpointer data)
{
    auto* record = static_cast<Record*>(data);
    record->failed = true;
    std::shared_ptr<WebKitView> owner = record->owner;
    if (platform::WebViewDelegate* delegate = delegateOf(*record))
        delegate->downloadDidFail(record->id, error && error->message ? error->message : "");
}

void WebKitDownloads::onFinished(WebKitDownload*, gpointer data)
{
    auto* record = static_cast<Record*>(data);
    // The engine follows a failure with "finished" too.
    std::shared_ptr<WebKitView> owner = std::move(record->owner);
    if (record->failed || !owner || !owner->delegate())
        return;
    owner->delegate()->downloadDidFinish(record->id);
}

} // namespace platform::gtk
