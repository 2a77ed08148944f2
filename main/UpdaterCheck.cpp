#include <nlohmann/json.hpp>
#include "AppConfig.h"
#include "Log.h"
#include "Manifest.h"
#include "Notifier.h"
#include "UpdateSignature.h"
#include "Updater.h"

namespace {

constexpr double manifestTimeout = 20;
// A manifest or its signature is a few hundred bytes; more is refused unread.
constexpr uint64_t manifestMaxBytes = 1 << 20;

} // namespace

void Updater::check(bool manual) {
    if (checking || offerVisible) return;
    checking = true;
    auto request = secureRequest(AppConfig::versionURL(), manifestTimeout, manifestMaxBytes);
    std::weak_ptr<Updater> weak = weak_from_this();
    platform.http.send(request, [weak, manual](platform::HttpResponse response) {
        if (auto self = weak.lock()) self->received(response, manual);
    });
}

void Updater::received(const platform::HttpResponse& response, bool manual) {
    bool usable = !response.error && response.status == 200 && response.body;
    if (usable) {
        auto parsed = nlohmann::json::parse(*response.body, nullptr, false);
        if (!parsed.is_discarded() && parsed.is_object()) {
            if (manifestKey.empty()) {
                checking = false;
                handle(parsed, manual);
            } else {
                checkSignature(*response.body, std::move(parsed), manual);
            }
            return;
        }
    }
    checking = false;
    Log::write("update check failed: " + response.error.value_or("nil") +
               " status=" + std::to_string(response.status.value_or(0)));
    if (manual)
        info("Не удалось проверить обновления", response.error.value_or("Сервер обновлений пока недоступен."));
}

// The check stays in flight until the signature has been fetched: a manifest is acted on only
// once the build's key has vouched for its exact bytes.
void Updater::checkSignature(std::string manifest, nlohmann::json parsed, bool manual) {
    std::weak_ptr<Updater> weak = weak_from_this();
    platform.http.send(secureRequest(AppConfig::versionURL() + ".sig", manifestTimeout, manifestMaxBytes),
                       [weak, manifest = std::move(manifest), parsed = std::move(parsed),
                        manual](platform::HttpResponse response) {
        auto self = weak.lock();
        if (!self) return;
        self->checking = false;
        bool fetched = !response.error && response.status == 200 && response.body;
        if (fetched && UpdateSignature::verify(self->manifestKey, manifest, *response.body)) {
            self->handle(parsed, manual);
            return;
        }
        Log::write("update: signature invalid");
        if (manual) self->info("Обновление недоступно", "Описание новой версии на сервере некорректно.");
    });
}

void Updater::handle(const nlohmann::json& object, bool manual) {
    Manifest manifest = Manifest::fromJson(object);
    int64_t mine = AppConfig::build();
    Log::write("update check: remote=" + std::to_string(manifest.build) + " min=" + std::to_string(manifest.minBuild) +
               " mine=" + std::to_string(mine) + " manual=" + (manual ? "true" : "false"));
    if (!manifest.isNewerThan(mine)) {
        if (manual)
            info("У вас последняя версия",
                 "Нолар " + AppConfig::versionName() + " (сборка " + std::to_string(mine) + ").");
        return;
    }
    if (!manifest.isValid(AppConfig::updatePrefix())) {
        Log::write("update rejected: bad url/sha");
        if (manual) info("Обновление недоступно", "Описание новой версии на сервере некорректно.");
        return;
    }
    bool critical = manifest.isCriticalFor(mine);
    auto shown = window.lock();
    bool inFront = platform.app.isActive() && shown && shown->isVisible();
    if (manual || critical || inFront) {
        offer(manifest.versionName, manifest.notes, manifest.url, manifest.sha256, critical);
        return;
    }
    announce(manifest.build, manifest.versionName, manifest.notes);
}

// One notification per remote build for the run; a click on it runs a manual check.
void Updater::announce(int64_t build, const std::string& name, const std::string& notes) {
    if (lastNotifiedBuild == build) return;
    lastNotifiedBuild = build;
    if (!notifier) return;
    notifier->show("upd:" + std::to_string(build), "Доступно обновление Нолара " + name,
                   notes.empty() ? "Нажмите, чтобы обновить." : notes, "kel-update");
}
