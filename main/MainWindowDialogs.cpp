#include "MainWindowController.h"
#include "AppConfig.h"

using platform::AlertFirstButtonReturn;
using platform::AlertResult;
using platform::AlertSpec;

void MainWindowController::present(platform::WebView& view, const AlertSpec& alert,
                                   std::function<void(AlertResult)> completion) {
    platform::Window* window = view.window();
    if (window && window->isVisible()) {
        platform.dialogs.beginSheet(alert, *window, std::move(completion));
        return;
    }
    completion(platform.dialogs.runModal(alert));
}

void MainWindowController::runOpenPanel(platform::WebView& view, const platform::OpenPanelParams& params,
                                        std::function<void(std::optional<std::vector<std::string>>)> completion) {
    platform::OpenPanelSpec spec{params.allowsMultipleSelection, params.allowsDirectories, true};
    platform::Window* window = view.window();
    if (window && window->isVisible()) platform.dialogs.beginOpenPanel(spec, *window, std::move(completion));
    else completion(platform.dialogs.runOpenPanel(spec));
}

bool MainWindowController::decideMediaCapture(platform::WebView&, const std::string& host) {
    return AppConfig::isOwnHost(host);
}

void MainWindowController::runAlert(platform::WebView& view, const std::string& message,
                                    std::function<void()> completion) {
    present(view, AlertSpec{message, "", {"OK"}, std::nullopt},
            [completion = std::move(completion)](AlertResult) { completion(); });
}

void MainWindowController::runConfirm(platform::WebView& view, const std::string& message,
                                      std::function<void(bool)> completion) {
    present(view, AlertSpec{message, "", {"OK", "Отмена"}, std::nullopt},
            [completion = std::move(completion)](AlertResult r) { completion(r.response == AlertFirstButtonReturn); });
}

void MainWindowController::runPrompt(platform::WebView& view, const std::string& prompt, const std::string& defaultText,
                                     std::function<void(std::optional<std::string>)> completion) {
    present(view, AlertSpec{prompt, "", {"OK", "Отмена"}, defaultText},
            [completion = std::move(completion)](AlertResult r) {
                if (r.response == AlertFirstButtonReturn) completion(r.fieldText);
                else completion(std::nullopt);
            });
}
