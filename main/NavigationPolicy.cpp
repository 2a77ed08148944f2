#include "NavigationPolicy.h"
#include <algorithm>
#include <cctype>
#include "AppConfig.h"
#include "Url.h"

namespace NavigationPolicy {

using platform::Policy;
using platform::TargetFrame;

Decision forAction(const platform::NavigationAction& action, bool mainView) {
    if (action.shouldPerformDownload) return {Policy::Download};
    if (!action.url) return {Policy::Allow};
    auto url = Url::parse(*action.url);
    if (!url || url->scheme.empty()) return {Policy::Allow};
    const std::string& scheme = url->scheme;
    if (scheme == "about" || scheme == "blob" || scheme == "data") return {Policy::Allow};
    if (scheme != "http" && scheme != "https") return {Policy::Cancel, SideEffect::OpenExternally};
    if (action.targetFrame == TargetFrame::Sub) return {Policy::Allow};
    // Not known yet whether this is the top frame: the response decision applies the rest.
    if (action.targetFrame == TargetFrame::Unknown) return {Policy::Allow};

    bool own = url->host && AppConfig::isOwnHost(*url->host);
    if (!mainView) return own ? Decision{Policy::Allow} : Decision{Policy::Cancel, SideEffect::OpenExternally};
    if (!own) return {Policy::Cancel, SideEffect::OpenExternally};
    if (url->path.rfind("/messenger", 0) == 0) return {Policy::Allow};
    return {Policy::Cancel, SideEffect::OpenPopup};
}

Decision forResponse(const platform::NavigationResponse& response, bool mainView) {
    if (response.mainFrame) {
        platform::NavigationAction asTopFrame{false, response.url, TargetFrame::Main};
        Decision d = forAction(asTopFrame, mainView);
        if (d.policy != Policy::Allow) return d;
    }
    if (!response.canShowMIMEType) return {Policy::Download};
    if (response.isHTTP && response.contentDisposition) {
        std::string value = *response.contentDisposition;
        std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return std::tolower(c); });
        if (value.rfind("attachment", 0) == 0) return {Policy::Download};
    }
    return {Policy::Allow};
}

} // namespace NavigationPolicy
