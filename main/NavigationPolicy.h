#pragma once
#include <optional>
#include <string>
#include "platform/WebView.h"

// Which web view of the system may load what. Pure: the controller performs the side effect.
namespace NavigationPolicy {

enum class SideEffect {
    None,
    OpenExternally, // the user's default handler for the scheme
    AskThenOpen,    // a scheme of some other application: only after the user agrees
    OpenPopup,
    Block,          // nothing leaves the application; logged
};

struct Decision {
    platform::Policy policy;
    SideEffect effect = SideEffect::None;
    bool operator==(const Decision&) const = default;
};

// mainView: the asking view is the main web view (anything else is a popup).
// Nothing is handed to the desktop unless the user started the navigation.
Decision forAction(const platform::NavigationAction& action, bool mainView);

// Attachments and unshowable types become downloads. The host and path rules are applied again
// to the top frame's main resource, since the engine does not always say at action time whether
// a navigation targets the top frame (script-set locations, redirects, forms).
Decision forResponse(const platform::NavigationResponse& response, bool mainView);

// What a blocked navigation leaves in the log: scheme and host, never the path or query.
std::string blockedLogLine(const std::string& url);

} // namespace NavigationPolicy
