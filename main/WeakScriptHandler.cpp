#include "WeakScriptHandler.h"
#include "MainWindowController.h"

using namespace platform;

Policy WeakScriptHandler::decidePolicyForAction(WebView& v, const NavigationAction& a) {
    auto t = target.lock();
    return t ? t->decidePolicyForAction(v, a) : Policy::Cancel;
}

Policy WeakScriptHandler::decidePolicyForResponse(WebView& v, const NavigationResponse& r) {
    auto t = target.lock();
    return t ? t->decidePolicyForResponse(v, r) : Policy::Cancel;
}

void WeakScriptHandler::didFinish(WebView& v) {
    if (auto t = target.lock()) t->didFinish(v);
}

void WeakScriptHandler::didFail(WebView& v, const LoadError& e) {
    if (auto t = target.lock()) t->didFail(v, e);
}

void WeakScriptHandler::webContentProcessDidTerminate(WebView& v) {
    if (auto t = target.lock()) t->webContentProcessDidTerminate(v);
}

void WeakScriptHandler::webContentProcessUnresponsive(WebView& v) {
    if (auto t = target.lock()) t->webContentProcessUnresponsive(v);
}

void WeakScriptHandler::titleChanged(WebView& v) {
    if (auto t = target.lock()) t->titleChanged(v);
}

void WeakScriptHandler::didReceiveScriptMessage(WebView& v, const ScriptMessage& m) {
    if (auto t = target.lock()) t->didReceiveScriptMessage(v, m);
}

std::shared_ptr<WebView> WeakScriptHandler::createWebView(WebView& opener, const NavigationAction& a) {
    auto t = target.lock();
    return t ? t->createWebView(opener, a) : nullptr;
}

void WeakScriptHandler::webViewDidClose(WebView& v) {
    if (auto t = target.lock()) t->webViewDidClose(v);
}

// An empty destination makes the engine cancel the download.
std::string WeakScriptHandler::decideDestination(WebView& v, DownloadId d, const std::string& name) {
    auto t = target.lock();
    return t ? t->decideDestination(v, d, name) : std::string();
}

void WeakScriptHandler::downloadDidFinish(DownloadId d) {
    if (auto t = target.lock()) t->downloadDidFinish(d);
}

void WeakScriptHandler::downloadDidFail(DownloadId d, const std::string& description) {
    if (auto t = target.lock()) t->downloadDidFail(d, description);
}

void WeakScriptHandler::runOpenPanel(WebView& v, const OpenPanelParams& p,
                                     std::function<void(std::optional<std::vector<std::string>>)> c) {
    if (auto t = target.lock()) t->runOpenPanel(v, p, std::move(c));
    else c(std::nullopt);
}

bool WeakScriptHandler::decideMediaCapture(WebView& v, const std::string& host) {
    auto t = target.lock();
    return t && t->decideMediaCapture(v, host);
}

void WeakScriptHandler::runAlert(WebView& v, const std::string& m, std::function<void()> c) {
    if (auto t = target.lock()) t->runAlert(v, m, std::move(c));
    else c();
}

void WeakScriptHandler::runConfirm(WebView& v, const std::string& m, std::function<void(bool)> c) {
    if (auto t = target.lock()) t->runConfirm(v, m, std::move(c));
    else c(false);
}

void WeakScriptHandler::runPrompt(WebView& v, const std::string& p, const std::string& d,
                                  std::function<void(std::optional<std::string>)> c) {
    if (auto t = target.lock()) t->runPrompt(v, p, d, std::move(c));
    else c(std::nullopt);
}
