#include "NavigationPolicy.h"
#include <algorithm>
#include <cctype>
#include "AppConfig.h"
#include "Url.h"

namespace NavigationPolicy {

using platform::Policy;
using platform::TargetFrame;

namespace {

constexpr Decision allow{Policy::Allow};
constexpr Decision blocked{Policy::Cancel, SideEffect::Block};

// A web page goes to the default browser, but only when the user asked for it.
Decision toBrowser(bool userGesture) {
    return userGesture ? Decision{Policy::Cancel, SideEffect::OpenExternally} : blocked;
}

// Schemes that are not the web's: mail, phone and messages go to their handlers; any other
// program is started only after the user agrees; local files never leave.
Decision toOtherApplication(const std::string& scheme, bool userGesture) {
    if (scheme == "file" || !userGesture) return blocked;
    if (scheme == "mailto" || scheme == "tel" || scheme == "sms") return {Policy::Cancel, SideEffect::OpenExternally};
    return {Policy::Cancel, SideEffect::AskThenOpen};
}

} // namespace

Decision forAction(const platform::NavigationAction& action, bool mainView) {
    if (action.shouldPerformDownload) return {Policy::Download};
    if (!action.url) return allow;
    auto url = Url::parse(*action.url);
    if (!url || url->scheme.empty()) return allow;
    const std::string& scheme = url->scheme;
    bool topLevel = action.targetFrame == TargetFrame::Main || action.targetFrame == TargetFrame::None;
    // A window without an address bar never shows a page made up by its address.
    if (scheme == "data") return topLevel ? blocked : allow;
    if (scheme == "about" || scheme == "blob") {
        bool newWindow = action.targetFrame == TargetFrame::None;
        return newWindow && !action.userGesture ? blocked : allow;
    }
    if (scheme != "http" && scheme != "https") return toOtherApplication(scheme, action.userGesture);
    if (action.targetFrame == TargetFrame::Sub) return allow;
    // Not known yet whether this is the top frame: the response decision applies the rest.
    if (action.targetFrame == TargetFrame::Unknown) return allow;

    bool own = url->host && AppConfig::isOwnHost(*url->host);
    if (!mainView) return own ? allow : toBrowser(action.userGesture);
    if (!own) return toBrowser(action.userGesture);
    if (url->path.rfind("/messenger", 0) == 0) return allow;
    return {Policy::Cancel, SideEffect::OpenPopup};
}

Decision forResponse(const platform::NavigationResponse& response, bool mainView) {
    if (response.mainFrame) {
        platform::NavigationAction asTopFrame{false, response.url, TargetFrame::Main, response.userGesture};
        Decision d = forAction(asTopFrame, mainView);
        if (d.policy != Policy::Allow) return d;
    }
    if (!response.canShowMIMEType) return {Policy::Download};
    if (response.isHTTP && response.contentDisposition) {
        std::string value = *response.contentDisposition;
        std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return std::tolower(c); });
        if (value.rfind("attachment", 0) == 0) return {Policy::Download};
    }
    return allow;
}

std::string blockedLogLine(const std::string& text) {
    auto url = Url::parse(text);
    if (!url) return "blocked: (not a URL)";
    std::string host = url->host.value_or("");
    // The host is percent-decoded: nothing the page chose may break the line.
    for (char& c : host)
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    return "blocked: " + url->scheme + "://" + host;
}

} // namespace NavigationPolicy
