#include "AppDelegate.h"
#include "AppConfig.h"
#include "Autostart.h"
#include "Log.h"
#include "MainWindowController.h"
#include "MenuBuilder.h"
#include "Notifier.h"
#include "SpellLanguages.h"
#include "UpdateSignature.h"
#include "Updater.h"

namespace {
// Every bit of "user initiated" except "idle system sleep disabled": the machine may still sleep.
constexpr unsigned long long BackgroundActivityOptions = 0xEFFFFF;
} // namespace

AppDelegate::AppDelegate(platform::Platform& platform)
    : notifier(Notifier::create(platform.notifications, platform.queue)),
      updater(std::make_shared<Updater>(platform, UpdateSignature::buildKey())),
      platform(platform) {}

void AppDelegate::applicationDidFinishLaunching() {
    Log::write("start " + AppConfig::versionName() + " (" + std::to_string(AppConfig::build()) + ") at " +
               platform.bundles.main().path());
    MenuBuilder::install(platform.app);
    integrateWithDesktop();
    activity = platform.app.beginActivity(BackgroundActivityOptions, "Нолар: сообщения и звонки в фоне");
    updater->notifier = notifier;
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    notifier->onClick = [weak](const std::string& id) {
        if (auto self = weak.lock()) self->notificationClicked(id);
    };
    notifier->currentPermission([weak](const std::string& permission) {
        if (auto self = weak.lock()) self->permissionArrived(permission);
    });
    platform.app.onWake([weak] {
        if (auto self = weak.lock()) self->updater->check(false);
    });
}

void AppDelegate::integrateWithDesktop() {
    platform.tray.install("Нолар", MenuBuilder::trayMenu(),
                          [] { Log::write("tray: no status notifier watcher on the session bus"); });
    auto languages = spellLanguages(platform.web.localeNames(), platform.web.spellingDictionaries());
    std::string list;
    for (const auto& language : languages) list += " " + language;
    Log::write("spell checking:" + (list.empty() ? std::string(" none") : list));
    platform.web.setSpellCheckingLanguages(languages);
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    platform.appearance.watchColorScheme([weak](unsigned scheme) {
        auto self = weak.lock();
        if (!self) return;
        // No preference leaves the toolkit's own default in place.
        self->platform.appearance.setDarkStyle(scheme == 1 ? std::optional(true)
                                               : scheme == 2 ? std::optional(false) : std::nullopt);
    });
}

void AppDelegate::toggleLaunchAtLogin() {
    if (platform.loginItem.isEnabled()) {
        if (!platform.loginItem.disable()) Log::write("autostart: cannot remove the entry");
        return;
    }
    auto executable = platform.bundles.main().infoString("CFBundleExecutable").value_or("nolar");
    if (!platform.loginItem.enable(Autostart::entry(platform.bundles.main().path() + "/Contents/Linux/" + executable)))
        Log::write("autostart: cannot write the entry");
}

void AppDelegate::permissionArrived(const std::string& permission) {
    main = MainWindowController::create(platform, notifier, updater, permission);
    if (!startHidden) {
        main->window()->makeKeyAndOrderFront();
        platform.app.activate();
    }
    updater->start();
}

void AppDelegate::notificationClicked(const std::string& id) {
    if (id.rfind("dl:", 0) == 0) {
        platform.workspace.revealFile(id.substr(3));
        return;
    }
    if (main && main->window()) main->window()->makeKeyAndOrderFront();
    platform.app.activate();
    if (auto pageId = Notifier::pageIdOf(id)) {
        if (main) main->notificationClicked(*pageId);
    } else if (id.rfind("upd:", 0) == 0) {
        updater->check(true);
    }
}

bool AppDelegate::applicationShouldHandleReopen(bool) {
    showMain();
    return true;
}

void AppDelegate::showMain() {
    if (main && main->window()) main->window()->makeKeyAndOrderFront();
    platform.app.activate();
}

bool AppDelegate::actionState(const std::string& action) {
    return action == "toggleLaunchAtLogin:" && platform.loginItem.isEnabled();
}

void AppDelegate::performAction(const std::string& action) {
    if (action == "showMain") showMain();
    else if (action == "checkForUpdates:") updater->check(true);
    else if (action == "toggleLaunchAtLogin:") toggleLaunchAtLogin();
    else if (action == "terminate:") platform.app.terminate();
    else if (!main) return;
    else if (action == "reloadPage:") main->reload();
    else if (action == "zoomInPage:") main->zoom(0.1);
    else if (action == "zoomOutPage:") main->zoom(-0.1);
    else if (action == "zoomResetPage:") main->zoomReset();
}
