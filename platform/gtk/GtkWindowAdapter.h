#pragma once
#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "KeyFileSettings.h"
#include "platform/Window.h"

namespace platform::gtk {

class NativeView;

// A GtkApplicationWindow showing one web view. The GTK window may be destroyed while this object is still
// referenced elsewhere; every operation is then a no-op.
class GtkWindowAdapter : public platform::Window, public std::enable_shared_from_this<GtkWindowAdapter> {
public:
    GtkWindowAdapter(GtkApplication* app, KeyFileSettings& settings, const platform::WindowSpec& spec,
                     std::shared_ptr<platform::WebView> content, platform::WindowDelegate& delegate);
    ~GtkWindowAdapter() override;
    GtkWindowAdapter(const GtkWindowAdapter&) = delete;
    GtkWindowAdapter& operator=(const GtkWindowAdapter&) = delete;

    GtkWindow* gtkWindow() const { return window_; }

    void setTitle(const std::string& title) override;
    std::string title() const override;
    void makeKeyAndOrderFront() override;
    void orderOut() override;
    void close() override;
    bool isVisible() const override;
    bool isFullScreen() const override;
    platform::Rect frame() const override;
    void setTopLeft(int x, int y) override;
    platform::WebView& webView() override;

    // Internal: GLib callbacks.
    bool handleDeleteEvent();
    void handleDestroy();
    void handleStateChange(GdkWindowState state);
    void handleConfigure();
    void handleHide();
    void handleSaveTimer();
    void saveFrameNow();

private:
    void restoreFrame(const platform::WindowSpec& spec);
    void scheduleFrameSave();
    void cancelFrameSave();
    void finishClose();

    GtkApplication* app_;
    GtkWindow* window_;
    KeyFileSettings& settings_;
    std::string autosaveName_;
    std::string title_;
    std::shared_ptr<platform::WebView> content_;
    NativeView* native_;
    platform::WindowDelegate& delegate_;
    GdkWindowState state_ = GdkWindowState(0);
    KeyFileSettings::Frame lastNormalFrame_;
    bool haveNormalFrame_ = false;
    guint saveTimer_ = 0;
    bool closing_ = false;
};

} // namespace platform::gtk
