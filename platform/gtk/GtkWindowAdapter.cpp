#include "GtkWindowAdapter.h"

#include "GtkApp.h"
#include "NativeView.h"
#include "platform/WebView.h"

namespace platform::gtk {

namespace {

// Moving or resizing sends a burst of configure events; the frame is written once it settles.
constexpr guint frameSaveDelayMs = 500;

gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    return static_cast<GtkWindowAdapter*>(self)->handleDeleteEvent();
}

void onDestroy(GtkWidget*, gpointer self) { static_cast<GtkWindowAdapter*>(self)->handleDestroy(); }

gboolean onWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self) {
    static_cast<GtkWindowAdapter*>(self)->handleStateChange(event->new_window_state);
    return FALSE;
}

gboolean onConfigure(GtkWidget*, GdkEventConfigure*, gpointer self) {
    static_cast<GtkWindowAdapter*>(self)->handleConfigure();
    return FALSE;
}

void onHide(GtkWidget*, gpointer self) { static_cast<GtkWindowAdapter*>(self)->handleHide(); }

void onShutdown(GApplication*, gpointer self) { static_cast<GtkWindowAdapter*>(self)->saveFrameNow(); }

gboolean onSaveTimer(gpointer self) {
    static_cast<GtkWindowAdapter*>(self)->handleSaveTimer();
    return G_SOURCE_REMOVE;
}

// A frame saved on a monitor that is gone would open the window where nobody can see it.
bool onSomeMonitor(const KeyFileSettings::Frame& f) {
    GdkDisplay* display = gdk_display_get_default();
    if (!display)
        return false;
    GdkRectangle frame{f.x, f.y, f.width, f.height};
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
        GdkRectangle area;
        gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &area);
        GdkRectangle overlap;
        if (gdk_rectangle_intersect(&frame, &area, &overlap) && overlap.width >= 50 && overlap.height >= 50)
            return true;
    }
    return false;
}

} // namespace

GtkWindowAdapter::GtkWindowAdapter(GtkApplication* app, KeyFileSettings& settings, const platform::WindowSpec& spec,
                                   std::shared_ptr<platform::WebView> content, platform::WindowDelegate& delegate)
    : app_(app), window_(GTK_WINDOW(gtk_application_window_new(app))), settings_(settings),
      autosaveName_(spec.autosaveName), title_(spec.title), content_(std::move(content)),
      native_(dynamic_cast<NativeView*>(content_.get())), delegate_(delegate) {
    gtk_window_set_title(window_, title_.c_str());
    gtk_window_set_default_size(window_, spec.width, spec.height);
    if (spec.minWidth > 0 || spec.minHeight > 0) {
        GdkGeometry hints{};
        hints.min_width = spec.minWidth;
        hints.min_height = spec.minHeight;
        gtk_window_set_geometry_hints(window_, nullptr, &hints, GDK_HINT_MIN_SIZE);
    }
    if (native_) {
        GtkWidget* child = native_->widget();
        gtk_container_add(GTK_CONTAINER(window_), child);
        gtk_widget_show(child);
    }
    restoreFrame(spec);
    g_signal_connect(window_, "delete-event", G_CALLBACK(onDeleteEvent), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(onDestroy), this);
    g_signal_connect(window_, "window-state-event", G_CALLBACK(onWindowState), this);
    g_signal_connect(window_, "configure-event", G_CALLBACK(onConfigure), this);
    g_signal_connect(window_, "hide", G_CALLBACK(onHide), this);
    g_signal_connect(app_, "shutdown", G_CALLBACK(onShutdown), this);
    if (native_)
        native_->attachToWindow(this);
}

GtkWindowAdapter::~GtkWindowAdapter() {
    g_signal_handlers_disconnect_by_data(app_, this);
    if (window_) {
        saveFrameNow();
        g_signal_handlers_disconnect_by_data(window_, this);
        GtkWindow* window = window_;
        handleDestroy();
        if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(window)))
            gtk_container_remove(GTK_CONTAINER(window), child);
        gtk_widget_destroy(GTK_WIDGET(window));
    }
    cancelFrameSave();
}

void GtkWindowAdapter::restoreFrame(const platform::WindowSpec& spec) {
    KeyFileSettings::Frame saved;
    bool haveSaved = !autosaveName_.empty() && settings_.windowFrame(autosaveName_, saved);
    if (haveSaved) {
        gtk_window_set_default_size(window_, saved.width, saved.height);
        lastNormalFrame_ = saved;
        haveNormalFrame_ = true;
        if (saved.maximized)
            gtk_window_maximize(window_);
    }
    if (haveSaved && onSomeMonitor(saved))
        gtk_window_move(window_, saved.x, saved.y);
    else if (spec.center)
        gtk_window_set_position(window_, GTK_WIN_POS_CENTER);
}

void GtkWindowAdapter::setTitle(const std::string& title) {
    title_ = title;
    if (window_)
        gtk_window_set_title(window_, title.c_str());
}

std::string GtkWindowAdapter::title() const { return title_; }

void GtkWindowAdapter::makeKeyAndOrderFront() {
    if (!window_)
        return;
    g_object_set_data(G_OBJECT(window_), GtkApp::hiddenByAppKey, nullptr);
    GtkApp::markFront(window_);
    gtk_window_present_with_time(window_, gtk_get_current_event_time());
}

void GtkWindowAdapter::orderOut() {
    if (!window_)
        return;
    g_object_set_data(G_OBJECT(window_), GtkApp::hiddenByAppKey, nullptr);
    gtk_widget_hide(GTK_WIDGET(window_));
}

void GtkWindowAdapter::close() {
    if (!window_ || closing_)
        return;
    finishClose();
}

bool GtkWindowAdapter::handleDeleteEvent() {
    // The delegate may drop the last reference to this object while it answers.
    auto keep = weak_from_this().lock();
    if (closing_)
        return true;
    if (delegate_.windowShouldClose(*this))
        finishClose();
    return true; // destruction, when it happens, is ours
}

void GtkWindowAdapter::finishClose() {
    auto keep = weak_from_this().lock();
    closing_ = true;
    delegate_.windowWillClose(*this);
    if (!window_)
        return;
    saveFrameNow();
    GtkWindow* window = window_;
    // Taken out first so that the web view is released by its owner rather than disposed with the window.
    if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(window)))
        gtk_container_remove(GTK_CONTAINER(window), child);
    gtk_widget_destroy(GTK_WIDGET(window));
}

void GtkWindowAdapter::handleDestroy() {
    cancelFrameSave();
    window_ = nullptr;
    if (native_)
        native_->attachToWindow(nullptr);
}

// A minimised window is not on screen, so it counts as not visible.
bool GtkWindowAdapter::isVisible() const {
    return window_ && gtk_widget_get_visible(GTK_WIDGET(window_)) && !(state_ & GDK_WINDOW_STATE_ICONIFIED);
}

bool GtkWindowAdapter::isFullScreen() const { return window_ && (state_ & GDK_WINDOW_STATE_FULLSCREEN); }

platform::Rect GtkWindowAdapter::frame() const {
    platform::Rect r;
    if (!window_)
        return r;
    gtk_window_get_position(window_, &r.x, &r.y);
    gtk_window_get_size(window_, &r.width, &r.height);
    return r;
}

void GtkWindowAdapter::setTopLeft(int x, int y) {
    if (window_)
        gtk_window_move(window_, x, y);
}

platform::WebView& GtkWindowAdapter::webView() { return *content_; }

void GtkWindowAdapter::handleStateChange(GdkWindowState state) {
    state_ = state;
    scheduleFrameSave();
}

void GtkWindowAdapter::handleConfigure() {
    constexpr int notNormal = GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN | GDK_WINDOW_STATE_TILED;
    if (window_ && !(state_ & notNormal)) {
        KeyFileSettings::Frame f;
        gtk_window_get_position(window_, &f.x, &f.y);
        gtk_window_get_size(window_, &f.width, &f.height);
        lastNormalFrame_ = f;
        haveNormalFrame_ = true;
    }
    scheduleFrameSave();
}

void GtkWindowAdapter::handleHide() { saveFrameNow(); }

void GtkWindowAdapter::scheduleFrameSave() {
    if (autosaveName_.empty())
        return;
    cancelFrameSave();
    saveTimer_ = g_timeout_add(frameSaveDelayMs, onSaveTimer, this);
}

void GtkWindowAdapter::cancelFrameSave() {
    if (saveTimer_)
        g_source_remove(saveTimer_);
    saveTimer_ = 0;
}

void GtkWindowAdapter::handleSaveTimer() {
    saveTimer_ = 0;
    saveFrameNow();
}

void GtkWindowAdapter::saveFrameNow() {
    cancelFrameSave();
    if (autosaveName_.empty() || !haveNormalFrame_)
        return;
    KeyFileSettings::Frame f = lastNormalFrame_;
    f.maximized = state_ & GDK_WINDOW_STATE_MAXIMIZED;
    settings_.setWindowFrame(autosaveName_, f);
}

} // namespace platform::gtk
