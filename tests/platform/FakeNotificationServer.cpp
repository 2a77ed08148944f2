#include "FakeNotificationServer.h"
#include <gtest/gtest.h>

#include "RunLoop.h"

namespace {

constexpr const char* name = "org.freedesktop.Notifications";
constexpr const char* path = "/org/freedesktop/Notifications";
constexpr const char* introspection = R"(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
  </interface>
</node>)";

} // namespace

FakeNotificationServer::FakeNotificationServer(std::vector<std::string> capabilities)
    : capabilities(std::move(capabilities))
{
    connection = g_dbus_connection_new_for_address_sync(
        g_getenv("DBUS_SESSION_BUS_ADDRESS"),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspection, nullptr);
    static const GDBusInterfaceVTable vtable = {onMethod, nullptr, nullptr, {}};
    registration = g_dbus_connection_register_object(connection, path, node->interfaces[0], &vtable, this, nullptr,
                                                     nullptr);
    g_dbus_node_info_unref(node);
    ownership = g_bus_own_name_on_connection(
        connection, name, G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, gpointer self) { static_cast<FakeNotificationServer*>(self)->owned = true; },
        nullptr, this, nullptr);
    EXPECT_TRUE(runUntil([this] { return owned; })) << "the fake server did not get its name";
}

FakeNotificationServer::~FakeNotificationServer()
{
    g_bus_unown_name(ownership);
    g_dbus_connection_unregister_object(connection, registration);
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
}

void FakeNotificationServer::actionInvoked(guint32 id, const std::string& action)
{
    g_dbus_connection_emit_signal(connection, nullptr, path, name, "ActionInvoked",
                                  g_variant_new("(us)", id, action.c_str()), nullptr);
}

void FakeNotificationServer::notificationClosed(guint32 id, guint32 reason)
{
    g_dbus_connection_emit_signal(connection, nullptr, path, name, "NotificationClosed",
                                  g_variant_new("(uu)", id, reason), nullptr);
}

void FakeNotificationServer::onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                                      GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data)
{
    auto* self = static_cast<FakeNotificationServer*>(data);
    std::string m = method;
    if (m == "GetServerInformation") {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "fake", "nolar", "1", "1.2"));
    } else if (m == "GetCapabilities") {
        GVariantBuilder list;
        g_variant_builder_init(&list, G_VARIANT_TYPE("as"));
        for (const auto& capability : self->capabilities)
            g_variant_builder_add(&list, "s", capability.c_str());
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(as)", &list));
    } else {
        self->notify(parameters, invocation);
    }
}

void FakeNotificationServer::notify(GVariant* parameters, GDBusMethodInvocation* invocation)
{
    Notified n{};
    const gchar *app, *icon, *summary, *body;
    GVariantIter *actions, *hints;
    g_variant_get(parameters, "(&su&s&s&sasa{sv}i)", &app, &n.replacesId, &icon, &summary, &body, &actions, &hints,
                  &n.expireTimeout);
    n.appName = app, n.icon = icon, n.summary = summary, n.body = body;
    const gchar* text;
    while (g_variant_iter_next(actions, "&s", &text))
        n.actions.push_back(text);
    const gchar* key;
    GVariant* value;
    while (g_variant_iter_next(hints, "{&sv}", &key, &value)) {
        if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING))
            n.hints[key] = g_variant_get_string(value, nullptr);
        g_variant_unref(value);
    }
    g_variant_iter_free(actions);
    g_variant_iter_free(hints);
    n.id = n.replacesId ? n.replacesId : nextId++;
    calls.push_back(n);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", n.id));
}
