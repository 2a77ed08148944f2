#include "Updater.h"

namespace {
constexpr double firstCheckDelay = 8;
constexpr double checkInterval = 1800;
} // namespace

Updater::Updater(platform::Platform& platform, std::string manifestKey)
    : platform(platform), manifestKey(std::move(manifestKey)) {}

platform::HttpRequest Updater::secureRequest(const std::string& url, double timeoutSeconds, uint64_t maxBytes) {
    platform::HttpRequest request;
    request.url = url;
    request.timeoutSeconds = timeoutSeconds;
    request.ignoreCache = true;
    request.httpsOnly = true;
    request.maxBytes = maxBytes;
    return request;
}

void Updater::start() {
    std::weak_ptr<Updater> weak = weak_from_this();
    platform.queue.after(firstCheckDelay, [weak] {
        if (auto self = weak.lock()) self->check(false);
    });
    timer = platform.queue.repeating(checkInterval, [weak] {
        if (auto self = weak.lock()) self->check(false);
    });
}

std::shared_ptr<platform::Window> Updater::frontWindow() {
    auto shown = window.lock();
    if (!shown) return nullptr;
    if (!shown->isVisible()) shown->makeKeyAndOrderFront();
    platform.app.activate();
    return shown;
}

void Updater::info(const std::string& title, const std::string& detail) {
    platform::AlertSpec alert{title, detail, {"OK"}, std::nullopt};
    if (auto shown = frontWindow()) {
        platform.dialogs.beginSheet(alert, *shown, [](platform::AlertResult) {});
        return;
    }
    // Without a window the alert is application-modal and the application is not activated first.
    platform.dialogs.runModal(alert);
}
