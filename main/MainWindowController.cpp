#include "MainWindowController.h"
#include "Log.h"
#include <algorithm>
#include "AppConfig.h"
#include "Bridge.h"
#include "Notifier.h"
#include "Updater.h"
#include "WeakScriptHandler.h"

namespace {
constexpr const char* ZoomKey = "NolarZoom";
constexpr const char* ProductName = "Нолар";
constexpr double StartPageTimeout = 60;
} // namespace

std::shared_ptr<MainWindowController> MainWindowController::create(platform::Platform& platform,
                                                                   std::shared_ptr<Notifier> notifier,
                                                                   std::shared_ptr<Updater> updater,
                                                                   const std::string& initialPermission) {
    std::shared_ptr<MainWindowController> controller(
        new MainWindowController(platform, std::move(notifier), std::move(updater)));
    controller->build(initialPermission);
    return controller;
}

MainWindowController::MainWindowController(platform::Platform& platform, std::shared_ptr<Notifier> notifier,
                                           std::shared_ptr<Updater> updater)
    : platform(platform), notifier(std::move(notifier)), updater(std::move(updater)) {}

MainWindowController::~MainWindowController() {
    // Views may outlive us inside windows the toolkit still holds.
    if (mainView) mainView->setDelegate(nullptr);
    for (auto& popup : popups) popup->webView().setDelegate(nullptr);
}

void MainWindowController::build(const std::string& initialPermission) {
    platform::WebViewConfig config;
    config.applicationNameForUserAgent = "Version/26.0 Safari/605.1.15 KelNolarMac/" + AppConfig::versionName();
    config.userScript = Bridge::script(initialPermission);
    config.messageHandler = "kelMac";
    mainView = platform.web.createWebView(config);
    if (!platform.web.isSandboxed()) Log::write("sandbox off: web pages run without the engine's sandbox");

    platform::WindowSpec spec;
    spec.width = 1100;
    spec.height = 760;
    spec.minWidth = 420;
    spec.minHeight = 520;
    spec.title = ProductName;
    spec.center = true;
    spec.autosaveName = "NolarMainWindow";
    mainWindow = platform.windows.createWindow(spec, mainView, *this);

    handler = std::make_shared<WeakScriptHandler>(weak_from_this());
    mainView->setDelegate(handler.get());

    // A stored zoom is applied as it is, even beyond the clamp; the next step clamps it.
    double stored = platform.settings.doubleForKey(ZoomKey);
    if (stored > 0) mainView->setPageZoom(stored);

    updater->window = mainWindow;
    load();
}

void MainWindowController::loadStartPage() { mainView->load(AppConfig::startURL(), StartPageTimeout); }

void MainWindowController::load() {
    showingOffline = false;
    loadStartPage();
}

void MainWindowController::reload() {
    if (showingOffline) {
        // The service page comes back, not the offline page.
        load();
        return;
    }
    mainView->reload();
}

void MainWindowController::zoom(double step) {
    double next = std::max(0.5, std::min(2.5, mainView->pageZoom() + step));
    mainView->setPageZoom(next);
    platform.settings.setDouble(ZoomKey, mainView->pageZoom());
}

void MainWindowController::zoomReset() {
    mainView->setPageZoom(1.0);
    platform.settings.setDouble(ZoomKey, 1.0);
}

void MainWindowController::titleChanged(platform::WebView& view) {
    if (!isMain(view) || !mainWindow) return;
    std::string title = view.title().value_or("");
    // Blanks and tabs only: line breaks are not trimmed.
    auto first = title.find_first_not_of(" \t");
    auto last = title.find_last_not_of(" \t");
    title = first == std::string::npos ? "" : title.substr(first, last - first + 1);
    mainWindow->setTitle(title.empty() ? ProductName : title);
}

bool MainWindowController::windowShouldClose(platform::Window& window) {
    if (!mainWindow || &window != mainWindow.get()) return true;
    // The main window is never closed: its page keeps calls and messages running in the background.
    if (window.isFullScreen()) platform.app.hide();
    else window.orderOut();
    return false;
}
