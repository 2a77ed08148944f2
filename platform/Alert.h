#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Window;

constexpr int AlertFirstButtonReturn = 1000; // the first button added answers 1000, the next 1001...

struct AlertSpec {
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;          // in the order added
    std::optional<std::string> textField;      // a 260x24 text field with this initial text
};

struct AlertResult {
    int response = 0;
    std::string fieldText;                     // the text field's text when there is one
};

struct OpenPanelSpec {
    bool allowsMultipleSelection = false;
    bool canChooseDirectories = false;
    bool canChooseFiles = true;
};

// A small titled, non-closable window with a spinner and a label.
class ProgressPanel {
public:
    virtual ~ProgressPanel() = default;
    virtual void orderOut() = 0;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Attached to the window (modal to it, like a sheet); the completion runs when answered.
    virtual void beginSheet(const AlertSpec& alert, Window& window, std::function<void(AlertResult)> completion) = 0;
    // Application-modal: blocks in a nested loop until answered.
    virtual AlertResult runModal(const AlertSpec& alert) = 0;

    // File chooser; nullopt when cancelled.
    virtual void beginOpenPanel(const OpenPanelSpec& spec, Window& window,
                                std::function<void(std::optional<std::vector<std::string>>)> completion) = 0;
    virtual std::optional<std::vector<std::string>> runOpenPanel(const OpenPanelSpec& spec) = 0;

    virtual std::unique_ptr<ProgressPanel> showProgress(const std::string& title, const std::string& label) = 0;
};

} // namespace platform
