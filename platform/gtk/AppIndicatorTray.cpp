#include "AppIndicatorTray.h"

#include <libayatana-appindicator/app-indicator.h>

#include "GtkApp.h"

namespace platform::gtk {

namespace {

constexpr const char* watcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* actionKey = "nolar-action";

void onAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer self) {
    static_cast<AppIndicatorTray*>(self)->watcherAppeared();
}

void onVanished(GDBusConnection*, const gchar*, gpointer self) { static_cast<AppIndicatorTray*>(self)->watcherVanished(); }

void onItemActivated(GtkMenuItem* item, gpointer self) {
    auto* action = static_cast<const char*>(g_object_get_data(G_OBJECT(item), actionKey));
    static_cast<AppIndicatorTray*>(self)->perform(action ? action : "");
}

// The bundle's Resources folder beside Contents/Linux/<executable>, where the icon lies for a
// bundle that was not installed into an icon theme.
std::string bundleResources() {
    char* exe = g_file_read_link("/proc/self/exe", nullptr);
    if (!exe) return "";
    char* folder = g_path_get_dirname(exe);
    char* resources = g_build_filename(folder, "..", "Resources", nullptr);
    std::string out = resources;
    g_free(resources);
    g_free(folder);
    g_free(exe);
    return out;
}

} // namespace

AppIndicatorTray::AppIndicatorTray(GtkApp& app) : app_(app) {}

AppIndicatorTray::~AppIndicatorTray() {
    if (watch_) g_bus_unwatch_name(watch_);
    g_clear_object(&indicator_);
}

void AppIndicatorTray::install(const std::string& title, const std::vector<platform::MenuItem>& menu,
                               std::function<void()> unavailable) {
    title_ = title;
    menu_ = menu;
    unavailable_ = std::move(unavailable);
    if (!watch_)
        watch_ = g_bus_watch_name(G_BUS_TYPE_SESSION, watcherName, G_BUS_NAME_WATCHER_FLAGS_NONE, onAppeared,
                                  onVanished, this, nullptr);
}

void AppIndicatorTray::watcherVanished() {
    // Said once; an item already made re-registers by itself when a watcher comes back.
    if (unavailable_ && !indicator_) {
        unavailable_();
        unavailable_ = nullptr;
    }
}

void AppIndicatorTray::watcherAppeared() {
    if (indicator_) return;
    const char* id = g_application_get_application_id(G_APPLICATION(app_.gtkApplication()));
    indicator_ = app_indicator_new(id, id, APP_INDICATOR_CATEGORY_COMMUNICATIONS);
    app_indicator_set_icon_theme_path(indicator_, bundleResources().c_str());
    app_indicator_set_attention_icon_full(indicator_, id, title_.c_str());
    app_indicator_set_title(indicator_, title_.c_str());
    GtkWidget* menu = gtk_menu_new();
    for (const auto& item : menu_) {
        GtkWidget* widget = item.separator ? gtk_separator_menu_item_new() : gtk_menu_item_new_with_label(item.title.c_str());
        if (!item.separator) {
            g_object_set_data_full(G_OBJECT(widget), actionKey, g_strdup(item.action.c_str()), g_free);
            g_signal_connect(widget, "activate", G_CALLBACK(onItemActivated), this);
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
    }
    gtk_widget_show_all(menu);
    app_indicator_set_menu(indicator_, GTK_MENU(menu));
    apply();
}

void AppIndicatorTray::setAttention(const std::optional<std::string>& label) {
    label_ = label;
    apply();
}

void AppIndicatorTray::apply() {
    if (!indicator_) return;
    app_indicator_set_status(indicator_, label_ ? APP_INDICATOR_STATUS_ATTENTION : APP_INDICATOR_STATUS_ACTIVE);
    app_indicator_set_label(indicator_, label_.value_or("").c_str(), "999+");
}

void AppIndicatorTray::perform(const std::string& action) {
    if (auto* delegate = app_.delegate()) delegate->performAction(action);
}

} // namespace platform::gtk
