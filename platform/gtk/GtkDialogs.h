#pragma once
#include "platform/Alert.h"

namespace platform::gtk {

class GtkApp;

// Alerts, the file chooser and the progress panel.
class GtkDialogs : public platform::Dialogs {
public:
    // What an alert answers when it is dismissed without a button (Escape, the window's close control).
    static constexpr int dismissedResponse = 0;

    explicit GtkDialogs(GtkApp& app);

    void beginSheet(const platform::AlertSpec& alert, platform::Window& window,
                    std::function<void(platform::AlertResult)> completion) override;
    platform::AlertResult runModal(const platform::AlertSpec& alert) override;
    void beginOpenPanel(const platform::OpenPanelSpec& spec, platform::Window& window,
                        std::function<void(std::optional<std::vector<std::string>>)> completion) override;
    std::optional<std::vector<std::string>> runOpenPanel(const platform::OpenPanelSpec& spec) override;
    std::unique_ptr<platform::ProgressPanel> showProgress(const std::string& title, const std::string& label) override;

private:
    GtkApp& app_;
};

} // namespace platform::gtk
