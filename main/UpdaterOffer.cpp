#include "AppConfig.h"
#include "FilePath.h"
#include "Updater.h"
#include "Uuid.h"

namespace {

constexpr double downloadTimeout = 300;
// The download stops here rather than fill the disk.
constexpr uint64_t archiveMaxBytes = uint64_t(2) << 30;

platform::AlertSpec offerAlert(const std::string& name, const std::string& notes, bool critical) {
    platform::AlertSpec alert;
    alert.messageText = critical ? "Нужно обновить Нолар до версии " + name : "Доступна новая версия Нолара — " + name;
    if (!notes.empty()) alert.informativeText = notes + "\n\n";
    alert.informativeText += critical ? "Ваша версия больше не поддерживается. Обновление займёт несколько секунд."
                                      : "Сейчас у вас " + AppConfig::versionName() +
                                            ". Обновление займёт несколько секунд, Нолар перезапустится.";
    alert.buttons = {"Обновить", critical ? "Выйти" : "Позже"};
    return alert;
}

} // namespace

void Updater::offer(const std::string& name, const std::string& notes, const std::string& url, const std::string& sha,
                    bool critical) {
    auto alert = offerAlert(name, notes, critical);
    offerVisible = true;
    if (auto shown = frontWindow()) {
        std::weak_ptr<Updater> weak = weak_from_this();
        platform.dialogs.beginSheet(alert, *shown, [weak, name, url, sha, critical](platform::AlertResult result) {
            if (auto self = weak.lock()) self->answerOffer(result.response, name, url, sha, critical);
        });
        return;
    }
    auto result = platform.dialogs.runModal(alert);
    answerOffer(result.response, name, url, sha, critical);
}

void Updater::answerOffer(int response, const std::string& name, const std::string& url, const std::string& sha,
                          bool critical) {
    // Checks may run again while the download is in progress.
    offerVisible = false;
    if (response == platform::AlertFirstButtonReturn) download(url, sha, name);
    else if (critical) platform.app.terminate();
}

void Updater::download(const std::string& url, const std::string& sha, const std::string& name) {
    if (!writableLocation()) return;
    closeProgress();
    progressPanel = platform.dialogs.showProgress("Обновление Нолара", "Скачиваю Нолар " + name + "\u2026");
    auto request = secureRequest(url, downloadTimeout, archiveMaxBytes);
    std::weak_ptr<Updater> weak = weak_from_this();
    platform.http.download(request, [weak, sha](platform::DownloadResult result) {
        auto self = weak.lock();
        if (!self) return;
        self->downloaded(self->stageDownload(result), result.error, sha);
    });
}

// Moves a good download into a fresh work folder of its own; the archive's path, or nullopt.
std::optional<std::string> Updater::stageDownload(const platform::DownloadResult& result) {
    if (!result.file || result.status != 200) return std::nullopt;
    auto work = FilePath::join(platform.files.temporaryDirectory(), "nolar-update-" + newUuid());
    // A folder that already existed is not ours to unpack into.
    if (!platform.files.createPrivateDirectory(work)) return std::nullopt;
    auto zip = FilePath::join(work, "update.zip");
    if (!platform.files.move(*result.file, zip)) return std::nullopt;
    return zip;
}

void Updater::downloaded(const std::optional<std::string>& archive, const std::optional<std::string>& error,
                         const std::string& sha) {
    if (archive) {
        auto failure = install(*archive, sha);
        // On success the application is ending and the panel stays until it goes.
        if (!failure) return;
        closeProgress();
        info("Обновление не установлено", *failure);
        return;
    }
    closeProgress();
    info("Не удалось скачать обновление", error.value_or("Попробуйте позже."));
}

void Updater::closeProgress() {
    if (!progressPanel) return;
    progressPanel->orderOut();
    progressPanel.reset();
}

// The bundle is replaced by renaming it within its folder, so that folder must be writable.
// There is no relocated read-only copy to detect here, unlike on some other desktops.
bool Updater::writableLocation() {
    auto folder = FilePath::parent(platform.bundles.main().path());
    if (platform.files.isWritable(folder)) return true;
    info("Сначала перенесите Нолар в «Программы»",
         "Сейчас Нолар запущен из папки, куда нельзя записать обновление (например, прямо из «Загрузок»). "
         "Закройте Нолар, перетащите его в папку «Программы» и откройте оттуда.");
    return false;
}
