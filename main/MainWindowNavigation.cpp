#include "MainWindowController.h"
#include "Log.h"
#include "NavigationPolicy.h"
#include "Url.h"

using NavigationPolicy::SideEffect;

platform::Policy MainWindowController::carryOut(platform::WebView& view, const NavigationPolicy::Decision& decision,
                                                const std::string& url, bool userGesture) {
    switch (decision.effect) {
    case SideEffect::None:
        break;
    case SideEffect::OpenExternally:
        platform.workspace.openURL(url);
        break;
    case SideEffect::AskThenOpen:
        askThenOpen(view, url);
        break;
    case SideEffect::OpenPopup:
        openPopup(url, userGesture);
        break;
    case SideEffect::Block:
        Log::write(NavigationPolicy::blockedLogLine(url));
        break;
    }
    return decision.policy;
}

platform::Policy MainWindowController::decidePolicyForAction(platform::WebView& view,
                                                             const platform::NavigationAction& action) {
    return carryOut(view, NavigationPolicy::forAction(action, isMain(view)), action.url.value_or(""), action.userGesture);
}

platform::Policy MainWindowController::decidePolicyForResponse(platform::WebView& view,
                                                               const platform::NavigationResponse& response) {
    auto decision = NavigationPolicy::forResponse(response, isMain(view));
    bool leaves = decision.effect == SideEffect::OpenExternally || decision.effect == SideEffect::Block;
    if (response.mainFrame && leaves) closeIfNeverShown(view);
    return carryOut(view, decision, response.url, response.userGesture);
}

// The engine is waiting for its answer: the question is asked once the decision has returned.
void MainWindowController::askThenOpen(platform::WebView& view, const std::string& url) {
    std::weak_ptr<MainWindowController> weak = weak_from_this();
    platform.queue.async([weak, asking = &view, url] {
        auto self = weak.lock();
        if (!self) return;
        platform::WebView* view = self->liveView(asking);
        if (!view) view = self->mainView.get();
        auto parsed = Url::parse(url);
        std::string scheme = parsed ? parsed->scheme : "";
        platform::AlertSpec alert{"Открыть ссылку в другом приложении?",
                                  "Ссылка «" + scheme + ":» будет открыта в приложении, которое назначено для таких ссылок.",
                                  {"Открыть", "Отмена"}, std::nullopt};
        self->present(*view, alert, [weak, url](platform::AlertResult r) {
            auto self = weak.lock();
            if (self && r.response == platform::AlertFirstButtonReturn) self->platform.workspace.openURL(url);
        });
    });
}

platform::WebView* MainWindowController::liveView(const platform::WebView* view) const {
    if (view == mainView.get()) return mainView.get();
    for (auto& popup : popups)
        if (&popup->webView() == view) return &popup->webView();
    return nullptr;
}
