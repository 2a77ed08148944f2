#pragma once
#include <gtk/gtk.h>

#include <string>

#include "platform/Alert.h"

namespace platform::gtk {

// A small titled window with a running spinner and a label; the user cannot close it.
class GtkProgressPanel : public platform::ProgressPanel {
public:
    GtkProgressPanel(GtkApplication* app, const std::string& title, const std::string& label);
    ~GtkProgressPanel() override;
    GtkProgressPanel(const GtkProgressPanel&) = delete;
    GtkProgressPanel& operator=(const GtkProgressPanel&) = delete;

    void orderOut() override;

    // Internal: the window was destroyed from outside.
    void forgetWindow() { window_ = nullptr; }

private:
    GtkWidget* window_;
};

} // namespace platform::gtk
