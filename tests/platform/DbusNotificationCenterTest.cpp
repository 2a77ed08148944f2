#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include "RunLoop.h"
#include "TempDir.h"
#include "platform/gtk/DbusNotificationCenter.h"
#include <sys/wait.h>
#include <unistd.h>

using platform::AuthorizationStatus;
using platform::NotificationRequest;
using platform::gtk::DbusNotificationCenter;

namespace {

const std::string appId = "org.nolar.Test";

// Runs whatever the main loop already has to do.
void drain()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

// The end-to-end tests' notification server, on this process's private bus; it records each Notify.
class FakeNotificationServer {
public:
    explicit FakeNotificationServer(const std::string& capabilities = "body,actions")
    {
        const std::string script = std::string(NOLAR_TEST_SOURCE_DIR) + "/e2e/fake_peers.py";
        const std::string record = dir / "notify.jsonl", launcher = dir / "launcher.jsonl";
        const gchar* argv[] = {"/usr/bin/python3", script.c_str(), "--notifications", record.c_str(), "--launcher-record",
                               launcher.c_str(), "--capabilities", capabilities.c_str(), nullptr};
        gint out = -1;
        EXPECT_TRUE(g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_DEFAULT, nullptr,
                                             nullptr, &pid, nullptr, &out, nullptr, nullptr));
        std::string line;
        for (char c = 0; out >= 0 && read(out, &c, 1) == 1 && c != '\n';)
            line += c;
        close(out);
        EXPECT_EQ(line, "ready") << "the fake server did not get its name";
    }
    ~FakeNotificationServer()
    {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        g_spawn_close_pid(pid);
    }
    // Every Notify answered, in order: its arguments by their names, and the "id" it answered.
    std::vector<nlohmann::json> notified() const
    {
        std::vector<nlohmann::json> out;
        std::ifstream in(dir / "notify.jsonl");
        for (std::string line; std::getline(in, line) && !in.eof();) // a line still being written is not one yet
            out.push_back(nlohmann::json::parse(line));
        return out;
    }
    // A call on the bus; once it has come back, whatever the bus sent before it is on this process's main loop.
    static void call(const char* name, const char* path, const char* interface, const char* method, GVariant* args)
    {
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        GVariant* r = g_dbus_connection_call_sync(bus, name, path, interface, method, args, nullptr,
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        EXPECT_NE(r, nullptr) << method;
        if (r)
            g_variant_unref(r);
        g_object_unref(bus);
    }
    static void sync()
    {
        call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", nullptr);
        drain();
    }
    // The server emits ActionInvoked (u id, s action) or NotificationClosed (u id, u reason).
    void emit(const char* signal, GVariant* args)
    {
        call("org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.nolar.Test.Notifications",
             (std::string("Emit") + signal).c_str(), args);
    }

private:
    TempDir dir;
    GPid pid = 0;
};

class DbusNotificationCenterTest : public ::testing::Test {
protected:
    std::optional<std::string> add(const std::string& id, const std::string& body = "body",
                                   std::optional<std::string> thread = std::nullopt)
    {
        std::optional<std::optional<std::string>> result;
        center->add(NotificationRequest{id, "title " + id, body, thread}, [&](auto error) { result = error; });
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
        return result.value_or("no answer");
    }

    nlohmann::json last() { return server->notified().back(); }

    std::unique_ptr<FakeNotificationServer> server = std::make_unique<FakeNotificationServer>();
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
    ASSERT_EQ(server->notified().size(), 1u);
    const auto n = last();
    EXPECT_EQ(n["app_name"], "Нолар");
    EXPECT_EQ(n["replaces_id"], 0);
    EXPECT_EQ(n["app_icon"], appId);
    EXPECT_EQ(n["summary"], "title a");
    EXPECT_EQ(n["body"], "hello");
    EXPECT_EQ(n["actions"], nlohmann::json({"default", "Открыть"}));
    EXPECT_EQ(n["hints"], nlohmann::json({{"desktop-entry", appId}, {"x-nolar-thread", "kel-download"}}));
    EXPECT_EQ(n["expire_timeout"], -1);

    add("b");
    EXPECT_FALSE(last()["hints"].contains("x-nolar-thread"));
}

TEST_F(DbusNotificationCenterTest, BodyIsEscapedOnlyForServersThatRenderMarkup)
{
    const std::string body = "1 < 2 && <b>x</b>";
    for (bool markup : {false, true}) {
        SCOPED_TRACE(markup ? "body-markup" : "plain");
        server.reset();
        server = std::make_unique<FakeNotificationServer>(markup ? "body,body-markup" : "body");
        add("a", body);
        EXPECT_EQ(last()["body"], markup ? "1 &lt; 2 &amp;&amp; &lt;b&gt;x&lt;/b&gt;" : body);
    }
}

TEST_F(DbusNotificationCenterTest, ReusedIdentifierReplacesEvenWhenSentTogether)
{
    std::vector<std::optional<std::string>> results;
    for (const char* id : {"a", "b", "a", "a"})
        center->add(NotificationRequest{id, id, "", std::nullopt}, [&](auto error) { results.push_back(error); });
    ASSERT_TRUE(runUntil([&] { return results.size() == 4; }));
    const auto& n = server->notified();
    ASSERT_EQ(n.size(), 4u);
    EXPECT_EQ(n[0]["replaces_id"], 0);
    EXPECT_EQ(n[1]["replaces_id"], 0);
    EXPECT_EQ(n[2]["replaces_id"], n[0]["id"]);
    EXPECT_EQ(n[3]["replaces_id"], n[0]["id"]);
}

TEST_F(DbusNotificationCenterTest, ClicksReachTheHandlerWithOurIdentifierOnly)
{
    center->setResponseHandler([&](std::optional<std::string> id) { clicks.push_back(id); });
    add("a");
    guint32 a = last()["id"];
    add("b");
    guint32 b = last()["id"];
    server->emit("ActionInvoked", g_variant_new("(us)", a + b + 100, "default"));   // another application's notification
    server->emit("ActionInvoked", g_variant_new("(us)", a, "default"));
    server->emit("ActionInvoked", g_variant_new("(us)", b, "something-else"));
    ASSERT_TRUE(runUntil([&] { return clicks.size() >= 2; }));
    drain();
    EXPECT_EQ(clicks, (std::vector<std::optional<std::string>>{"a", "b"}));
}

TEST_F(DbusNotificationCenterTest, ClosingForgetsTheServerIdUnlessItMerelyExpired)
{
    center->setResponseHandler([&](std::optional<std::string> id) { clicks.push_back(id); });
    add("marker");
    guint32 marker = last()["id"];
    const struct {
        guint32 reason;
        bool replaced;
    } cases[] = {{2, false}, {3, false}, {1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        add("a");
        guint32 shown = last()["id"];
        server->emit("NotificationClosed", g_variant_new("(uu)", shown, c.reason));
        // Signals from one sender arrive in order: once the click is in, the closing was seen.
        size_t before = clicks.size();
        server->emit("ActionInvoked", g_variant_new("(us)", marker, "default"));
        ASSERT_TRUE(runUntil([&] { return clicks.size() > before; }));
        add("a");
        EXPECT_EQ(last()["replaces_id"], c.replaced ? shown : 0u);
    }
}

TEST_F(DbusNotificationCenterTest, RestartedServerStartsAfresh)
{
    add("a");
    server.reset();
    server = std::make_unique<FakeNotificationServer>();
    FakeNotificationServer::sync();
    add("a");
    EXPECT_EQ(last()["replaces_id"], 0);
}
