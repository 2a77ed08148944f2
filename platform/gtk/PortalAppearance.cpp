#include "PortalAppearance.h"

#include <gtk/gtk.h>

namespace platform::gtk {

namespace {

constexpr const char* portalName = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* settingsInterface = "org.freedesktop.portal.Settings";
constexpr const char* appearanceNamespace = "org.freedesktop.appearance";
constexpr const char* schemeKey = "color-scheme";

void onBus(GObject*, GAsyncResult* result, gpointer self) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_finish(result, &error);
    if (!bus) {
        // Cancelled at shutdown (self is gone) or no session bus: either way there is no portal.
        g_error_free(error);
        return;
    }
    static_cast<PortalAppearance*>(self)->connected(bus);
}

void onRead(GObject* source, GAsyncResult* result, gpointer self) {
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (!reply) return; // no portal, or one without the setting: the toolkit's default stands
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    static_cast<PortalAppearance*>(self)->schemeValue(value);
    g_variant_unref(value);
    g_variant_unref(reply);
}

void onSettingChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                      gpointer self) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
    const char* ns = nullptr;
    const char* key = nullptr;
    GVariant* value = nullptr;
    g_variant_get(parameters, "(&s&sv)", &ns, &key, &value);
    if (g_strcmp0(ns, appearanceNamespace) == 0 && g_strcmp0(key, schemeKey) == 0)
        static_cast<PortalAppearance*>(self)->schemeValue(value);
    g_variant_unref(value);
}

} // namespace

PortalAppearance::PortalAppearance() : cancellable_(g_cancellable_new()) {}

PortalAppearance::~PortalAppearance() {
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
    if (bus_) {
        g_dbus_connection_signal_unsubscribe(bus_, subscription_);
        g_object_unref(bus_);
    }
}

void PortalAppearance::watchColorScheme(std::function<void(unsigned)> fn) {
    handler_ = std::move(fn);
    g_bus_get(G_BUS_TYPE_SESSION, cancellable_, onBus, this);
}

void PortalAppearance::connected(GDBusConnection* bus) {
    bus_ = bus;
    // Subscribed before the read, so that no change falls between the two.
    subscription_ = g_dbus_connection_signal_subscribe(bus, portalName, settingsInterface, "SettingChanged", portalPath,
                                                       nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onSettingChanged, this,
                                                       nullptr);
    g_dbus_connection_call(bus, portalName, portalPath, settingsInterface, "Read",
                           g_variant_new("(ss)", appearanceNamespace, schemeKey), G_VARIANT_TYPE("(v)"),
                           G_DBUS_CALL_FLAGS_NONE, -1, cancellable_, onRead, this);
}

void PortalAppearance::schemeValue(GVariant* value) {
    // Read wraps the value in one more variant than the signal does.
    GVariant* inner = g_variant_ref(value);
    while (g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
        GVariant* next = g_variant_get_variant(inner);
        g_variant_unref(inner);
        inner = next;
    }
    if (g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32) && handler_) handler_(g_variant_get_uint32(inner));
    g_variant_unref(inner);
}

void PortalAppearance::setDarkStyle(std::optional<bool> dark) {
    GtkSettings* settings = gtk_settings_get_default();
    if (!settings) return;
    gboolean current = FALSE;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &current, nullptr);
    if (!toolkitDefault_) toolkitDefault_ = current != FALSE;
    gboolean wanted = dark.value_or(*toolkitDefault_);
    if (wanted != current) g_object_set(settings, "gtk-application-prefer-dark-theme", wanted, nullptr);
}

} // namespace platform::gtk
