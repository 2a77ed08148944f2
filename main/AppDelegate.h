#pragma once
#include <memory>
#include <string>
#include "platform/Platform.h"

class MainWindowController;
class Notifier;
class Updater;

// Creates and wires the long-lived objects, routes notification clicks and menu actions.
class AppDelegate : public platform::ApplicationDelegate, public std::enable_shared_from_this<AppDelegate> {
public:
    explicit AppDelegate(platform::Platform& platform);

    std::shared_ptr<MainWindowController> main;
    std::shared_ptr<Notifier> notifier;
    std::shared_ptr<Updater> updater;
    std::shared_ptr<void> activity;
    bool startHidden = false; // started at login: the window waits until the application is activated

    void applicationDidFinishLaunching() override;
    bool applicationShouldHandleReopen(bool hasVisibleWindows) override;
    bool applicationShouldTerminateAfterLastWindowClosed() override { return false; }
    void performAction(const std::string& action) override;
    bool actionState(const std::string& action) override;

    void showMain();
    void notificationClicked(const std::string& id);

private:
    void permissionArrived(const std::string& permission);
    void integrateWithDesktop();
    void toggleLaunchAtLogin();
    platform::Platform& platform;
};
