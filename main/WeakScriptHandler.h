#pragma once
#include <memory>
#include "platform/WebView.h"

class MainWindowController;

// Stands between the web views and the controller: the views keep this object, which holds the
// controller only weakly, so an engine callback that arrives after the controller is gone is
// dropped (policy questions are then refused).
class WeakScriptHandler : public platform::WebViewDelegate {
public:
    explicit WeakScriptHandler(std::weak_ptr<MainWindowController> target) : target(std::move(target)) {}

    platform::Policy decidePolicyForAction(platform::WebView& v, const platform::NavigationAction& a) override;
    platform::Policy decidePolicyForResponse(platform::WebView& v, const platform::NavigationResponse& r) override;
    void didFinish(platform::WebView& v) override;
    void didFail(platform::WebView& v, const platform::LoadError& e) override;
    void webContentProcessDidTerminate(platform::WebView& v) override;
    void webContentProcessUnresponsive(platform::WebView& v) override;
    void titleChanged(platform::WebView& v) override;
    void didReceiveScriptMessage(platform::WebView& v, const platform::ScriptMessage& m) override;
    std::shared_ptr<platform::WebView> createWebView(platform::WebView& opener, const platform::NavigationAction& a) override;
    void webViewDidClose(platform::WebView& v) override;
    std::string decideDestination(platform::WebView& v, platform::DownloadId d, const std::string& name) override;
    void downloadDidFinish(platform::DownloadId d) override;
    void downloadDidFail(platform::DownloadId d, const std::string& description) override;
    void runOpenPanel(platform::WebView& v, const platform::OpenPanelParams& p,
                      std::function<void(std::optional<std::vector<std::string>>)> c) override;
    bool decideMediaCapture(platform::WebView& v, const std::string& host) override;
    void runAlert(platform::WebView& v, const std::string& m, std::function<void()> c) override;
    void runConfirm(platform::WebView& v, const std::string& m, std::function<void(bool)> c) override;
    void runPrompt(platform::WebView& v, const std::string& p, const std::string& d,
                   std::function<void(std::optional<std::string>)> c) override;

private:
    std::weak_ptr<MainWindowController> target;
};
