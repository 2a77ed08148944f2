#include "MainWindowController.h"
#include "AppConfig.h"
#include "Log.h"
#include "Resources.h"

namespace {
constexpr double ReconnectInterval = 5;
constexpr double ProbeTimeout = 5;
} // namespace

void MainWindowController::didFinish(platform::WebView& view) {
    if (!isMain(view)) {
        popupsWithPage.insert(&view);
        return;
    }
    // The offline page's own load is not a sign that the service is back.
    if (showingOffline) return;
    Log::write("loaded: " + view.url().value_or("-"));
    stopRetryTimer();
}

void MainWindowController::didFail(platform::WebView& view, const platform::LoadError& error) {
    handleLoadError(view, error);
}

void MainWindowController::handleLoadError(platform::WebView& view, const platform::LoadError& error) {
    Log::write("load error: " + error.domain + " " + std::to_string(error.code) + " " + error.description);
    if (!isMain(view)) return;
    // Only a failure to reach the service shows the offline page; engine and policy errors are just logged.
    if (!error.transport || error.cancelled) return;
    showOffline(error.description);
}

void MainWindowController::showOffline(const std::string& message) {
    Log::write("offline: " + message);
    showingOffline = true;
    mainView->loadHTMLString(Resources::offline_html());
    if (retryTimer) return;
    std::weak_ptr<MainWindowController> weak = weak_from_this();
    retryTimer = platform.queue.repeating(ReconnectInterval, [weak] {
        if (auto self = weak.lock()) self->probeAndReload();
    });
}

void MainWindowController::stopRetryTimer() {
    if (retryTimer) retryTimer->invalidate();
    retryTimer.reset();
}

void MainWindowController::probeAndReload() {
    if (!showingOffline) {
        stopRetryTimer();
        return;
    }
    platform::HttpRequest probe{"HEAD", AppConfig::startURL(), ProbeTimeout, true};
    std::weak_ptr<MainWindowController> weak = weak_from_this();
    // Probes do not wait for each other; the first success that still finds the offline page reloads.
    platform.http.send(probe, [weak](platform::HttpResponse response) {
        if (response.status != 200) return;
        auto self = weak.lock();
        if (!self || !self->showingOffline) return;
        self->stopRetryTimer();
        self->load();
    });
}

// A page that loops or deadlocks never comes back by itself: its process is ended, and the
// termination reloads it like any other.
void MainWindowController::webContentProcessUnresponsive(platform::WebView& view) {
    Log::write("web content process unresponsive \u2014 reload");
    view.terminateWebProcess();
}

void MainWindowController::webContentProcessDidTerminate(platform::WebView& view) {
    Log::write("web content process terminated \u2014 reload");
    if (isMain(view)) load();
    else view.reload();
}
