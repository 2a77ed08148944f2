#include <gtest/gtest.h>

#include <memory>
#include "RunLoop.h"
#include "platform/gtk/DbusNotificationCenter.h"

using platform::AuthorizationStatus;
using platform::NotificationRequest;
using platform::gtk::DbusNotificationCenter;

namespace {

const std::string appId = "org.nolar.Test";
const char* const name = "org.freedesktop.Notifications";
const char* const path = "/org/freedesktop/Notifications";
const char* const xml = R"(<node><interface name="org.freedesktop.Notifications">
  <method name="GetServerInformation"><arg type="s" direction="out"/><arg type="s" direction="out"/>
    <arg type="s" direction="out"/><arg type="s" direction="out"/></method>
  <method name="GetCapabilities"><arg type="as" direction="out"/></method>
  <method name="Notify"><arg type="s" direction="in"/><arg type="u" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="as" direction="in"/><arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
    <arg type="u" direction="out"/></method>
</interface></node>)";

// A call of the bus itself; the number it answers, if any.
guint32 callBus(GDBusConnection* bus, const char* method, GVariant* args)
{
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", method, args, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    EXPECT_NE(reply, nullptr) << method;
    guint32 value = 0;
    if (reply && g_variant_is_of_type(reply, G_VARIANT_TYPE("(u)")))
        g_variant_get(reply, "(u)", &value);
    g_clear_pointer(&reply, g_variant_unref);
    return value;
}

// A round trip on the centre's connection: whatever the bus sent it before is then handled.
void roundTrip()
{
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    callBus(bus, "GetId", nullptr);
    g_object_unref(bus);
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

struct Notified {
    guint32 id, replaces;
    std::string body, call;   // call: all the arguments, as GVariant text
};

// A notification server in this process, on a connection of its own to the private bus (see
// tests/CMakeLists.txt). A Notify answers a new id, or the one it replaces.
class FakeServer {
public:
    explicit FakeServer(std::vector<const char*> capabilities = {"body", "actions"})
        : capabilities(capabilities)
    {
        const auto flags = GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
        const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
        bus = g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, nullptr);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
        static const GDBusInterfaceVTable vtable{handle, nullptr, nullptr, {}};
        g_dbus_connection_register_object(bus, path, node->interfaces[0], &vtable, this, nullptr, nullptr);
        g_dbus_node_info_unref(node);
        // Without queueing (4); 1: the name is ours.
        EXPECT_EQ(callBus(bus, "RequestName", g_variant_new("(su)", name, 4)), 1u);
    }
    ~FakeServer()
    {
        callBus(bus, "ReleaseName", g_variant_new("(s)", name));
        g_dbus_connection_close_sync(bus, nullptr, nullptr);
        g_object_unref(bus);
    }
    // ActionInvoked (u id, s action) or NotificationClosed (u id, u reason).
    void emit(const char* signal, GVariant* args)
    {
        g_dbus_connection_emit_signal(bus, nullptr, path, name, signal, args, nullptr);
    }

    std::vector<Notified> notified;

private:
    static void handle(GDBusConnection*, const char*, const char*, const char*, const char* method,
                       GVariant* args, GDBusMethodInvocation* call, gpointer data)
    {
        auto* self = static_cast<FakeServer*>(data);
        std::string m = method;
        if (m == "GetServerInformation")
            return g_dbus_method_invocation_return_value(call, g_variant_new("(ssss)", "f", "n", "1", "1.2"));
        if (m == "GetCapabilities") {
            auto* list = g_variant_new_strv(self->capabilities.data(), self->capabilities.size());
            return g_dbus_method_invocation_return_value(call, g_variant_new_tuple(&list, 1));
        }
        guint32 replaces = 0;
        const char* body = nullptr;
        g_variant_get_child(args, 1, "u", &replaces);
        g_variant_get_child(args, 4, "&s", &body);
        gchar* text = g_variant_print(args, FALSE);
        self->notified.push_back({replaces ? replaces : self->nextId++, replaces, body, text});
        g_free(text);
        g_dbus_method_invocation_return_value(call, g_variant_new("(u)", self->notified.back().id));
    }

    std::vector<const char*> capabilities;
    GDBusConnection* bus;
    guint32 nextId = 1;
};

class DbusNotificationCenterTest : public ::testing::Test {
protected:
    std::optional<std::string> add(const std::string& id, const std::string& body = "body",
                                   std::optional<std::string> thread = std::nullopt)
    {
        std::optional<std::optional<std::string>> result;
        center->add(NotificationRequest{id, "title " + id, body, thread}, [&](auto e) { result = e; });
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
        return result.value_or("no answer");
    }
    Notified last() { return server->notified.empty() ? Notified{} : server->notified.back(); }

    std::unique_ptr<FakeServer> server = std::make_unique<FakeServer>();
    std::unique_ptr<DbusNotificationCenter> center = std::make_unique<DbusNotificationCenter>(appId);
    std::vector<std::optional<std::string>> clicks;
};

} // namespace

TEST_F(DbusNotificationCenterTest, PermissionFollowsWhetherAServerAnswers)
{
    for (bool withServer : {true, false}) {
        SCOPED_TRACE(withServer ? "server on the bus" : "no server");
        if (!withServer)
            server.reset();
        std::optional<AuthorizationStatus> status;
        center->getAuthorizationStatus([&](AuthorizationStatus s) { status = s; });
        std::optional<std::pair<bool, std::optional<std::string>>> answer;
        center->requestAuthorization([&](bool granted, auto error) { answer.emplace(granted, error); });
        ASSERT_TRUE(runUntil([&] { return status && answer; }));
        EXPECT_EQ(*status, withServer ? AuthorizationStatus::Authorized : AuthorizationStatus::Denied);
        EXPECT_EQ(answer->first, withServer);
        EXPECT_EQ(answer->second.has_value(), !withServer);
    }
}

TEST_F(DbusNotificationCenterTest, NotifyCarriesTheRequest)
{
    EXPECT_EQ(add("a", "hello", "kel-download"), std::nullopt);
    ASSERT_EQ(server->notified.size(), 1u);
    EXPECT_EQ(last().call, "('Нолар', 0, 'org.nolar.Test', 'title a', 'hello', ['default', 'Открыть'], "
                           "{'desktop-entry': <'org.nolar.Test'>, 'x-nolar-thread': <'kel-download'>}, -1)");
    add("b");
    EXPECT_EQ(last().call, "('Нолар', 0, 'org.nolar.Test', 'title b', 'body', ['default', 'Открыть'], "
                           "{'desktop-entry': <'org.nolar.Test'>}, -1)");
}

TEST_F(DbusNotificationCenterTest, BodyIsEscapedOnlyForServersThatRenderMarkup)
{
    const std::string body = "1 < 2 && <b>x</b>";
    for (bool markup : {false, true}) {
        SCOPED_TRACE(markup ? "body-markup" : "plain");
        server.reset();
        server = std::make_unique<FakeServer>(std::vector{"body", markup ? "body-markup" : "actions"});
        add("a", body);
        EXPECT_EQ(last().body, markup ? "1 &lt; 2 &amp;&amp; &lt;b&gt;x&lt;/b&gt;" : body);
    }
}

TEST_F(DbusNotificationCenterTest, ReusedIdentifierReplacesEvenWhenSentTogether)
{
    std::vector<std::optional<std::string>> results;
    for (const char* id : {"a", "b", "a", "a"})
        center->add(NotificationRequest{id, id, "", std::nullopt}, [&](auto e) { results.push_back(e); });
    ASSERT_TRUE(runUntil([&] { return results.size() == 4; }));
    const auto& n = server->notified;
    ASSERT_EQ(n.size(), 4u);
    EXPECT_EQ(n[0].replaces, 0u);
    EXPECT_EQ(n[1].replaces, 0u);
    EXPECT_EQ(n[2].replaces, n[0].id);
    EXPECT_EQ(n[3].replaces, n[0].id);
}

TEST_F(DbusNotificationCenterTest, ClicksReachTheHandlerWithOurIdentifierOnly)
{
    center->setResponseHandler([&](std::optional<std::string> id) { clicks.push_back(id); });
    add("a");
    guint32 a = last().id;
    add("b");
    guint32 b = last().id;
    server->emit("ActionInvoked", g_variant_new("(us)", a + b + 100, "default"));   // another application's
    server->emit("ActionInvoked", g_variant_new("(us)", a, "default"));
    server->emit("ActionInvoked", g_variant_new("(us)", b, "something-else"));
    ASSERT_TRUE(runUntil([&] { return clicks.size() >= 2; }));
    roundTrip();
    EXPECT_EQ(clicks, (std::vector<std::optional<std::string>>{"a", "b"}));
}

TEST_F(DbusNotificationCenterTest, ClosingForgetsTheServerIdUnlessItMerelyExpired)
{
    center->setResponseHandler([&](std::optional<std::string> id) { clicks.push_back(id); });
    add("marker");
    guint32 marker = last().id;
    const struct {
        guint32 reason;
        bool replaced;
    } cases[] = {{2, false}, {3, false}, {1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        add("a");
        guint32 shown = last().id;
        server->emit("NotificationClosed", g_variant_new("(uu)", shown, c.reason));
        // Signals from one sender arrive in order: once the click is in, the closing was seen.
        size_t before = clicks.size();
        server->emit("ActionInvoked", g_variant_new("(us)", marker, "default"));
        ASSERT_TRUE(runUntil([&] { return clicks.size() > before; }));
        add("a");
        EXPECT_EQ(last().replaces, c.replaced ? shown : 0u);
    }
}

TEST_F(DbusNotificationCenterTest, RestartedServerStartsAfresh)
{
    add("a");
    server.reset();
    server = std::make_unique<FakeServer>();
    roundTrip();
    add("a");
    EXPECT_EQ(last().replaces, 0u);
}
