#include <gtest/gtest.h>
#include "AppConfig.h"
#include "AppDelegate.h"
#include "MainWindowController.h"
#include "Notifier.h"
#include "UpdateSignature.h"
#include "Updater.h"
#include "fakes/FakePlatform.h"

using namespace fakes;

namespace {

struct Delegate : ::testing::Test {
    FakePlatform p;
    std::shared_ptr<AppDelegate> d = std::make_shared<AppDelegate>(p.services);

    void launch() {
        d->applicationDidFinishLaunching();
        p.queue.drain(); // the permission answer arrives on the main thread
    }
    FakeWindow& window() { return *p.windows.created.at(0); }
    FakeWebView& view() { return *p.web.created.at(0); }
};

TEST_F(Delegate, LaunchLogsInstallsTheMenuAndOpensTheWindowOnlyWhenThePermissionArrives) {
    d->applicationDidFinishLaunching();
    EXPECT_TRUE(p.app.menu.has_value());
    EXPECT_EQ(p.app.activities, 1);
    EXPECT_EQ(d->updater->notifier, d->notifier);
    EXPECT_FALSE(d->main) << "no window before the permission answer";
    p.queue.drain();
    ASSERT_TRUE(d->main);
    EXPECT_TRUE(window().visible);
    EXPECT_EQ(p.queue.delayed.size(), 1u) << "the updater schedules its first check";
    EXPECT_NE(logText().find(" start 1.4 (27) at /opt/Nolar.app\n"), std::string::npos);
}

TEST(DelegateBridge, ThePermissionIsBuiltIntoTheBridge) {
    for (auto [status, state] : {std::pair{platform::AuthorizationStatus::Denied, "\"denied\""},
                                 {platform::AuthorizationStatus::Authorized, "\"granted\""}}) {
        FakePlatform scene;
        scene.notifications.status = status;
        auto d = std::make_shared<AppDelegate>(scene.services);
        d->applicationDidFinishLaunching();
        scene.queue.drain();
        EXPECT_NE(scene.web.created.at(0)->config.userScript.find(state), std::string::npos) << state;
    }
}

TEST_F(Delegate, ActionsBeforeTheWindowExistDoNothingButCheckForUpdates) {
    d->applicationDidFinishLaunching();
    for (auto action : {"reloadPage:", "zoomInPage:", "zoomOutPage:", "zoomResetPage:", "showMain"})
        d->performAction(action);
    EXPECT_EQ(p.app.activations, 1);
    d->notificationClicked("page:n1-1");
    EXPECT_EQ(p.app.activations, 2) << "a page's click before the window only activates";
    d->performAction("checkForUpdates:");
    EXPECT_EQ(p.http.sent.size(), 1u);
}

TEST_F(Delegate, MenuActionsDriveTheWindow) {
    launch();
    for (auto [action, zoom] : {std::pair{"zoomInPage:", 1.1}, {"zoomOutPage:", 1.0}, {"zoomOutPage:", 0.9},
                                {"zoomResetPage:", 1.0}}) {
        d->performAction(action);
        EXPECT_DOUBLE_EQ(view().zoom, zoom) << action;
    }
    d->performAction("reloadPage:");
    EXPECT_EQ(view().reloads, 1);
    window().visible = false;
    EXPECT_TRUE(d->applicationShouldHandleReopen(true));
    EXPECT_TRUE(window().visible);
    EXPECT_FALSE(d->applicationShouldTerminateAfterLastWindowClosed());
}

TEST_F(Delegate, ClicksAreRoutedByIdentifierPrefix) {
    launch();
    window().visible = false;
    p.notifications.handler(std::string("dl:/home/u/Downloads/report (2).pdf"));
    p.queue.drain();
    EXPECT_EQ(p.workspace.revealed, std::vector<std::string>{"/home/u/Downloads/report (2).pdf"});
    EXPECT_FALSE(window().visible);
    EXPECT_EQ(p.app.activations, 1);

    p.notifications.handler(std::string("upd:28"));
    p.queue.drain();
    EXPECT_TRUE(window().visible);
    EXPECT_EQ(p.http.sent.size(), 1u);
    EXPECT_TRUE(view().scripts.empty()) << "the page is not told of update clicks";

    // The page's notifications go back to the page with the page's own id, whatever it is.
    p.notifications.handler(std::string("page:dl:/etc/passwd"));
    p.notifications.handler(std::string("n3-17"));
    p.notifications.handler(std::nullopt);
    p.queue.drain();
    EXPECT_EQ(view().scripts.size(), 1u);
    EXPECT_EQ(view().scripts.back(), R"(window.KelMac && KelMac._notifClick("dl:\/etc\/passwd"))");
    EXPECT_EQ(p.workspace.revealed.size(), 1u);
}

TEST_F(Delegate, DesktopColourSchemeSetsTheStyle_NoPreferenceRestoresTheDefault) {
    launch();
    for (unsigned scheme : {1u, 2u, 0u, 7u}) p.appearance.scheme(scheme);
    EXPECT_EQ(p.appearance.styles, (std::vector<std::optional<bool>>{true, false, {}, {}}));
}

TEST_F(Delegate, WakeAndThePageEachRunACheckThatDoesNotReload) {
    launch();
    p.app.wakeHandlers.at(0)();
    EXPECT_EQ(p.http.sent.size(), 1u);
    p.http.sent[0].completion({404, std::nullopt, std::nullopt});
    d->main->didReceiveScriptMessage(view(), {R"({"type":"checkUpdate"})", AppConfig::ownHost()});
    EXPECT_EQ(p.http.sent.size(), 2u);
    EXPECT_EQ(view().reloads, 0);
    EXPECT_EQ(view().loads.size(), 1u);
}

// A build configured with an update key (the test build is) checks every manifest's signature with it.
TEST_F(Delegate, TheUpdaterWantsManifestsSignedWithTheBuildsKey) {
    const bool keyed = NOLAR_TEST_UPDATE_KEY;
    ASSERT_EQ(UpdateSignature::buildKey().size(), keyed ? 32u : 0u);
    launch();
    d->performAction("checkForUpdates:");
    p.http.sent.at(0).completion({200, std::string(R"({"build":28})"), std::nullopt});
    ASSERT_EQ(p.http.sent.size(), keyed ? 2u : 1u);
    EXPECT_EQ(p.http.sent.back().request.url, AppConfig::versionURL() + (keyed ? ".sig" : ""));
}

TEST(NotifierTest, StatesAndRequests) {
    using S = platform::AuthorizationStatus;
    std::pair<S, const char*> states[] = {{S::Authorized, "granted"}, {S::Provisional, "granted"},
        {S::Denied, "denied"}, {S::NotDetermined, "default"}, {S::Ephemeral, "default"}};
    for (auto [status, state] : states)
        EXPECT_EQ(Notifier::permissionState(status), state);

    FakePlatform p;
    auto n = Notifier::create(p.notifications, p.queue);
    // The user refuses: the state delivered is the one the settings report afterwards.
    p.notifications.grantAnswer = false;
    p.notifications.status = S::Denied;
    std::string state;
    n->requestPermission([&](const std::string& s) { state = s; });
    EXPECT_EQ(state, "") << "delivered on the main thread, not inside the centre's callback";
    p.queue.drain();
    EXPECT_EQ(state, "denied");
    EXPECT_NE(logText().find(" notify permission granted=false error=nil\n"), std::string::npos);

    n->show("a", "t", "b", "");
    n->show("a", "t2", "b2", "kel-update");
    ASSERT_EQ(p.notifications.added.size(), 2u);
    auto& second = p.notifications.added[1];
    EXPECT_EQ(p.notifications.added[0].identifier, "a");
    EXPECT_FALSE(p.notifications.added[0].threadIdentifier);
    EXPECT_EQ(std::tie(second.identifier, second.title, second.threadIdentifier),
              std::make_tuple("a", "t2", "kel-update"));

    std::vector<std::string> clicks;
    n->onClick = [&](const std::string& id) { clicks.push_back(id); };
    p.notifications.handler(std::string("a"));
    EXPECT_TRUE(clicks.empty());
    p.queue.drain();
    EXPECT_EQ(clicks, std::vector<std::string>{"a"});
}

} // namespace
