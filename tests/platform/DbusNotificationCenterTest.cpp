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
  <method name="Notify"><arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/><arg type="s"/>
    <arg type="as"/><arg type="a{sv}"/><arg type="i"/><arg type="u" direction="out"/></method>
</interface></node>)";

struct Notified {
    guint32 id, replaces;
    std::string body, call;   // call: all the arguments, as GVariant text
};

// A notification server on this process's own connection to the private bus (see tests/CMakeLists.txt).
// A Notify answers a new id, or the one it replaces. Giving up the name waits for the bus, so whatever
// the centre asks afterwards comes after the news that the server is gone.
class FakeServer {
public:
    explicit FakeServer(std::vector<const char*> capabilities = {"body", "actions"})
        : capabilities(capabilities), bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr))
    {
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
        static const GDBusInterfaceVTable vtable{handle, nullptr, nullptr, {}};
        object = g_dbus_connection_register_object(bus, path, *node->interfaces, &vtable, this, nullptr,
                                                   nullptr);
        g_dbus_node_info_unref(node);
        bool owned = false;
        auto acquired = [](GDBusConnection*, const char*, gpointer p) { *static_cast<bool*>(p) = true; };
        owner = g_bus_own_name_on_connection(bus, name, G_BUS_NAME_OWNER_FLAGS_NONE, acquired, nullptr,
                                             &owned, nullptr);
        EXPECT_TRUE(runUntil([&] { return owned; }));
    }
    ~FakeServer()
    {
        g_bus_unown_name(owner);
        g_dbus_connection_unregister_object(bus, object);
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
    guint object, owner;
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
    EXPECT_EQ(std::vector({n[0].replaces, n[1].replaces, n[2].replaces, n[3].replaces}),
              std::vector({0u, 0u, n[0].id, n[0].id}));
}

TEST_F(DbusNotificationCenterTest, ClicksReachTheHandlerWithOurIdentifierOnly)
{
    std::vector<std::optional<std::string>> clicks;
    center->setResponseHandler([&](std::optional<std::string> id) { clicks.push_back(id); });
    add("a");
    guint32 a = last().id;
    add("b");
    guint32 b = last().id;
    server->emit("ActionInvoked", g_variant_new("(us)", a + b + 100, "default"));   // another application's
    server->emit("ActionInvoked", g_variant_new("(us)", a, "default"));
    server->emit("ActionInvoked", g_variant_new("(us)", b, "something-else"));
    ASSERT_TRUE(runUntil([&] { return clicks.size() >= 2; }));
    EXPECT_EQ(clicks, (std::vector<std::optional<std::string>>{"a", "b"}));
}

// The server's signals and the centre's calls share one connection, so the bus passes them in order:
// the closing is seen before the answer to the next Notify.
TEST_F(DbusNotificationCenterTest, ClosingForgetsTheServerIdUnlessItMerelyExpired)
{
    for (auto [reason, replaced] : {std::pair{2u, false}, {3u, false}, {1u, true}}) {
        SCOPED_TRACE(reason);
        add("a");
        guint32 shown = last().id;
        server->emit("NotificationClosed", g_variant_new("(uu)", shown, reason));
        add("a");
        EXPECT_EQ(last().replaces, replaced ? shown : 0u);
    }
}

TEST_F(DbusNotificationCenterTest, RestartedServerStartsAfresh)
{
    add("a");
    server.reset();
    server = std::make_unique<FakeServer>();
    add("a");
    EXPECT_EQ(last().replaces, 0u);
}
