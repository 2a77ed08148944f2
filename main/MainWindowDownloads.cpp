#include "MainWindowController.h"
#include "DownloadName.h"
#include "Log.h"
#include "Notifier.h"
#include "Uuid.h"

namespace {
std::string fileName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }
} // namespace

std::string MainWindowController::decideDestination(platform::WebView& view, platform::DownloadId download,
                                                    const std::string& suggestedFilename) {
    std::string folder = platform.files.downloadsDirectory();
    std::string name = suggestedFilename.empty() ? "file" : suggestedFilename;
    // A running download has not created its file yet: its name is taken all the same.
    auto taken = [this](const std::string& path) {
        if (platform.files.exists(path)) return true;
        for (auto& [_, reserved] : downloads)
            if (reserved == path) return true;
        return false;
    };
    std::string path = DownloadName::uniqueURL(folder, name, taken);
    downloads[download] = path;
    closeIfNeverShown(view);
    return path;
}

// A link to an attachment on the service opens a popup whose only navigation turns into a
// download, or a link tracker's page that redirects to the browser: that window would stay
// empty, so it goes, as a browser's would.
void MainWindowController::closeIfNeverShown(platform::WebView& view) {
    if (isMain(view) || popupsWithPage.count(&view)) return;
    std::weak_ptr<MainWindowController> weak = weak_from_this();
    platform.queue.async([weak, target = &view] {
        auto self = weak.lock();
        if (!self) return;
        for (auto popup : self->popups) {
            if (&popup->webView() != target) continue;
            popup->close();
            return;
        }
    });
}

void MainWindowController::downloadDidFinish(platform::DownloadId download) {
    auto it = downloads.find(download);
    if (it == downloads.end()) return;
    std::string path = it->second;
    downloads.erase(it);
    Log::write("download finished: " + fileName(path));
    platform.workspace.downloadFinished(path);
    notifier->show("dl:" + path, "Файл сохранён в «Загрузки»", fileName(path), "kel-download");
}

void MainWindowController::downloadDidFail(platform::DownloadId download, const std::string& description) {
    downloads.erase(download);
    notifier->show("dlerr-" + newUuid(), "Не удалось скачать файл", description, "kel-download");
}
