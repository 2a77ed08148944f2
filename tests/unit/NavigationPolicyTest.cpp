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
constexpr Decision popup{Policy::Cancel, SideEffect::OpenPopup};

struct ActionRow {
    const char* what;
    bool download;
    std::optional<std::string> url;
    TargetFrame frame;
    bool mainView;
    Decision expected;
};
} // namespace

TEST(NavigationPolicy, ActionTableRowByRow) {
    const ActionRow rows[] = {
        {"download request beats every other rule", true, foreign + "/file.txt", TargetFrame::Main, true, download},
        {"download request with a mail link", true, std::string("mailto:a@b"), TargetFrame::Sub, false, download},
        {"no URL", false, std::nullopt, TargetFrame::Main, true, allow},
        {"no scheme", false, std::string("just text"), TargetFrame::Main, true, allow},
        {"about:blank anywhere", false, std::string("about:blank"), TargetFrame::Main, true, allow},
        {"blob in a popup", false, std::string("blob:https://x/1"), TargetFrame::None, false, allow},
        {"data URL, upper-case scheme", false, std::string("DATA:text/plain,hi"), TargetFrame::Main, true, allow},
        {"mail link from a subframe goes to the system", false, std::string("mailto:a@b"), TargetFrame::Sub, true, browser},
        {"tel link in a popup", false, std::string("tel:+7000"), TargetFrame::Main, false, browser},
        {"foreign page inside an iframe loads", false, foreign + "/x", TargetFrame::Sub, true, allow},
        {"popup may load any own path", false, own + "/login", TargetFrame::Main, false, allow},
        {"popup sends foreign pages to the browser", false, foreign + "/x", TargetFrame::Main, false, browser},
        {"start page stays in place", false, own + "/messenger/", TargetFrame::Main, true, allow},
        {"plain http to the messenger path", false, "http://" + AppConfig::serviceHost() + "/messenger/", TargetFrame::Main, true, allow},
        {"prefix test, not a segment test", false, own + "/messengers", TargetFrame::Main, true, allow},
        {"path without slash", false, own + "/messenger", TargetFrame::Main, true, allow},
        {"subdomain counts as own", false, sub + "/messenger/1", TargetFrame::Main, true, allow},
        {"root of the service goes to a popup", false, own + "/", TargetFrame::Main, true, popup},
        {"case-sensitive path", false, own + "/Messenger/", TargetFrame::Main, true, popup},
        {"other own page goes to a popup", false, own + "/login", TargetFrame::Main, true, popup},
        {"new window for an own page is treated as top frame", false, own + "/about/", TargetFrame::None, true, popup},
        {"new window for the messenger", false, own + "/messenger/x", TargetFrame::None, true, allow},
        {"foreign link from the main view", false, foreign + "/page", TargetFrame::Main, true, browser},
        {"look-alike host is foreign", false, "https://x" + AppConfig::ownHost() + "/messenger/", TargetFrame::Main, true, browser},
        {"frame unknown: host rules wait for the response", false, foreign + "/page", TargetFrame::Unknown, true, allow},
    };
    for (auto& r : rows) {
        platform::NavigationAction a{r.download, r.url, r.frame};
        EXPECT_EQ(NavigationPolicy::forAction(a, r.mainView), r.expected) << r.what;
    }
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
        {"main frame lands on a foreign host", {foreign + "/page", true, true, std::nullopt, true}, true, browser},
        {"main frame lands on an own non-messenger page", {own + "/login", true, true, std::nullopt, true}, true, popup},
        {"popup's main frame may show own pages", {own + "/login", true, true, std::nullopt, true}, false, allow},
        {"popup's main frame lands on a foreign host", {foreign + "/x", true, true, std::nullopt, true}, false, browser},
        {"offline page", {"about:blank", true, false, std::nullopt, true}, true, allow},
    };
    for (auto& r : rows) EXPECT_EQ(NavigationPolicy::forResponse(r.response, r.mainView), r.expected) << r.what;
}
