#pragma once
#include <gtk/gtk.h>

#include <string>

#include "platform/Menu.h"

namespace platform::gtk {

class GtkApp;

// The menubar of the application's windows: a GMenu model with application actions and accelerators,
// and a section of the windows menu that lists the open windows.
class GtkMainMenu {
public:
    explicit GtkMainMenu(GtkApp& app);
    ~GtkMainMenu();
    GtkMainMenu(const GtkMainMenu&) = delete;
    GtkMainMenu& operator=(const GtkMainMenu&) = delete;

    void install(const platform::MenuBar& bar);

    // Internal: GLib callbacks.
    void performDelegateAction(const std::string& action);
    bool delegateState(const std::string& action) const;
    void performStandardAction(const std::string& action);
    void performWindowAction(const std::string& action, GtkWindow* window);
    void showWindow(guint id);
    void watchWindow(GtkWindow* window);
    void forgetWindow(GtkWindow* window);
    void rebuildWindowList();

private:
    GMenu* buildMenu(const platform::Menu& menu, bool withWindowList);
    std::string addAction(const platform::MenuItem& item);
    GtkWindow* keyWindow() const;
    void editingCommand(const std::string& action, GtkWindow* window);

    GtkApp& app_;
    GtkApplication* gtkApp_;
    GMenu* windowList_;
};

} // namespace platform::gtk
