#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include "Menu.h"

namespace platform {

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
    // The application was launched again (launcher click, second start).
    virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) = 0;
    virtual bool applicationShouldTerminateAfterLastWindowClosed() = 0;
    // A menu item that targets the delegate was chosen.
    virtual void performAction(const std::string& action) = 0;
    // Whether a checkable menu item's check mark shows.
    virtual bool actionState(const std::string&) { return false; }
};

class Application {
public:
    virtual ~Application() = default;
    virtual void setDelegate(ApplicationDelegate* delegate) = 0; // not owned
    virtual int run() = 0;                     // returns when the application ends
    // Another run of the application already serves this session (a start would hand over to it).
    virtual bool isRunningElsewhere() = 0;
    virtual void activate() = 0;               // bring the application forward
    virtual void hide() = 0;                   // hide every window of the application
    virtual void terminate() = 0;              // quit the main loop
    virtual bool isActive() const = 0;         // one of its windows has the focus
    virtual void setMainMenu(const MenuBar& menu) = 0;
    virtual void setBadgeLabel(const std::optional<std::string>& label) = 0; // nullopt removes it
    // Keeps the system from suspending the process in the background; the token ends it.
    virtual std::shared_ptr<void> beginActivity(unsigned long long options, const std::string& reason) = 0;
    // The machine woke from sleep; fn runs on the main thread.
    virtual void onWake(std::function<void()> fn) = 0;
};

} // namespace platform
