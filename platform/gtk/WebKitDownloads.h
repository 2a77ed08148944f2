#pragma once
#include <webkit2/webkit2.h>

#include <memory>
#include <string>

#include "platform/WebView.h"

namespace platform::gtk {

class WebKitView;

// Gives every download of the context a DownloadId and reports its life to the delegate of the
// view that started it. A download keeps that view alive until it ends, so that a download from
// a popup closed meanwhile still reaches the delegate.
class WebKitDownloads : public std::enable_shared_from_this<WebKitDownloads> {
public:
    WebKitDownloads() = default;
    ~WebKitDownloads();
    WebKitDownloads(const WebKitDownloads&) = delete;
    WebKitDownloads& operator=(const WebKitDownloads&) = delete;

    void attach(WebKitWebContext* context);
    // The next download that the engine reports without a web view belongs to view.
    void expectFrom(const std::shared_ptr<WebKitView>& view);
    // Downloads url on behalf of view.
    void start(const std::shared_ptr<WebKitView>& view, const std::string& url);

private:
    static void onStarted(WebKitWebContext*, WebKitDownload*, gpointer self);
    static gboolean onDecideDestination(WebKitDownload*, char* suggestedFilename, gpointer record);
    static void onFailed(WebKitDownload*, GError*, gpointer record);
    static void onFinished(WebKitDownload*, gpointer record);

    WebKitWebContext* context_ = nullptr;
    gulong started_ = 0;
    platform::DownloadId nextId_ = 1;
    std::weak_ptr<WebKitView> expected_;
};

} // namespace platform::gtk
