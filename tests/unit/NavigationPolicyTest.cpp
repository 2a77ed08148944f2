#include <gtest/gtest.h>
#include "AppConfig.h"
#include "NavigationPolicy.h"

using NavigationPolicy::Decision;
using NavigationPolicy::SideEffect;
using platform::Policy;
using enum platform::TargetFrame;

namespace {
const std::string own = "https://" + AppConfig::serviceHost();
const std::string sub = "https://chat." + AppConfig::ownHost();
const std::string foreign = "https://127.0.0.2:47443";

constexpr Decision allow{Policy::Allow};
constexpr Decision download{Policy::Download};
constexpr Decision browser{Policy::Cancel, SideEffect::OpenExternally};
constexpr Decision popup{Policy::Cancel, SideEffect::OpenPopup};
constexpr Decision blocked{Policy::Cancel, SideEffect::Block};
constexpr bool user = true, script = false, inMain = true, inPopup = false;
} // namespace

TEST(NavigationPolicy, ActionTableRowByRow) {
    struct Row {
        const char* what;
        std::optional<std::string> url;
        platform::TargetFrame frame;
        bool mainView, gesture;
        Decision expected;
        bool asDownload = false;
    } rows[] = {
        {"a download request beats any other rule", foreign + "/f", Main, inMain, script, download, true},
        {"download request with a mail link", "mailto:a@b", Sub, inPopup, script, download, true},
        {"no URL", std::nullopt, Main, inMain, script, allow},
        {"no scheme", "just text", Main, inMain, script, allow},
        {"about:blank in place", "about:blank", Main, inMain, script, allow},
        {"blob in a subframe", "blob:https://x/1", Sub, inPopup, script, allow},
        {"blob window the user opened", "blob:https://x/1", None, inPopup, user, allow},
        {"blank window the page opened alone", "about:blank", None, inMain, script, blocked},
        {"data URL in a subframe", "DATA:text/plain,hi", Sub, inMain, script, allow},
        {"data URL never fills a window", "data:text/html,x", Main, inMain, user, blocked},
        {"data URL never opens one", "data:text/html,x", None, inPopup, user, blocked},
        {"data URL frame not known yet", "data:text/html,x", Unknown, inMain, script, allow},
        {"mail link from a subframe goes to the system", "mailto:a@b", Sub, inMain, user, browser},
        {"tel link in a popup", "tel:+7000", Main, inPopup, user, browser},
        {"SMS link", "SMS:+7000", Unknown, inMain, user, browser},
        {"mail link nobody clicked", "mailto:a@b", Unknown, inMain, script, blocked},
        {"other application's scheme from a script", "someapp://x", Sub, inMain, script, blocked},
        {"local file never leaves", "file:///etc/passwd", Main, inMain, user, blocked},
        {"foreign page inside an iframe loads", foreign + "/x", Sub, inMain, script, allow},
        {"popup may load any own path", own + "/login", Main, inPopup, script, allow},
        {"popup sends clicked foreign pages to the browser", foreign + "/x", Main, inPopup, user, browser},
        {"popup's script cannot", foreign + "/x", Main, inPopup, script, blocked},
        {"start page stays in place", own + "/messenger/", Main, inMain, script, allow},
        {"plain http to the messenger", "http" + own.substr(5) + "/messenger/", Main, inMain, script, allow},
        {"prefix test, not a segment test", own + "/messengers", Main, inMain, script, allow},
        {"path without slash", own + "/messenger", Main, inMain, script, allow},
        {"subdomain counts as own", sub + "/messenger/1", Main, inMain, script, allow},
        {"case-sensitive path", own + "/Messenger/", Main, inMain, user, popup},
        {"other own page goes to a popup", own + "/login", Main, inMain, user, popup},
        {"new window for an own page is treated as top frame", own + "/about/", None, inMain, script, popup},
        {"new window for the messenger", own + "/messenger/x", None, inMain, script, allow},
        {"foreign link the page's script clicked", foreign + "/page", Main, inMain, script, blocked},
        {"foreign window the page opened alone", foreign + "/page", None, inMain, script, blocked},
        {"look-alike host is foreign", "https://x" + AppConfig::ownHost() + "/messenger/", Main, inMain, user,
         browser},
    };
    for (auto& r : rows) {
        platform::NavigationAction a{r.asDownload, r.url, r.frame, r.gesture};
        EXPECT_EQ(NavigationPolicy::forAction(a, r.mainView), r.expected) << r.what;
    }
}

TEST(NavigationPolicy, BlockedNavigationsLogSchemeAndHostOnly) {
    for (auto [url, host] : {std::pair{"someapp://Evil.Example/secret?token=1", "someapp://evil.example"},
                             {"file:///etc/passwd", "file://"}, {"data:text/html,<b>x</b>", "data://"},
                             {"https://a%0Ab.example/x", "https://a?b.example"}})
        EXPECT_EQ(NavigationPolicy::blockedLogLine(url), "blocked: " + std::string(host));
}

TEST(NavigationPolicy, ResponseTable) {
    using R = platform::NavigationResponse;
    const std::optional<std::string> none;
    struct Row { const char* what; R response; bool mainView; Decision expected; } rows[] = {
        {"showable page", R{own + "/messenger/", true, true, none, true}, inMain, allow},
        {"unshowable type downloads", R{own + "/files/data.bin", false, true, none, false}, inMain, download},
        {"attachment downloads though showable", R{own + "/r.pdf", true, true, "attachment; filename=r"},
         inMain, download},
        {"Attachment in any case", R{own + "/r.pdf", true, true, "ATTACHMENT"}, inPopup, download},
        {"inline is shown", R{own + "/r.pdf", true, true, "inline"}, inMain, allow},
        {"foreign subframe response is shown", R{foreign + "/frame.html", true, true, none}, inMain, allow},
        // Navigations the engine could not place at action time are caught here.
        {"main frame lands on a foreign host", R{foreign + "/page", true, true, none, true}, inMain, blocked},
        {"top-level data page", R{"data:text/html,x", true, false, none, true}, inMain, blocked},
        {"main frame lands on another own page", R{own + "/login", true, true, none, true}, inMain, popup},
        {"popup's main frame may show own pages", R{own + "/login", true, true, none, true}, inPopup, allow},
        {"popup's main frame lands on a foreign host", R{foreign + "/x", true, true, none, true, true},
         inPopup, browser},
        {"offline page", R{"about:blank", true, false, none, true}, inMain, allow},
    };
    for (auto& r : rows)
        EXPECT_EQ(NavigationPolicy::forResponse(r.response, r.mainView), r.expected) << r.what;
}
