#include "MainWindowController.h"
#include "NavigationPolicy.h"

using NavigationPolicy::SideEffect;

namespace {
template <class Open, class Popup>
platform::Policy carryOut(const NavigationPolicy::Decision& d, const std::string& url, Open open, Popup popup) {
    if (d.effect == SideEffect::OpenExternally) open(url);
    else if (d.effect == SideEffect::OpenPopup) popup(url);
    return d.policy;
}
} // namespace

platform::Policy MainWindowController::decidePolicyForAction(platform::WebView& view,
                                                             const platform::NavigationAction& action) {
    auto decision = NavigationPolicy::forAction(action, isMain(view));
    return carryOut(decision, action.url.value_or(""),
                    [this](const std::string& u) { platform.workspace.openURL(u); },
                    [this](const std::string& u) { openPopup(u); });
}

platform::Policy MainWindowController::decidePolicyForResponse(platform::WebView& view,
                                                               const platform::NavigationResponse& response) {
    auto decision = NavigationPolicy::forResponse(response, isMain(view));
    return carryOut(decision, response.url,
                    [this](const std::string& u) { platform.workspace.openURL(u); },
                    [this](const std::string& u) { openPopup(u); });
}
