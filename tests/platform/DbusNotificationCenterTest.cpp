#include <gtest/gtest.h>

#include <memory>
#include "FakeNotificationServer.h"
#include "PrivateSessionBus.h"
#include "RunLoop.h"
#include "platform/gtk/DbusNotificationCenter.h"

using platform::AuthorizationStatus;
using platform::NotificationRequest;
using platform::gtk::DbusNotificationCenter;

namespace {

const std::string appId = "org.nolar.Test";

// The bus must be ours before the first connection to "the session bus" is made anywhere in the process.
class SessionBusEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_FALSE(PrivateSessionBus::address().empty()) << "dbus-daemon did not start"; }
};
const auto* registered = ::testing::AddGlobalTestEnvironment(new SessionBusEnvironment);

// Runs whatever the main loop already has to do.
void drain()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

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

    const FakeNotificationServer::Notified& last() { return server->notified().back(); }

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
    const auto& n = last();
    EXPECT_EQ(n.appName, "Нолар");
    EXPECT_EQ(n.replacesId, 0u);
    EXPECT_EQ(n.icon, appId);
    EXPECT_EQ(n.summary, "title a");
    EXPECT_EQ(n.body, "hello");
    EXPECT_EQ(n.actions, (std::vector<std::string>{"default", "Открыть"}));
    EXPECT_EQ(n.hints, (std::map<std::string, std::string>{{"desktop-entry", appId}, {"x-nolar-thread", "kel-download"}}));
    EXPECT_EQ(n.expireTimeout, -1);

    add("b");
    EXPECT_EQ(last().hints.count("x-nolar-thread"), 0u);
}

TEST_F(DbusNotificationCenterTest, BodyIsEscapedOnlyForServersThatRenderMarkup)
{
    const std::string body = "1 < 2 && <b>x</b>";
    for (bool markup : {false, true}) {
        SCOPED_TRACE(markup ? "body-markup" : "plain");
        server.reset();
        server = std::make_unique<FakeNotificationServer>(
            markup ? std::vector<std::string>{"body", "body-markup"} : std::vector<std::string>{"body"});
        add("a", body);
        EXPECT_EQ(last().body, markup ? "1 &lt; 2 &amp;&amp; &lt;b&gt;x&lt;/b&gt;" : body);
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
    EXPECT_EQ(n[0].replacesId, 0u);
    EXPECT_EQ(n[1].replacesId, 0u);
    EXPECT_EQ(n[2].replacesId, n[0].id);
    EXPECT_EQ(n[3].replacesId, n[0].id);
}

TEST_F(DbusNotificationCenterTest, ClicksReachTheHandlerWithOurIdentifierOnly)
{
    center->setResponseHandler([&](std::optional<std::string> id) { clicks.push_back(id); });
    add("a");
    guint32 a = last().id;
    add("b");
    guint32 b = last().id;
    server->actionInvoked(a + b + 100, "default");   // another application's notification
    server->actionInvoked(a, "default");
    server->actionInvoked(b, "something-else");
    ASSERT_TRUE(runUntil([&] { return clicks.size() >= 2; }));
    drain();
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
        server->notificationClosed(shown, c.reason);
        // Signals from one sender arrive in order: once the click is in, the closing was seen.
        size_t before = clicks.size();
        server->actionInvoked(marker, "default");
        ASSERT_TRUE(runUntil([&] { return clicks.size() > before; }));
        add("a");
        EXPECT_EQ(last().replacesId, c.replaced ? shown : 0u);
    }
}

TEST_F(DbusNotificationCenterTest, RestartedServerStartsAfresh)
{
    add("a");
    server.reset();
    server = std::make_unique<FakeNotificationServer>();
    drain();
    add("a");
    EXPECT_EQ(last().replacesId, 0u);
}
