#include <gtest/gtest.h>
#include "AppConfig.h"
#include "NavigationPolicy.h"

using NavigationPolicy::Decision;
using NavigationPolicy::SideEffect;
using platform::Policy;
using platform::TargetFrame;

namespace {
const std::string own = "https://" + AppConfig::serviceHost();
const std::string sub = "https://chat." + AppConfig::ownHost();
const std::string foreign = "https://127.0.0.2:47443";

constexpr Decision allow{Policy::Allow};
constexpr Decision download{Policy::Download};
constexpr Decision browser{Policy::Cancel, SideEffect::OpenExternally};
constexpr Decision ask{Policy::Cancel, SideEffect::AskThenOpen};
constexpr Decision popup{Policy::Cancel, SideEffect::OpenPopup};
constexpr Decision blocked{Policy::Cancel, SideEffect::Block};
constexpr bool user = true, script = false;

struct ActionRow {
    const char* what;
    bool download;
    std::optional<std::string> url;
    TargetFrame frame;
    bool mainView;
    bool gesture;
    Decision expected;
};
} // namespace

TEST(NavigationPolicy, ActionTableRowByRow) {
    const ActionRow rows[] = {
        {"download request beats every other rule", true, foreign + "/file.txt", TargetFrame::Main, true, script, download},
        {"download request with a mail link", true, std::string("mailto:a@b"), TargetFrame::Sub, false, script, download},
        {"no URL", false, std::nullopt, TargetFrame::Main, true, script, allow},
        {"no scheme", false, std::string("just text"), TargetFrame::Main, true, script, allow},
        {"about:blank in place", false, std::string("about:blank"), TargetFrame::Main, true, script, allow},
        {"blob in a subframe", false, std::string("blob:https://x/1"), TargetFrame::Sub, false, script, allow},
        {"blob window the user opened", false, std::string("blob:https://x/1"), TargetFrame::None, false, user, allow},
        {"blank window the page opened alone", false, std::string("about:blank"), TargetFrame::None, true, script, blocked},
        {"data URL in a subframe", false, std::string("DATA:text/plain,hi"), TargetFrame::Sub, true, script, allow},
        {"data URL never fills a window", false, std::string("data:text/html,x"), TargetFrame::Main, true, user, blocked},
        {"data URL never opens one", false, std::string("data:text/html,x"), TargetFrame::None, false, user, blocked},
        {"data URL frame not known yet", false, std::string("data:text/html,x"), TargetFrame::Unknown, true, script, allow},
        {"mail link from a subframe goes to the system", false, std::string("mailto:a@b"), TargetFrame::Sub, true, user, browser},
        {"tel link in a popup", false, std::string("tel:+7000"), TargetFrame::Main, false, user, browser},
        {"SMS link", false, std::string("SMS:+7000"), TargetFrame::Unknown, true, user, browser},
        {"mail link nobody clicked", false, std::string("mailto:a@b"), TargetFrame::Unknown, true, script, blocked},
        {"other application's scheme asks first", false, std::string("someapp://x"), TargetFrame::Unknown, true, user, ask},
        {"other application's scheme from a script", false, std::string("someapp://x"), TargetFrame::Sub, true, script, blocked},
        {"local file never leaves", false, std::string("file:///etc/passwd"), TargetFrame::Main, true, user, blocked},
        {"foreign page inside an iframe loads", false, foreign + "/x", TargetFrame::Sub, true, script, allow},
        {"popup may load any own path", false, own + "/login", TargetFrame::Main, false, script, allow},
        {"popup sends clicked foreign pages to the browser", false, foreign + "/x", TargetFrame::Main, false, user, browser},
        {"popup's script cannot", false, foreign + "/x", TargetFrame::Main, false, script, blocked},
        {"start page stays in place", false, own + "/messenger/", TargetFrame::Main, true, script, allow},
        {"plain http to the messenger path", false, "http://" + AppConfig::serviceHost() + "/messenger/", TargetFrame::Main, true, script, allow},
        {"prefix test, not a segment test", false, own + "/messengers", TargetFrame::Main, true, script, allow},
        {"path without slash", false, own + "/messenger", TargetFrame::Main, true, script, allow},
        {"subdomain counts as own", false, sub + "/messenger/1", TargetFrame::Main, true, script, allow},
        {"root of the service goes to a popup", false, own + "/", TargetFrame::Main, true, script, popup},
        {"case-sensitive path", false, own + "/Messenger/", TargetFrame::Main, true, user, popup},
        {"other own page goes to a popup", false, own + "/login", TargetFrame::Main, true, user, popup},
        {"new window for an own page is treated as top frame", false, own + "/about/", TargetFrame::None, true, script, popup},
        {"new window for the messenger", false, own + "/messenger/x", TargetFrame::None, true, script, allow},
        {"clicked foreign link from the main view", false, foreign + "/page", TargetFrame::Main, true, user, browser},
        {"foreign link the page's script clicked", false, foreign + "/page", TargetFrame::Main, true, script, blocked},
        {"foreign window the page opened alone", false, foreign + "/page", TargetFrame::None, true, script, blocked},
        {"look-alike host is foreign", false, "https://x" + AppConfig::ownHost() + "/messenger/", TargetFrame::Main, true, user, browser},
        {"frame unknown: host rules wait for the response", false, foreign + "/page", TargetFrame::Unknown, true, script, allow},
    };
    for (auto& r : rows) {
        platform::NavigationAction a{r.download, r.url, r.frame, r.gesture};
        EXPECT_EQ(NavigationPolicy::forAction(a, r.mainView), r.expected) << r.what;
    }
}

TEST(NavigationPolicy, BlockedNavigationsLogSchemeAndHostOnly) {
    EXPECT_EQ(NavigationPolicy::blockedLogLine("someapp://Evil.Example/secret?token=1"), "blocked: someapp://evil.example");
    EXPECT_EQ(NavigationPolicy::blockedLogLine("file:///etc/passwd"), "blocked: file://");
    EXPECT_EQ(NavigationPolicy::blockedLogLine("data:text/html,<b>x</b>"), "blocked: data://");
    EXPECT_EQ(NavigationPolicy::blockedLogLine("https://a%0Ab.example/x"), "blocked: https://a?b.example");
}

TEST(NavigationPolicy, ResponseTable) {
    struct Row {
        const char* what;
        platform::NavigationResponse response;
        bool mainView;
        Decision expected;
    } rows[] = {
        {"showable page", {own + "/messenger/", true, true, std::nullopt, true}, true, allow},
        {"unshowable type downloads", {own + "/files/data.bin", false, true, std::nullopt, false}, true, download},
        {"attachment downloads even when showable", {own + "/r.pdf", true, true, std::string("attachment; filename=\"r.pdf\""), false}, true, download},
        {"Attachment in any case", {own + "/r.pdf", true, true, std::string("ATTACHMENT"), false}, false, download},
        {"inline is shown", {own + "/r.pdf", true, true, std::string("inline"), false}, true, allow},
        {"foreign subframe response is shown", {foreign + "/frame.html", true, true, std::nullopt, false}, true, allow},
        // Navigations the engine could not place at action time are caught here.
        {"main frame lands on a foreign host", {foreign + "/page", true, true, std::nullopt, true}, true, blocked},
        {"the user's navigation lands on a foreign host", {foreign + "/page", true, true, std::nullopt, true, true}, true, browser},
        {"top-level data page", {"data:text/html,x", true, false, std::nullopt, true}, true, blocked},
        {"main frame lands on an own non-messenger page", {own + "/login", true, true, std::nullopt, true}, true, popup},
        {"popup's main frame may show own pages", {own + "/login", true, true, std::nullopt, true}, false, allow},
        {"popup's main frame lands on a foreign host", {foreign + "/x", true, true, std::nullopt, true, true}, false, browser},
        {"offline page", {"about:blank", true, false, std::nullopt, true}, true, allow},
    };
    for (auto& r : rows) EXPECT_EQ(NavigationPolicy::forResponse(r.response, r.mainView), r.expected) << r.what;
}
