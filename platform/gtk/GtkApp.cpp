#include "GtkApp.h"

#include <charconv>
#include <string_view>

#include "GtkMainMenu.h"
#include "SoftwareRendering.h"

namespace platform::gtk {

namespace {

void onStartup(GApplication*, gpointer self) { static_cast<GtkApp*>(self)->handleStartup(); }
void onActivate(GApplication*, gpointer self) { static_cast<GtkApp*>(self)->handleActivate(); }

void onSystemBus(GObject*, GAsyncResult* result, gpointer self) {
    // No system bus (containers, minimal sessions) simply means no wake events.
    GDBusConnection* bus = g_bus_get_finish(result, nullptr);
    if (bus)
        static_cast<GtkApp*>(self)->handleSystemBus(bus);
}

void onPrepareForSleep(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                       GVariant* parameters, gpointer self) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)")))
        return;
    gboolean sleeping = FALSE;
    g_variant_get(parameters, "(b)", &sleeping);
    static_cast<GtkApp*>(self)->handlePrepareForSleep(sleeping);
}

gboolean onFocusIn(GtkWidget* window, GdkEvent*, gpointer) {
    GtkApp::markFront(GTK_WINDOW(window));
    return FALSE;
}

void onWindowAdded(GtkApplication*, GtkWindow* window, gpointer) {
    g_signal_connect(window, "focus-in-event", G_CALLBACK(onFocusIn), nullptr);
}

constexpr const char* frontStampKey = "nolar-front-stamp";

std::vector<GtkWindow*> windowsOf(GtkApplication* app) {
    std::vector<GtkWindow*> out;
    for (GList* l = gtk_application_get_windows(app); l; l = l->next)
        out.push_back(GTK_WINDOW(l->data));
    return out;
}

} // namespace

GtkApp::GtkApp(const std::string& appId)
    : appId_(appId), app_(gtk_application_new(appId.c_str(), G_APPLICATION_DEFAULT_FLAGS)),
      cancellable_(g_cancellable_new()) {
    leaveGlUnusedWithoutGpu();  // the display opens at startup, after this
    g_signal_connect(app_, "startup", G_CALLBACK(onStartup), this);
    g_signal_connect(app_, "activate", G_CALLBACK(onActivate), this);
    g_signal_connect(app_, "window-added", G_CALLBACK(onWindowAdded), nullptr);
}

GtkApp::~GtkApp() {
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
    if (systemBus_) {
        g_dbus_connection_signal_unsubscribe(systemBus_, sleepSubscription_);
        g_object_unref(systemBus_);
    }
    menu_.reset();
    g_signal_handlers_disconnect_by_data(app_, this);
    g_object_unref(app_);
}

void GtkApp::setArguments(int argc, char** argv) {
    argc_ = argc;
    argv_ = argv;
}

void GtkApp::setDelegate(platform::ApplicationDelegate* delegate) { delegate_ = delegate; }

int GtkApp::run() { return g_application_run(G_APPLICATION(app_), argc_, argv_); }

bool GtkApp::isRunningElsewhere() {
    // Registering makes this run the primary one unless another holds the name on the session bus.
    GError* error = nullptr;
    if (!g_application_register(G_APPLICATION(app_), nullptr, &error)) {
        g_warning("cannot register the application: %s", error->message);
        g_error_free(error);
        return false;
    }
    return g_application_get_is_remote(G_APPLICATION(app_));
}

void GtkApp::handleStartup() {
    // Only the primary instance starts up; a second start is forwarded to it as another activate.
    if (!delegate_ || !delegate_->applicationShouldTerminateAfterLastWindowClosed())
        g_application_hold(G_APPLICATION(app_));
}

void GtkApp::handleActivate() {
    if (!launched_) {
        launched_ = true;
        if (delegate_)
            delegate_->applicationDidFinishLaunching();
        return;
    }
    if (delegate_)
        delegate_->applicationShouldHandleReopen(hasVisibleWindows());
}

bool GtkApp::hasVisibleWindows() const {
    for (GtkWindow* w : windowsOf(app_))
        if (gtk_widget_get_visible(GTK_WIDGET(w)))
            return true;
    return false;
}

void GtkApp::markFront(GtkWindow* window) {
    static gsize stamp = 0;
    g_object_set_data(G_OBJECT(window), frontStampKey, GSIZE_TO_POINTER(++stamp));
}

void GtkApp::activate() {
    // Bring back what hide() hid, then raise the window last brought to the front or focused. The toolkit's
    // own "most recently focused" order can lag behind a window that was just brought forward.
    GtkWindow* front = nullptr;
    gsize frontStamp = 0;
    for (GtkWindow* w : windowsOf(app_)) {
        if (g_object_get_data(G_OBJECT(w), hiddenByAppKey)) {
            g_object_set_data(G_OBJECT(w), hiddenByAppKey, nullptr);
            gtk_widget_show(GTK_WIDGET(w));
        }
        gsize stamp = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(w), frontStampKey));
        if (gtk_widget_get_visible(GTK_WIDGET(w)) && (!front || stamp > frontStamp)) {
            front = w;
            frontStamp = stamp;
        }
    }
    if (front)
        gtk_window_present_with_time(front, gtk_get_current_event_time());
}

void GtkApp::hide() {
    for (GtkWindow* w : windowsOf(app_)) {
        if (!gtk_widget_get_visible(GTK_WIDGET(w)))
            continue;
        g_object_set_data(G_OBJECT(w), hiddenByAppKey, GINT_TO_POINTER(1));
        gtk_widget_hide(GTK_WIDGET(w));
    }
}

void GtkApp::terminate() { g_application_quit(G_APPLICATION(app_)); }

bool GtkApp::isActive() const {
    for (GtkWindow* w : windowsOf(app_))
        if (gtk_window_is_active(w))
            return true;
    return false;
}

void GtkApp::setMainMenu(const platform::MenuBar& menu) {
    if (!menu_)
        menu_ = std::make_unique<GtkMainMenu>(*this);
    menu_->install(menu);
}

std::optional<long long> GtkApp::launcherCount(const std::optional<std::string>& label) {
    if (!label)
        return std::nullopt;
    // A launcher shows only numbers; "999+" says more than 999.
    bool more = !label->empty() && label->back() == '+';
    std::string_view digits(label->data(), label->size() - (more ? 1 : 0));
    long long n = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || n < 0)
        return std::nullopt;
    return more ? n + 1 : n;
}

void GtkApp::setBadgeLabel(const std::optional<std::string>& label) {
    GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(app_));
    if (!bus)
        return;
    auto count = launcherCount(label);
    GVariantBuilder props;
    g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&props, "{sv}", "count", g_variant_new_int64(count.value_or(0)));
    g_variant_builder_add(&props, "{sv}", "count-visible", g_variant_new_boolean(count.has_value()));
    std::string uri = "application://" + appId_ + ".desktop";
    std::string path = std::string(g_application_get_dbus_object_path(G_APPLICATION(app_))) + "/LauncherEntry";
    g_dbus_connection_emit_signal(bus, nullptr, path.c_str(), "com.canonical.Unity.LauncherEntry", "Update",
                                  g_variant_new("(sa{sv})", uri.c_str(), &props), nullptr);
}

std::shared_ptr<void> GtkApp::beginActivity(unsigned long long, const std::string&) {
    // Linux has no counterpart of App Nap: a background process is never napped or reaped, so the token is inert.
    return std::make_shared<int>(0);
}

void GtkApp::onWake(std::function<void()> fn) {
    bool first = wakeHandlers_.empty();
    wakeHandlers_.push_back(std::move(fn));
    if (first)
        g_bus_get(G_BUS_TYPE_SYSTEM, cancellable_, onSystemBus, this);
}

void GtkApp::handleSystemBus(GDBusConnection* bus) {
    // The system bus going away must not take the application with it.
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    systemBus_ = bus;
    sleepSubscription_ = g_dbus_connection_signal_subscribe(
        bus, "org.freedesktop.login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
        "/org/freedesktop/login1", nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onPrepareForSleep, this, nullptr);
}

void GtkApp::handlePrepareForSleep(bool sleeping) {
    if (sleeping)
        return;
    auto handlers = wakeHandlers_;
    for (auto& fn : handlers)
        fn();
}

} // namespace platform::gtk
