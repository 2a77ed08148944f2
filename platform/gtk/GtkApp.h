#pragma once
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Application.h"

namespace platform::gtk {

class GtkMainMenu;

// The application object: a unique GtkApplication (one instance per session bus) that lives with no window.
class GtkApp : public platform::Application {
public:
    explicit GtkApp(const std::string& appId);
    ~GtkApp() override;
    GtkApp(const GtkApp&) = delete;
    GtkApp& operator=(const GtkApp&) = delete;

    // The process arguments for run(); without them the application runs with none.
    void setArguments(int argc, char** argv);
    GtkApplication* gtkApplication() const { return app_; }
    platform::ApplicationDelegate* delegate() const { return delegate_; }

    void setDelegate(platform::ApplicationDelegate* delegate) override;
    int run() override;
    bool isRunningElsewhere() override;
    void activate() override;
    void hide() override;
    void terminate() override;
    bool isActive() const override;
    void setMainMenu(const platform::MenuBar& menu) override;
    void setBadgeLabel(const std::optional<std::string>& label) override;
    std::shared_ptr<void> beginActivity(unsigned long long options, const std::string& reason) override;
    void onWake(std::function<void()> fn) override;

    // Records that the window came to the front (it was presented or took the focus); activate() raises the
    // window that did so last.
    static void markFront(GtkWindow* window);

    // Marks the windows that hide() took off the screen, so that activate() brings them back.
    static constexpr const char* hiddenByAppKey = "nolar-hidden-by-app";

    // The launcher count for a badge label: "999+" means more than 999; nullopt hides the count.
    static std::optional<long long> launcherCount(const std::optional<std::string>& label);

    // Internal: GLib callbacks.
    void handleStartup();
    void handleActivate();
    void handleSystemBus(GDBusConnection* bus);
    void handlePrepareForSleep(bool sleeping);

private:
    bool hasVisibleWindows() const;

    std::string appId_;
    GtkApplication* app_;
    platform::ApplicationDelegate* delegate_ = nullptr;
    int argc_ = 0;
    char** argv_ = nullptr;
    bool launched_ = false;
    std::unique_ptr<GtkMainMenu> menu_;
    std::vector<std::function<void()>> wakeHandlers_;
    GCancellable* cancellable_;
    GDBusConnection* systemBus_ = nullptr;
    guint sleepSubscription_ = 0;
};

} // namespace platform::gtk
