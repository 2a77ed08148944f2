#include <gtest/gtest.h>
#include "AppConfig.h"
#include "MainWindowController.h"
#include "Notifier.h"
#include "Updater.h"
#include "fakes/FakePlatform.h"

using namespace fakes;
using platform::Policy;
using platform::TargetFrame;

namespace {

struct Controller : ::testing::Test {
    FakePlatform p;
    std::shared_ptr<Notifier> notifier = Notifier::create(p.notifications, p.queue);
    std::shared_ptr<Updater> updater = std::make_shared<Updater>(p.services);
    std::shared_ptr<MainWindowController> c;

    void SetUp() override { c = MainWindowController::create(p.services, notifier, updater, "granted"); }
    FakeWebView& view() { return *p.web.created.at(0); }
    FakeWindow& window() { return *p.windows.created.at(0); }
    std::string ownURL(const std::string& path) { return "https://" + AppConfig::serviceHost() + path; }
    void post(const std::string& body, std::optional<std::string> host = AppConfig::ownHost()) {
        c->didReceiveScriptMessage(view(), platform::ScriptMessage{body, host});
    }
};

TEST_F(Controller, BuildsTheViewWithTheBridgeAndLoadsTheStartPage) {
    EXPECT_NE(view().config.userScript.find("\"granted\""), std::string::npos);
    ASSERT_EQ(view().loads.size(), 1u);
    EXPECT_EQ(view().loads[0].first, AppConfig::startURL());
    EXPECT_EQ(updater->window.lock().get(), &window());
    EXPECT_EQ(view().zoom, 1.0);
}

TEST(ControllerZoom, StoredZoomIsAppliedUnclampedAndIgnoredWhenNotPositive) {
    for (auto [stored, expected] : {std::pair{3.0, 3.0}, {0.0, 1.0}, {-2.0, 1.0}, {1.3, 1.3}}) {
        FakePlatform p;
        p.settings.values["NolarZoom"] = stored;
        auto c = MainWindowController::create(p.services, Notifier::create(p.notifications, p.queue),
                                              std::make_shared<Updater>(p.services), "default");
        EXPECT_DOUBLE_EQ(p.web.created[0]->zoom, expected) << stored;
    }
}

TEST_F(Controller, ZoomClampsAndStoresWhatTheViewHas) {
    view().zoom = 3.0;
    c->zoom(0.1);
    EXPECT_DOUBLE_EQ(view().zoom, 2.5);
    view().zoom = 2.45;
    c->zoom(0.1);
    EXPECT_DOUBLE_EQ(view().zoom, 2.5);
    c->zoom(0.1);
    EXPECT_DOUBLE_EQ(view().zoom, 2.5);
    view().zoom = 0.55;
    c->zoom(-0.1);
    EXPECT_DOUBLE_EQ(view().zoom, 0.5);
    c->zoom(-0.1);
    EXPECT_DOUBLE_EQ(view().zoom, 0.5);
    EXPECT_DOUBLE_EQ(p.settings.values["NolarZoom"], view().zoom);
    c->zoomReset();
    EXPECT_DOUBLE_EQ(view().zoom, 1.0);
    EXPECT_DOUBLE_EQ(p.settings.values["NolarZoom"], 1.0);
}

TEST_F(Controller, WindowTitleFollowsThePageTrimmedOfBlanksAndTabs) {
    struct Row { std::optional<std::string> page; std::string window; } rows[] = {
        {std::string("  Чат \t"), "Чат"}, {std::string("   "), "Нолар"}, {std::nullopt, "Нолар"},
        {std::string("a\n"), "a\n"}, {std::string(""), "Нолар"},
    };
    for (auto& r : rows) {
        view().currentTitle = r.page;
        c->titleChanged(view());
        EXPECT_EQ(window().currentTitle, r.window);
    }
}

TEST_F(Controller, ClosingTheMainWindowHidesItOrTheApplicationInFullScreen) {
    window().visible = true;
    window().userClose();
    EXPECT_FALSE(window().closed);
    EXPECT_FALSE(window().visible);
    window().visible = true;
    window().fullScreen = true;
    window().userClose();
    EXPECT_FALSE(window().closed);
    EXPECT_EQ(p.app.hides, 1);
}

TEST_F(Controller, ReloadLoadsTheStartPageWhileOffline) {
    c->reload();
    EXPECT_EQ(view().reloads, 1);
    c->didFail(view(), {"g-io-error-quark", 39, "Connection refused", true, false});
    c->reload();
    EXPECT_FALSE(c->isShowingOffline());
    EXPECT_EQ(view().reloads, 1);
    EXPECT_EQ(view().loads.back().first, AppConfig::startURL());
}

TEST_F(Controller, NavigationSideEffects) {
    const std::string foreign = "https://127.0.0.2:47443/foreign/page.html";
    auto act = [&](const std::string& url, TargetFrame f, bool gesture) {
        return c->decidePolicyForAction(view(), platform::NavigationAction{false, url, f, gesture});
    };
    EXPECT_EQ(act(foreign, TargetFrame::Main, false), Policy::Cancel);
    EXPECT_EQ(act("file:///etc/passwd", TargetFrame::Unknown, true), Policy::Cancel);
    EXPECT_TRUE(p.workspace.opened.empty()) << "nothing leaves without the user";
    EXPECT_EQ(act(foreign, TargetFrame::Main, true), Policy::Cancel);
    EXPECT_EQ(p.workspace.opened, std::vector<std::string>{foreign});
    EXPECT_EQ(act(ownURL("/about/"), TargetFrame::Main, false), Policy::Cancel);
    ASSERT_EQ(c->popupWindows().size(), 1u);
    EXPECT_EQ(view().loads.size(), 1u) << "the main page stays";
    // Caught only when the response arrives: the engine could not say it was the top frame.
    EXPECT_EQ(act("https://127.0.0.2:47443/x", TargetFrame::Unknown, false), Policy::Allow);
    platform::NavigationResponse r{"https://127.0.0.2:47443/x", true, true, std::nullopt, true, true};
    EXPECT_EQ(c->decidePolicyForResponse(view(), r), Policy::Cancel);
    EXPECT_EQ(p.workspace.opened.size(), 2u);
}

TEST_F(Controller, AnotherApplicationsSchemeIsHandedOutOnlyWhenTheUserAgrees) {
    window().visible = true;
    for (int answer : {1001, 1000}) {
        EXPECT_EQ(c->decidePolicyForAction(view(), {false, std::string("someapp://open/x"), TargetFrame::Unknown, true}),
                  Policy::Cancel);
        EXPECT_TRUE(p.dialogs.alerts.empty()) << "asked only after the engine has its answer";
        p.queue.drain();
        ASSERT_EQ(p.dialogs.alerts.size(), 1u);
        auto& alert = p.dialogs.alerts[0];
        EXPECT_EQ(alert.sheetOn, &window());
        EXPECT_EQ(alert.spec.messageText, "Открыть ссылку в другом приложении?");
        EXPECT_NE(alert.spec.informativeText.find("«someapp:»"), std::string::npos);
        EXPECT_EQ(alert.spec.buttons, (std::vector<std::string>{"Открыть", "Отмена"}));
        p.dialogs.answerSheet(answer);
        p.dialogs.alerts.clear();
    }
    EXPECT_EQ(p.workspace.opened, std::vector<std::string>{"someapp://open/x"}) << "only after Открыть";
}

TEST_F(Controller, OwnPageOpensInAPopupWithoutTheBridgeAtTheSamePointEachTime) {
    window().rect = {300, 200, 1100, 760};
    c->decidePolicyForAction(view(), {false, ownURL("/"), TargetFrame::Main});
    c->decidePolicyForAction(view(), {false, ownURL("/login"), TargetFrame::Main});
    ASSERT_EQ(c->popupWindows().size(), 2u);
    for (int i : {1, 2}) {
        auto& w = *p.windows.created[i];
        EXPECT_EQ(w.currentTitle, AppConfig::ownHost());
        EXPECT_EQ(std::tie(w.rect.x, w.rect.y), std::make_tuple(340, 240)) << "offset from the main window";
        EXPECT_TRUE(w.visible);
        auto& pv = *p.web.created[i];
        EXPECT_TRUE(pv.config.userScript.empty());
        EXPECT_TRUE(pv.config.messageHandler.empty());
        EXPECT_TRUE(pv.config.applicationNameForUserAgent.empty());
        EXPECT_EQ(pv.loads.size(), 1u);
        EXPECT_NE(pv.delegate, nullptr);
    }
}

TEST_F(Controller, NewWindowRequests) {
    auto request = [&](std::optional<std::string> url, bool gesture) {
        return c->createWebView(view(), platform::NavigationAction{false, url, TargetFrame::None, gesture});
    };
    auto own = request(ownURL("/popup/self-closing.html"), false);
    ASSERT_TRUE(own);
    EXPECT_EQ(p.windows.created.back()->currentTitle, "self-closing.html");
    EXPECT_EQ(static_cast<FakeWebView&>(*own).relatedTo, &view()) << "uses the opener's configuration";
    EXPECT_TRUE(static_cast<FakeWebView&>(*own).loads.empty()) << "the engine loads the page itself";
    EXPECT_TRUE(request("about:blank", true));
    EXPECT_EQ(c->popupWindows().size(), 2u);
    // Nothing the page opens alone leaves or gets a window; what the user opens goes to the browser.
    for (auto url : {"https://127.0.0.2:47443/x", "about:blank", "blob:https://127.0.0.2/1", "data:text/html,x",
                     "someapp://x"})
        EXPECT_FALSE(request(std::string(url), false)) << url;
    EXPECT_FALSE(request(std::string("data:text/html,x"), true));
    EXPECT_FALSE(request(std::nullopt, true));
    EXPECT_TRUE(p.workspace.opened.empty());
    EXPECT_FALSE(request(std::string("https://127.0.0.2:47443/x"), true));
    EXPECT_EQ(p.workspace.opened, std::vector<std::string>{"https://127.0.0.2:47443/x"});
    EXPECT_EQ(c->popupWindows().size(), 2u);
}

TEST_F(Controller, PopupsCloseByPageOrButtonAndAreForgotten) {
    auto pv = c->createWebView(view(), {false, ownURL("/a"), TargetFrame::None});
    auto pv2 = c->createWebView(view(), {false, ownURL("/b"), TargetFrame::None});
    c->webViewDidClose(*pv);
    EXPECT_EQ(c->popupWindows().size(), 1u);
    EXPECT_EQ(static_cast<FakeWebView&>(*pv).stops, 1);
    p.windows.created.back()->userClose();
    EXPECT_TRUE(c->popupWindows().empty());
    c->webViewDidClose(view()); // the main page closing its own window does nothing
    p.queue.drain();
    EXPECT_FALSE(window().closed);
    EXPECT_TRUE(c->popupWindows().empty());
}

struct Offline : Controller {
    void fail(int code = -1004, bool transport = true, bool cancelled = false) {
        c->didFail(view(), {transport ? "g-io-error-quark" : "WebKitPolicyError", code, "Нет сети", transport, cancelled});
    }
    void answerProbes(int status) {
        auto sent = std::move(p.http.sent);
        p.http.sent.clear();
        for (auto& s : sent) s.completion({status, std::string(), std::nullopt});
    }
};

TEST_F(Offline, TransportFailureShowsTheOfflinePageAndProbesEveryFiveSeconds) {
    fail();
    EXPECT_TRUE(c->isShowingOffline());
    EXPECT_EQ(view().htmlLoads.size(), 1u);
    ASSERT_EQ(p.queue.liveTimers(), 1);
    c->didFinish(view()); // the offline page's own load
    fail();               // a second failure keeps the one timer
    EXPECT_EQ(p.queue.liveTimers(), 1);
    p.queue.fireTimers();
    ASSERT_EQ(p.http.sent.size(), 1u);
    auto& probe = p.http.sent[0].request;
    EXPECT_EQ(std::tie(probe.method, probe.url), std::make_tuple(std::string("HEAD"), AppConfig::startURL()));
}

TEST_F(Offline, OnlyStatus200Reloads_AndTwoSuccessesReloadOnce) {
    fail();
    size_t loads = view().loads.size();
    for (int status : {204, 500, 0}) {
        p.queue.fireTimers();
        answerProbes(status);
    }
    EXPECT_TRUE(c->isShowingOffline());
    p.queue.fireTimers();
    p.queue.fireTimers(); // the first probe is still out when the next tick sends another
    ASSERT_EQ(p.http.sent.size(), 2u);
    answerProbes(200);
    EXPECT_FALSE(c->isShowingOffline());
    EXPECT_EQ(view().loads.size(), loads + 1);
    EXPECT_EQ(p.queue.liveTimers(), 0);
}

TEST_F(Offline, CancelledAndPolicyFailuresAndPopupFailuresChangeNothing) {
    fail(-999, true, true);
    fail(102, false, false); // a response turned into a download or sent elsewhere
    auto popup = c->createWebView(view(), {false, ownURL("/a"), TargetFrame::None});
    c->didFail(*popup, {"g-io-error-quark", 1, "x", true, false});
    p.queue.drain();
    EXPECT_FALSE(c->isShowingOffline());
    EXPECT_TRUE(view().htmlLoads.empty());
    EXPECT_EQ(p.queue.liveTimers(), 0);
}

TEST_F(Offline, RetryWhileStillDown_OneTimerAtATime) {
    fail();
    post(R"({"type":"retry"})", std::nullopt); // the offline page has no origin
    EXPECT_FALSE(c->isShowingOffline());
    // The failure comes back before the next tick: the same timer goes on.
    fail();
    EXPECT_EQ(p.queue.liveTimers(), 1);
    // Or a tick comes first: it stops the timer, and the failure starts a new one.
    post(R"({"type":"retry"})", std::nullopt);
    p.queue.fireTimers();
    EXPECT_EQ(p.queue.liveTimers(), 0);
    EXPECT_TRUE(p.http.sent.empty());
    fail();
    EXPECT_EQ(p.queue.liveTimers(), 1);
}

TEST_F(Offline, FinishedLoadStopsTheTimer_ContentProcessEndReloads) {
    fail();
    c->webContentProcessUnresponsive(view());
    EXPECT_EQ(view().terminations, 1) << "a page that does not answer has its process ended";
    c->webContentProcessDidTerminate(view());
    EXPECT_FALSE(c->isShowingOffline());
    EXPECT_EQ(view().loads.back().first, AppConfig::startURL());
    EXPECT_EQ(p.queue.liveTimers(), 1) << "left to stop at its next firing";
    c->didFinish(view());
    EXPECT_EQ(p.queue.liveTimers(), 0);
    auto popup = c->createWebView(view(), {false, ownURL("/a"), TargetFrame::None});
    c->webContentProcessDidTerminate(*popup);
    EXPECT_EQ(static_cast<FakeWebView&>(*popup).reloads, 1);
}

TEST_F(Controller, DownloadsGetUniqueNamesEvenWhileRunningTogether) {
    std::string a = c->decideDestination(view(), 1, "report.pdf");
    std::string b = c->decideDestination(view(), 2, "report.pdf");
    EXPECT_EQ(a, "/home/u/Downloads/report.pdf");
    EXPECT_EQ(b, "/home/u/Downloads/report (2).pdf");
    EXPECT_EQ(c->decideDestination(view(), 3, ""), "/home/u/Downloads/file");
    EXPECT_EQ(c->decideDestination(view(), 4, "../x"), "/home/u/Downloads/_._x");
    c->downloadDidFinish(1);
    c->downloadDidFinish(1); // no entry any more: nothing
    ASSERT_EQ(p.notifications.added.size(), 1u);
    auto& n = p.notifications.added[0];
    EXPECT_EQ(n.identifier, "dl:" + a);
    EXPECT_EQ(n.body, "report.pdf");
    EXPECT_EQ(n.threadIdentifier, "kel-download");
    EXPECT_EQ(p.workspace.finished, std::vector<std::string>{a});
    c->downloadDidFail(2, "Ошибка сети");
    c->downloadDidFail(99, "Ошибка сети"); // unknown download: still reported
    ASSERT_EQ(p.notifications.added.size(), 3u);
    EXPECT_EQ(p.notifications.added[1].identifier.rfind("dlerr-", 0), 0u);
    EXPECT_EQ(p.notifications.added[1].identifier.size(), 6u + 36u);
    EXPECT_NE(p.notifications.added[1].identifier, p.notifications.added[2].identifier);
    EXPECT_EQ(p.notifications.added[1].body, "Ошибка сети");
}

TEST_F(Controller, APopupWhoseOnlyNavigationBecameADownloadCloses) {
    // An attachment link on the service opens a popup; its response becomes the download.
    c->decidePolicyForAction(view(), {false, ownURL("/files/report.pdf"), TargetFrame::Main});
    auto& blank = *p.web.created.at(1);
    // A popup that shows a page and then downloads stays.
    c->decidePolicyForAction(view(), {false, ownURL("/about/"), TargetFrame::Main});
    auto& page = *p.web.created.at(2);
    c->didFinish(page);
    c->decideDestination(blank, 1, "report.pdf");
    c->decideDestination(page, 2, "data.bin");
    c->decideDestination(view(), 3, "main.txt");
    p.queue.drain();
    ASSERT_EQ(c->popupWindows().size(), 1u);
    EXPECT_EQ(&c->popupWindows()[0]->webView(), &page);
    EXPECT_TRUE(p.windows.created[1]->closed);
    EXPECT_FALSE(window().closed);
    c->downloadDidFinish(1); // the download goes on without its window
    EXPECT_EQ(p.notifications.added.size(), 1u);
}

TEST_F(Controller, DialogsAttachToTheAskingVisibleWindowElseRunModal) {
    window().visible = true;
    std::optional<bool> confirmed;
    c->runConfirm(view(), "Удалить?", [&](bool ok) { confirmed = ok; });
    ASSERT_EQ(p.dialogs.alerts.size(), 1u);
    EXPECT_EQ(p.dialogs.alerts[0].sheetOn, &window());
    EXPECT_EQ(p.dialogs.alerts[0].spec.buttons.size(), 2u);
    p.dialogs.answerSheet(1001);
    EXPECT_EQ(confirmed, false);

    window().visible = false;
    p.dialogs.modalAnswers.push_back({1000, ""});
    c->runConfirm(view(), "Удалить?", [&](bool ok) { confirmed = ok; });
    EXPECT_EQ(p.dialogs.alerts.back().sheetOn, nullptr);
    EXPECT_EQ(confirmed, true);

    auto popup = c->createWebView(view(), {false, ownURL("/a"), TargetFrame::None});
    bool alerted = false;
    c->runAlert(*popup, "Привет", [&] { alerted = true; });
    EXPECT_EQ(p.dialogs.alerts.back().sheetOn, p.windows.created.back().get());
    EXPECT_EQ(p.dialogs.alerts.back().spec.buttons.size(), 1u);
    p.dialogs.answerSheet(1000);
    EXPECT_TRUE(alerted);
}

TEST_F(Controller, FileChooserAndMedia) {
    window().visible = true;
    std::optional<std::vector<std::string>> chosen{{"x"}};
    c->runOpenPanel(view(), {true, true}, [&](auto files) { chosen = files; });
    ASSERT_EQ(p.dialogs.panels.size(), 1u);
    EXPECT_TRUE(p.dialogs.panels[0].first.allowsMultipleSelection && p.dialogs.panels[0].first.canChooseDirectories);
    p.dialogs.panelCompletions[0](std::nullopt);
    EXPECT_FALSE(chosen);
    EXPECT_TRUE(c->decideMediaCapture(view(), AppConfig::ownHost()));
    EXPECT_TRUE(c->decideMediaCapture(view(), "video." + AppConfig::ownHost()));
    EXPECT_FALSE(c->decideMediaCapture(view(), "127.0.0.2"));
    EXPECT_FALSE(c->decideMediaCapture(view(), ""));
}

TEST_F(Controller, PageMessages) {
    post(R"({"type":"notify","id":"n1-5","title":"Привет","body":"текст","tag":"chat"})");
    post(R"({"type":"notify","title":7})");
    ASSERT_EQ(p.notifications.added.size(), 2u);
    // Page notifications live apart from the application's own.
    EXPECT_EQ(p.notifications.added[0].identifier, "page:n1-5");
    EXPECT_EQ(p.notifications.added[0].threadIdentifier, "chat");
    EXPECT_EQ(p.notifications.added[1].title, "Нолар");
    EXPECT_EQ(p.notifications.added[1].body, "");
    EXPECT_EQ(p.notifications.added[1].identifier.size(), 5u + 36u);
    EXPECT_FALSE(p.notifications.added[1].threadIdentifier);

    for (auto body : {R"({"type":"badge","count":5})", R"({"type":"badge","count":1000})", R"({"type":"badge","count":"7"})",
                      R"({"type":"badge","count":true})", R"({"type":"badge"})"})
        post(body);
    EXPECT_EQ(p.app.badges, (std::vector<std::optional<std::string>>{std::string("5"), std::string("999+"), std::nullopt,
                                                                     std::nullopt, std::nullopt}));
    EXPECT_EQ(p.tray.attention, p.app.badges) << "the tray asks for attention with the badge's text";

    post(R"({"type":"notifyPermission","id":"p1"})");
    p.queue.drain();
    EXPECT_EQ(view().scripts.back(), R"(window.KelMac && KelMac._permResult("p1", "granted"))");
    post(R"({"type":"notifyPermission"})");
    p.queue.drain();
    EXPECT_EQ(view().scripts.back(), R"(window.KelMac && KelMac._permResult("", "granted"))");

    c->notificationClicked("n1-\"5\"");
    EXPECT_EQ(view().scripts.back(), R"(window.KelMac && KelMac._notifClick("n1-\"5\""))");
}

TEST_F(Controller, MalformedAndForeignMessagesAreDropped) {
    const char* malformed[] = {"[]", "{}", "42", "not json", R"({"type":5})", R"({"kind":"notify"})",
                               R"({"type":"Notify"})", R"({"type":"unknown"})"};
    for (auto body : malformed) post(body);
    for (auto host : {std::optional<std::string>("127.0.0.2"), std::optional<std::string>(), std::optional<std::string>("")}) {
        post(R"({"type":"notify","title":"EVIL"})", host);
        post(R"({"type":"badge","count":77})", host);
        post(R"({"type":"notifyPermission","id":"p"})", host);
        post(R"({"type":"checkUpdate","manual":true})", host);
    }
    EXPECT_TRUE(p.http.sent.empty());
    EXPECT_TRUE(p.notifications.added.empty());
    EXPECT_TRUE(p.app.badges.empty());
    EXPECT_EQ(p.notifications.authorizationRequests, 0);
    // A body over 64 KiB is not parsed at all, even from the service.
    post(R"({"type":"badge","count":3,"pad":")" + std::string(64 * 1024, 'x') + "\"}");
    EXPECT_TRUE(p.app.badges.empty());

    // Retry: from the service at any time, from anywhere else only off the offline page.
    size_t loads = view().loads.size();
    post(R"({"type":"retry"})", std::string("127.0.0.2"));
    post(R"({"type":"retry"})", std::nullopt);
    EXPECT_EQ(view().loads.size(), loads);
    post(R"({"type":"retry"})");
    EXPECT_EQ(view().loads.size(), loads + 1);
    c->didFail(view(), {"g-io-error-quark", 39, "Connection refused", true, false});
    ASSERT_TRUE(c->isShowingOffline());
    post(R"({"type":"retry"})", std::nullopt);
    EXPECT_EQ(view().loads.size(), loads + 2) << "the offline page's button";
}

} // namespace
