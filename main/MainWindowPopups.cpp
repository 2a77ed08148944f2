#include "MainWindowController.h"
#include <algorithm>
#include "NavigationPolicy.h"
#include "Url.h"
#include "WeakScriptHandler.h"

namespace {
constexpr int PopupWidth = 900;
constexpr int PopupHeight = 700;
constexpr int PopupOffset = 40;
} // namespace

std::shared_ptr<platform::WebView> MainWindowController::makePopup(std::shared_ptr<platform::WebView> view,
                                                                   const std::string& title) {
    view->setDelegate(handler.get());
    platform::WindowSpec spec;
    spec.width = PopupWidth;
    spec.height = PopupHeight;
    spec.title = title.empty() ? "Нолар" : title;
    auto window = platform.windows.createWindow(spec, view, *this);
    if (mainWindow) {
        // Every popup opens at the same point, down and to the right of the main window's corner.
        auto frame = mainWindow->frame();
        window->setTopLeft(frame.x + PopupOffset, frame.y + PopupOffset);
    }
    popups.push_back(window);
    window->makeKeyAndOrderFront();
    return view;
}

void MainWindowController::openPopup(const std::string& url, bool userStarted) {
    // Shares the website data and cookies, but no bridge, no message handler, no user agent suffix.
    auto view = platform.web.createWebView(platform::WebViewConfig{});
    auto parsed = Url::parse(url);
    makePopup(view, parsed && parsed->host ? *parsed->host : "");
    view->load(url, 60, userStarted);
}

std::shared_ptr<platform::WebView> MainWindowController::createWebView(platform::WebView& opener,
                                                                       const platform::NavigationAction& action) {
    if (!action.url) return nullptr;
    // A new window is a popup whatever opens it: own pages stay, the rest go to their handlers.
    platform::NavigationAction newWindow = action;
    newWindow.targetFrame = platform::TargetFrame::None;
    auto decision = NavigationPolicy::forAction(newWindow, false);
    if (decision.policy != platform::Policy::Allow) {
        carryOut(opener, decision, *action.url, action.userGesture);
        return nullptr;
    }
    auto url = Url::parse(*action.url);
    return makePopup(platform.web.createRelatedWebView(opener), url ? url->lastPathComponent() : "");
}

void MainWindowController::webViewDidClose(platform::WebView& view) {
    auto it = std::find_if(popups.begin(), popups.end(), [&](auto& w) { return &w->webView() == &view; });
    if (it != popups.end()) (*it)->close();
}

void MainWindowController::windowWillClose(platform::Window& window) {
    if (mainWindow && &window == mainWindow.get()) return;
    auto it = std::find_if(popups.begin(), popups.end(), [&](auto& w) { return w.get() == &window; });
    if (it == popups.end()) return;
    window.webView().stopLoading();
    popupsWithPage.erase(&window.webView());
    // The window is still inside its own close call: release it once that has returned.
    platform.queue.async([closing = *it] {});
    popups.erase(it);
}
