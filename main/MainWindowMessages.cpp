#include "MainWindowController.h"
#include <nlohmann/json.hpp>
#include "AppConfig.h"
#include "BadgeLabel.h"
#include "JsString.h"
#include "Log.h"
#include "Notifier.h"
#include "Updater.h"
#include "Uuid.h"

using nlohmann::json;

namespace {
std::string stringOr(const json& body, const char* key, const std::string& fallback) {
    auto it = body.find(key);
    return it != body.end() && it->is_string() ? it->get<std::string>() : fallback;
}
} // namespace

void MainWindowController::didReceiveScriptMessage(platform::WebView&, const platform::ScriptMessage& message) {
    userContentController(message);
}

namespace {
constexpr size_t MaxMessageBytes = 64 * 1024;
} // namespace

void MainWindowController::userContentController(const platform::ScriptMessage& message) {
    // Nothing the page says needs more; a larger body is not even parsed.
    if (message.body.size() > MaxMessageBytes) {
        Log::write("message dropped: " + std::to_string(message.body.size()) + " bytes");
        return;
    }
    json body = json::parse(message.body, nullptr, false);
    if (body.is_discarded() || !body.is_object() || body.empty()) return;
    auto typeIt = body.find("type");
    if (typeIt == body.end() || !typeIt->is_string()) return;
    std::string type = typeIt->get<std::string>();
    // A frame whose origin is unknown counts as foreign: only the offline page's retry passes,
    // and only while that page is showing.
    bool own = message.originHost && AppConfig::isOwnHost(*message.originHost);
    if (!own && !(type == "retry" && showingOffline)) return;

    if (type == "notify") {
        notifier->show(Notifier::pageIdentifier(stringOr(body, "id", newUuid())), stringOr(body, "title", "Нолар"), stringOr(body, "body", ""),
                       stringOr(body, "tag", ""));
    } else if (type == "notifyPermission") {
        std::string id = stringOr(body, "id", "");
        std::weak_ptr<MainWindowController> weak = weak_from_this();
        notifier->requestPermission([weak, id](const std::string& state) {
            if (auto self = weak.lock())
                self->mainView->evaluateJavaScript("window.KelMac && KelMac._permResult(" + jsString(id) + ", " +
                                                   jsString(state) + ")");
        });
    } else if (type == "badge") {
        auto it = body.find("count");
        double count = it != body.end() && it->is_number() ? it->get<double>() : 0;
        auto label = badgeLabel(count);
        platform.app.setBadgeLabel(label);
        platform.tray.setAttention(label);
    } else if (type == "checkUpdate") {
        auto it = body.find("manual");
        bool manual = it != body.end() && it->is_boolean() && it->get<bool>();
        Log::write(std::string("checkUpdate from page (push) manual=") + (manual ? "true" : "false"));
        updater->check(manual);
    } else if (type == "retry") {
        load();
    }
}

void MainWindowController::notificationClicked(const std::string& id) {
    mainView->evaluateJavaScript("window.KelMac && KelMac._notifClick(" + jsString(id) + ")");
}
