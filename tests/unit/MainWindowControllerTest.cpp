#include <gtest/gtest.h>
#include "AppConfig.h"
#include "MainWindowController.h"
#include "Notifier.h"
#include "Updater.h"
#include "fakes/FakePlatform.h"

using namespace fakes;

namespace {

const std::string foreign = "https://127.0.0.2:47443/x";
const std::string own = "https://" + AppConfig::serviceHost();
using Strings = std::vector<std::string>;

struct Controller : ::testing::Test {
    FakePlatform p;
    std::shared_ptr<Updater> updater = std::make_shared<Updater>(p.services);
    std::shared_ptr<MainWindowController> c = MainWindowController::create(
        p.services, Notifier::create(p.notifications, p.queue), updater, "granted");

    FakeWebView& view() { return *p.web.created.at(0); }
    FakeWindow& window() { return *p.windows.created.at(0); }
    void post(const std::string& body, Text host = AppConfig::ownHost()) {
        c->didReceiveScriptMessage(view(), ScriptMessage{body, host});
    }
    void fail(int code = -1004, bool transport = true, bool cancelled = false) {
        c->didFail(view(), {"g-io-error-quark", code, "Нет сети", transport, cancelled});
    }
    Policy act(const std::string& url, TargetFrame frame = TargetFrame::Main, bool gesture = false) {
        return c->decidePolicyForAction(view(), NavigationAction{false, url, frame, gesture});
    }
    std::shared_ptr<WebView> popup(Text url = own + "/a", bool gesture = false) {
        return c->createWebView(view(), NavigationAction{false, url, TargetFrame::None, gesture});
    }
};

TEST_F(Controller, LoadsTheStartPageAndLendsItsWindowToTheUpdater) {
    EXPECT_EQ(view().loads, Strings{AppConfig::startURL()});
    EXPECT_EQ(updater->window.lock().get(), &window());
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
    for (auto [from, step, to] : {std::tuple{3.0, .1, 2.5}, {2.45, .1, 2.5}, {.55, -.1, .5}, {.5, -.1, .5}}) {
        view().zoom = from;
        c->zoom(step);
        EXPECT_DOUBLE_EQ(view().zoom, to) << from;
        EXPECT_DOUBLE_EQ(p.settings.values["NolarZoom"], to) << from;
    }
    c->zoomReset();
    EXPECT_DOUBLE_EQ(view().zoom, 1.0);
    EXPECT_DOUBLE_EQ(p.settings.values["NolarZoom"], 1.0);
}

TEST_F(Controller, WindowTitleFollowsThePageTrimmedOfBlanksAndTabs) {
    std::pair<Text, std::string> rows[] = {
        {"  Чат \t", "Чат"}, {"   ", "Нолар"}, {std::nullopt, "Нолар"}, {"a\n", "a\n"}, {"", "Нолар"}};
    for (auto [page, title] : rows) {
        view().currentTitle = page;
        c->titleChanged(view());
        EXPECT_EQ(window().currentTitle, title);
    }
}

TEST_F(Controller, ClosingTheMainWindowHidesItOrTheApplicationInFullScreen) {
    for (bool fullScreen : {false, true}) {
        window().visible = true;
        window().fullScreen = fullScreen;
        window().userClose();
        EXPECT_FALSE(window().closed);
        EXPECT_EQ(window().visible, fullScreen);
        EXPECT_EQ(p.app.hides, fullScreen ? 1 : 0);
    }
}

TEST_F(Controller, ReloadLoadsTheStartPageWhileOffline) {
    c->reload();
    EXPECT_EQ(view().reloads, 1);
    fail();
    c->reload();
    EXPECT_FALSE(c->isShowingOffline());
    EXPECT_EQ(view().reloads, 1);
    EXPECT_EQ(view().loads.back(), AppConfig::startURL());
}

TEST_F(Controller, NavigationSideEffects) {
    EXPECT_EQ(act(foreign), Policy::Cancel);
    EXPECT_TRUE(p.workspace.opened.empty()) << "nothing leaves without the user";
    EXPECT_EQ(act(foreign, TargetFrame::Main, true), Policy::Cancel);
    EXPECT_EQ(p.workspace.opened, Strings{foreign});
    // Caught only when the response arrives: the engine could not say it was the top frame.
    EXPECT_EQ(act(foreign, TargetFrame::Unknown), Policy::Allow);
    NavigationResponse topFrame{foreign, true, true, std::nullopt, true, true};
    EXPECT_EQ(c->decidePolicyForResponse(view(), topFrame), Policy::Cancel);
    EXPECT_EQ(p.workspace.opened.size(), 2u);
}

TEST_F(Controller, AnotherApplicationsSchemeIsHandedOutOnlyWhenTheUserAgrees) {
    window().visible = true;
    for (int answer : {1001, 1000}) {
        EXPECT_EQ(act("someapp://open/x", TargetFrame::Unknown, true), Policy::Cancel);
        EXPECT_TRUE(p.dialogs.alerts.empty()) << "asked only after the engine has its answer";
        p.queue.drain();
        ASSERT_EQ(p.dialogs.alerts.size(), 1u);
        auto& alert = p.dialogs.alerts[0];
        EXPECT_EQ(alert.sheetOn, &window());
        EXPECT_EQ(alert.spec.messageText, "Открыть ссылку в другом приложении?");
        EXPECT_NE(alert.spec.informativeText.find("«someapp:»"), std::string::npos);
        EXPECT_EQ(alert.spec.buttons, (Strings{"Открыть", "Отмена"}));
        p.dialogs.answerSheet(answer);
        p.dialogs.alerts.clear();
    }
    EXPECT_EQ(p.workspace.opened, Strings{"someapp://open/x"}) << "only after Открыть";
}

TEST_F(Controller, OwnPageOpensInAPopupWithoutTheBridgeAtTheSamePointEachTime) {
    window().rect = {300, 200, 1100, 760};
    for (auto path : {"/", "/login"}) {
        EXPECT_EQ(act(own + path), Policy::Cancel);
        auto& w = *p.windows.created.back();
        EXPECT_EQ(w.currentTitle, AppConfig::ownHost());
        EXPECT_EQ(std::tie(w.rect.x, w.rect.y), std::make_tuple(340, 240)) << "offset from the main window";
        EXPECT_TRUE(w.visible);
        auto& opened = *p.web.created.back();
        auto& config = opened.config;
        EXPECT_EQ(config.userScript + config.messageHandler + config.applicationNameForUserAgent, "");
        EXPECT_EQ(opened.loads, Strings{own + path});
        EXPECT_NE(opened.delegate, nullptr);
    }
    EXPECT_EQ(c->popupWindows().size(), 2u);
    EXPECT_EQ(view().loads.size(), 1u) << "the main page stays";
}

TEST_F(Controller, NewWindowsArePopupsThatCloseByPageOrButton) {
    auto opened = popup(own + "/popup/self-closing.html");
    ASSERT_TRUE(opened);
    EXPECT_EQ(p.windows.created.back()->currentTitle, "self-closing.html");
    EXPECT_EQ(static_cast<FakeWebView&>(*opened).relatedTo, &view()) << "uses the opener's configuration";
    EXPECT_TRUE(static_cast<FakeWebView&>(*opened).loads.empty()) << "the engine loads the page itself";
    EXPECT_TRUE(popup("about:blank", true));
    // Nothing the page opens alone leaves or gets a window; what the user opens goes to the browser.
    for (std::string url : {foreign.c_str(), "about:blank", "blob:https://x/1", "data:,x", "someapp://x"})
        EXPECT_FALSE(popup(url)) << url;
    EXPECT_FALSE(popup("data:text/html,x", true));
    EXPECT_FALSE(popup(std::nullopt, true));
    EXPECT_TRUE(p.workspace.opened.empty());
    EXPECT_FALSE(popup(foreign, true));
    EXPECT_EQ(p.workspace.opened, Strings{foreign});
    EXPECT_EQ(c->popupWindows().size(), 2u);
    // Popups close by their page or their button, and are forgotten.
    c->webViewDidClose(*opened);
    EXPECT_EQ(c->popupWindows().size(), 1u);
    EXPECT_EQ(static_cast<FakeWebView&>(*opened).stops, 1);
    p.windows.created.back()->userClose();
    EXPECT_TRUE(c->popupWindows().empty());
    c->webViewDidClose(view()); // the main page closing its own window does nothing
    p.queue.drain();
    EXPECT_FALSE(window().closed);
}

struct Offline : Controller {
    void answerProbes(int status) {
        for (auto& s : std::exchange(p.http.sent, {})) s.completion({status, std::string(), std::nullopt});
    }
};

TEST_F(Offline, TransportFailureShowsTheOfflinePageAndProbesUntilTheStartPageAnswers200) {
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
    // Only a 200 reloads, and two of them reload once.
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
    EXPECT_EQ(view().loads.size(), 2u);
    EXPECT_EQ(p.queue.liveTimers(), 0);
}

TEST_F(Offline, CancelledAndPolicyFailuresAndPopupFailuresChangeNothing) {
    fail(-999, true, true);
    fail(102, false, false); // a response turned into a download or sent elsewhere
    c->didFail(*popup(), {"g-io-error-quark", 1, "x", true, false});
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
    EXPECT_EQ(view().loads.back(), AppConfig::startURL());
    EXPECT_EQ(p.queue.liveTimers(), 1) << "left to stop at its next firing";
    c->didFinish(view());
    EXPECT_EQ(p.queue.liveTimers(), 0);
    auto opened = popup();
    c->webContentProcessDidTerminate(*opened);
    EXPECT_EQ(static_cast<FakeWebView&>(*opened).reloads, 1);
}

TEST_F(Controller, DownloadsGetUniqueNamesEvenWhileRunningTogether) {
    const std::string folder = "/home/u/Downloads/";
    EXPECT_EQ(c->decideDestination(view(), 1, "report.pdf"), folder + "report.pdf");
    EXPECT_EQ(c->decideDestination(view(), 2, "report.pdf"), folder + "report (2).pdf");
    EXPECT_EQ(c->decideDestination(view(), 3, "../x"), folder + "_._x");
    EXPECT_EQ(c->decideDestination(view(), 4, ""), folder + "file");
    c->downloadDidFinish(1);
    c->downloadDidFinish(1); // no entry any more: nothing
    ASSERT_EQ(p.notifications.added.size(), 1u);
    auto& n = p.notifications.added[0];
    EXPECT_EQ(std::tie(n.identifier, n.body, n.threadIdentifier),
              std::make_tuple("dl:" + folder + "report.pdf", "report.pdf", "kel-download"));
    EXPECT_EQ(p.workspace.finished, Strings{folder + "report.pdf"});
    c->downloadDidFail(2, "Ошибка сети");
    c->downloadDidFail(99, "Ошибка сети"); // unknown download: still reported
    ASSERT_EQ(p.notifications.added.size(), 3u);
    auto& failed = p.notifications.added[1];
    EXPECT_EQ(failed.identifier.rfind("dlerr-", 0), 0u);
    EXPECT_EQ(failed.identifier.size(), 6u + 36u);
    EXPECT_NE(failed.identifier, p.notifications.added[2].identifier);
    EXPECT_EQ(failed.body, "Ошибка сети");
}

TEST_F(Controller, APopupWhoseOnlyNavigationBecameADownloadCloses) {
    // An attachment link on the service opens a popup; its response becomes the download.
    act(own + "/files/report.pdf");
    auto& blank = *p.web.created.at(1);
    // A popup that shows a page and then downloads stays.
    act(own + "/about/");
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

TEST_F(Controller, DialogsAttachToTheAskingVisibleWindowElseRunModal_MediaOnlyForOwnHosts) {
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

    bool alerted = false;
    c->runAlert(*popup(), "Привет", [&] { alerted = true; });
    EXPECT_EQ(p.dialogs.alerts.back().sheetOn, p.windows.created.back().get());
    EXPECT_EQ(p.dialogs.alerts.back().spec.buttons.size(), 1u);
    p.dialogs.answerSheet(1000);
    EXPECT_TRUE(alerted);

    window().visible = true;
    std::optional<Strings> chosen{{"x"}};
    c->runOpenPanel(view(), {true, true}, [&](auto files) { chosen = files; });
    ASSERT_EQ(p.dialogs.panels.size(), 1u);
    auto& [spec, sheetOn] = p.dialogs.panels[0];
    EXPECT_TRUE(spec.allowsMultipleSelection && spec.canChooseDirectories && sheetOn == &window());
    p.dialogs.panelCompletion(std::nullopt);
    EXPECT_FALSE(chosen);
    for (auto [host, granted] : {std::pair<std::string, bool>{AppConfig::ownHost(), true},
                                 {"video." + AppConfig::ownHost(), true}, {"127.0.0.2", false}, {"", false}})
        EXPECT_EQ(c->decideMediaCapture(view(), host), granted) << host;
}

TEST_F(Controller, PageMessages) {
    post(R"({"type":"notify","id":"n1-5","title":"Привет","body":"текст","tag":"chat"})");
    post(R"({"type":"notify","title":7})");
    ASSERT_EQ(p.notifications.added.size(), 2u);
    // Page notifications live apart from the application's own.
    auto [named, plain] = std::tie(p.notifications.added[0], p.notifications.added[1]);
    EXPECT_EQ(std::tie(named.identifier, named.threadIdentifier), std::make_tuple("page:n1-5", "chat"));
    EXPECT_EQ(std::tie(plain.title, plain.body), std::make_tuple("Нолар", ""));
    EXPECT_EQ(plain.identifier.size(), 5u + 36u);
    EXPECT_FALSE(plain.threadIdentifier);

    for (std::string n : {"5", "1000", "\"7\"", "true"}) post(R"({"type":"badge","count":)" + n + "}");
    post(R"({"type":"badge"})");
    EXPECT_EQ(p.app.badges, (std::vector<Text>{"5", "999+", std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ(p.tray.attention, p.app.badges) << "the tray asks for attention with the badge's text";

    using Row = std::pair<std::string, std::string>;
    for (auto [body, id] : {Row{R"({"type":"notifyPermission","id":"p1"})", "\"p1\""},
                            Row{R"({"type":"notifyPermission"})", "\"\""}}) {
        post(body);
        p.queue.drain();
        EXPECT_EQ(view().scripts.back(), "window.KelMac && KelMac._permResult(" + id + ", \"granted\")");
    }
    c->notificationClicked("n1-\"5\"");
    EXPECT_EQ(view().scripts.back(), R"(window.KelMac && KelMac._notifClick("n1-\"5\""))");
}

TEST_F(Controller, MalformedAndForeignMessagesAreDropped) {
    for (auto body : {"[]", "{}", "42", "not json", R"({"type":5})", R"({"kind":"notify"})",
                      R"({"type":"Notify"})", R"({"type":"unknown"})"})
        post(body);
    for (Text host : {Text("127.0.0.2"), Text(), Text("")})
        for (auto body : {R"({"type":"notify","title":"EVIL"})", R"({"type":"badge","count":77})",
                          R"({"type":"notifyPermission","id":"p"})", R"({"type":"checkUpdate"})"})
            post(body, host);
    // A body over 64 KiB is not parsed at all, even from the service.
    post(R"({"type":"badge","count":3,"pad":")" + std::string(64 * 1024, 'x') + "\"}");
    EXPECT_TRUE(p.http.sent.empty());
    EXPECT_TRUE(p.notifications.added.empty());
    EXPECT_TRUE(p.app.badges.empty());
    EXPECT_EQ(p.notifications.authorizationRequests, 0);

    // Retry: from the service at any time, from anywhere else only off the offline page.
    post(R"({"type":"retry"})", "127.0.0.2");
    post(R"({"type":"retry"})", std::nullopt);
    EXPECT_EQ(view().loads.size(), 1u);
    post(R"({"type":"retry"})");
    EXPECT_EQ(view().loads.size(), 2u);
}

} // namespace
