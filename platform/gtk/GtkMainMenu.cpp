#include "GtkMainMenu.h"

#include <webkit2/webkit2.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "GtkApp.h"

namespace platform::gtk {

namespace {

constexpr const char* showWindowAction = "nolar-show-window";

struct ActionTarget {
    GtkMainMenu* menu;
    std::string action;
    GtkWindow* window = nullptr; // for a window's own action: the window that owns it
};

void deleteTarget(gpointer data, GClosure*) { delete static_cast<ActionTarget*>(data); }

void onDelegateAction(GSimpleAction*, GVariant*, gpointer data) {
    auto* t = static_cast<ActionTarget*>(data);
    t->menu->performDelegateAction(t->action);
}

void onCheckAction(GSimpleAction* action, GVariant*, gpointer data) {
    auto* t = static_cast<ActionTarget*>(data);
    t->menu->performDelegateAction(t->action);
    // The check mark shows what the delegate now says, not merely the opposite of before.
    g_simple_action_set_state(action, g_variant_new_boolean(t->menu->delegateState(t->action)));
}

void onStandardAction(GSimpleAction*, GVariant*, gpointer data) {
    auto* t = static_cast<ActionTarget*>(data);
    t->menu->performStandardAction(t->action);
}

void onWindowAction(GSimpleAction*, GVariant*, gpointer data) {
    auto* t = static_cast<ActionTarget*>(data);
    t->menu->performWindowAction(t->action, t->window);
}

void onShowWindow(GSimpleAction*, GVariant* parameter, gpointer self) {
    static_cast<GtkMainMenu*>(self)->showWindow(g_variant_get_uint32(parameter));
}

void onWindowAdded(GtkApplication*, GtkWindow* window, gpointer self) {
    static_cast<GtkMainMenu*>(self)->watchWindow(window);
}

void onWindowRemoved(GtkApplication*, GtkWindow* window, gpointer self) {
    static_cast<GtkMainMenu*>(self)->forgetWindow(window);
}

void onWindowChanged(GObject*, GParamSpec*, gpointer self) { static_cast<GtkMainMenu*>(self)->rebuildWindowList(); }

// Action names allow letters, digits, '-' and '.'; the menu's action strings end in ':'.
std::string actionName(const std::string& action, bool targetsDelegate = false) {
    std::string name = targetsDelegate ? "delegate-" : "";
    for (char c : action)
        if (g_ascii_isalnum(c) || c == '-' || c == '.')
            name += c;
    return name;
}

// What the desktop cannot do for another application: shown, never enabled.
const std::set<std::string> unavailableActions = {"hideOtherApplications:", "unhideAllApplications:"};

const std::set<std::string> standardActions = {"terminate:", "hide:", "orderFrontStandardAboutPanel:"};

// Commands for one window are that window's own actions ("win."), so that a key press or a click in a
// window's menu bar reaches the window it happened in, not the one the toolkit last saw focused.
const std::set<std::string> windowActions = {
    "undo:", "redo:", "cut:", "copy:", "paste:", "pasteAsPlainText:", "selectAll:", "toggleFullScreen:",
    "performClose:", "performMiniaturize:", "performZoom:"};

struct EditingCommand {
    const char* webkit;
    void (*editable)(GtkEditable*);
};

const std::map<std::string, EditingCommand> editingCommands = {
    {"undo:", {WEBKIT_EDITING_COMMAND_UNDO, nullptr}},
    {"redo:", {WEBKIT_EDITING_COMMAND_REDO, nullptr}},
    {"cut:", {WEBKIT_EDITING_COMMAND_CUT, gtk_editable_cut_clipboard}},
    {"copy:", {WEBKIT_EDITING_COMMAND_COPY, gtk_editable_copy_clipboard}},
    {"paste:", {WEBKIT_EDITING_COMMAND_PASTE, gtk_editable_paste_clipboard}},
    {"pasteAsPlainText:", {WEBKIT_EDITING_COMMAND_PASTE_AS_PLAIN_TEXT, gtk_editable_paste_clipboard}},
    {"selectAll:", {WEBKIT_EDITING_COMMAND_SELECT_ALL, [](GtkEditable* e) { gtk_editable_select_region(e, 0, -1); }}},
};

// The widget an editing command is meant for: the focused one, or the window's web view when nothing has focus.
GtkWidget* editingTarget(GtkWindow* window) {
    for (GtkWidget* w = gtk_window_get_focus(window); w; w = gtk_widget_get_parent(w))
        if (WEBKIT_IS_WEB_VIEW(w) || GTK_IS_EDITABLE(w))
            return w;
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(window));
    return child && WEBKIT_IS_WEB_VIEW(child) ? child : nullptr;
}

bool isFullScreen(GtkWindow* window) {
    GdkWindow* gdk = gtk_widget_get_window(GTK_WIDGET(window));
    return gdk && (gdk_window_get_state(gdk) & GDK_WINDOW_STATE_FULLSCREEN);
}

} // namespace

GtkMainMenu::GtkMainMenu(GtkApp& app) : app_(app), gtkApp_(app.gtkApplication()), windowList_(g_menu_new()) {
    GSimpleAction* show = g_simple_action_new(showWindowAction, G_VARIANT_TYPE_UINT32);
    g_signal_connect(show, "activate", G_CALLBACK(onShowWindow), this);
    g_action_map_add_action(G_ACTION_MAP(gtkApp_), G_ACTION(show));
    g_object_unref(show);
    g_signal_connect(gtkApp_, "window-added", G_CALLBACK(onWindowAdded), this);
    g_signal_connect(gtkApp_, "window-removed", G_CALLBACK(onWindowRemoved), this);
    for (GList* l = gtk_application_get_windows(gtkApp_); l; l = l->next)
        watchWindow(GTK_WINDOW(l->data));
}

GtkMainMenu::~GtkMainMenu() {
    g_signal_handlers_disconnect_by_data(gtkApp_, this);
    for (GList* l = gtk_application_get_windows(gtkApp_); l; l = l->next) {
        g_signal_handlers_disconnect_by_data(l->data, this);
        if (GTK_IS_APPLICATION_WINDOW(l->data))
            for (const auto& action : windowActions)
                g_action_map_remove_action(G_ACTION_MAP(l->data), actionName(action).c_str());
    }
    g_action_map_remove_action(G_ACTION_MAP(gtkApp_), showWindowAction);
    g_object_unref(windowList_);
}

void GtkMainMenu::install(const platform::MenuBar& bar) {
    GMenu* menubar = g_menu_new();
    for (size_t i = 0; i < bar.menus.size(); ++i) {
        GMenu* submenu = buildMenu(bar.menus[i], static_cast<int>(i) == bar.windowsMenu);
        g_menu_append_submenu(menubar, bar.menus[i].title.c_str(), G_MENU_MODEL(submenu));
        g_object_unref(submenu);
    }
    gtk_application_set_menubar(gtkApp_, G_MENU_MODEL(menubar));
    g_object_unref(menubar);
    rebuildWindowList();
}

// Separators become section boundaries, which GTK draws as separator lines.
GMenu* GtkMainMenu::buildMenu(const platform::Menu& menu, bool withWindowList) {
    GMenu* out = g_menu_new();
    GMenu* section = g_menu_new();
    auto closeSection = [&] {
        if (g_menu_model_get_n_items(G_MENU_MODEL(section)) > 0)
            g_menu_append_section(out, nullptr, G_MENU_MODEL(section));
        g_object_unref(section);
        section = g_menu_new();
    };
    for (const auto& item : menu.items) {
        if (item.separator) {
            closeSection();
            continue;
        }
        std::string detailed = windowActions.count(item.action) ? "win." + actionName(item.action) : "app." + addAction(item);
        g_menu_append(section, item.title.c_str(), detailed.c_str());
        std::string accel = platform::accelerator(item);
        const char* accels[] = {accel.c_str(), nullptr};
        const char* none[] = {nullptr};
        gtk_application_set_accels_for_action(gtkApp_, detailed.c_str(), accel.empty() ? none : accels);
    }
    closeSection();
    g_object_unref(section);
    if (withWindowList)
        g_menu_append_section(out, nullptr, G_MENU_MODEL(windowList_));
    return out;
}

std::string GtkMainMenu::addAction(const platform::MenuItem& item) {
    std::string name = actionName(item.action, item.targetsDelegate);
    GSimpleAction* action = item.checkable
        ? g_simple_action_new_stateful(name.c_str(), nullptr, g_variant_new_boolean(delegateState(item.action)))
        : g_simple_action_new(name.c_str(), nullptr);
    if (item.checkable) {
        g_signal_connect_data(action, "activate", G_CALLBACK(onCheckAction), new ActionTarget{this, item.action},
                              deleteTarget, GConnectFlags(0));
    } else if (item.targetsDelegate) {
        g_signal_connect_data(action, "activate", G_CALLBACK(onDelegateAction), new ActionTarget{this, item.action},
                              deleteTarget, GConnectFlags(0));
    } else if (standardActions.count(item.action)) {
        g_signal_connect_data(action, "activate", G_CALLBACK(onStandardAction), new ActionTarget{this, item.action},
                              deleteTarget, GConnectFlags(0));
    } else {
        // Includes what the desktop cannot do (hide or show other applications): the item stays, greyed out.
        if (!unavailableActions.count(item.action))
            g_warning("menu action %s has no handler", item.action.c_str());
        g_simple_action_set_enabled(action, FALSE);
    }
    g_action_map_add_action(G_ACTION_MAP(gtkApp_), G_ACTION(action));
    g_object_unref(action);
    return name;
}

void GtkMainMenu::performDelegateAction(const std::string& action) {
    if (auto* delegate = app_.delegate())
        delegate->performAction(action);
}

bool GtkMainMenu::delegateState(const std::string& action) const {
    auto* delegate = app_.delegate();
    return delegate && delegate->actionState(action);
}

// The window the about panel belongs to; none when the application has no window on screen.
GtkWindow* GtkMainMenu::keyWindow() const {
    GtkWindow* w = gtk_application_get_active_window(gtkApp_);
    return w && gtk_widget_get_visible(GTK_WIDGET(w)) ? w : nullptr;
}

void GtkMainMenu::performStandardAction(const std::string& action) {
    if (action == "terminate:")
        app_.terminate();
    else if (action == "hide:")
        app_.hide();
    else if (action == "orderFrontStandardAboutPanel:")
        gtk_show_about_dialog(keyWindow(), "program-name", "Нолар", "title", "О программе «Нолар»", "logo-icon-name",
                              g_application_get_application_id(G_APPLICATION(gtkApp_)), nullptr);
}

void GtkMainMenu::performWindowAction(const std::string& action, GtkWindow* window) {
    if (!gtk_widget_get_visible(GTK_WIDGET(window)))
        return;
    if (editingCommands.count(action)) {
        editingCommand(action, window);
    } else if (action == "toggleFullScreen:") {
        if (isFullScreen(window))
            gtk_window_unfullscreen(window);
        else
            gtk_window_fullscreen(window);
    } else if (action == "performClose:") {
        gtk_window_close(window); // a delete event, so the window's delegate is asked first
    } else if (action == "performMiniaturize:") {
        gtk_window_iconify(window);
    } else if (action == "performZoom:") {
        if (gtk_window_is_maximized(window))
            gtk_window_unmaximize(window);
        else
            gtk_window_maximize(window);
    }
}

void GtkMainMenu::editingCommand(const std::string& action, GtkWindow* window) {
    GtkWidget* target = editingTarget(window);
    if (!target)
        return;
    const EditingCommand& command = editingCommands.at(action);
    if (WEBKIT_IS_WEB_VIEW(target))
        webkit_web_view_execute_editing_command(WEBKIT_WEB_VIEW(target), command.webkit);
    else if (command.editable)
        command.editable(GTK_EDITABLE(target));
}

void GtkMainMenu::showWindow(guint id) {
    GtkWindow* window = gtk_application_get_window_by_id(gtkApp_, id);
    if (!window)
        return;
    GtkApp::markFront(window);
    gtk_window_present_with_time(window, gtk_get_current_event_time());
}

void GtkMainMenu::watchWindow(GtkWindow* window) {
    if (GTK_IS_APPLICATION_WINDOW(window))
        for (const auto& action : windowActions) {
            GSimpleAction* a = g_simple_action_new(actionName(action).c_str(), nullptr);
            g_signal_connect_data(a, "activate", G_CALLBACK(onWindowAction), new ActionTarget{this, action, window},
                                  deleteTarget, GConnectFlags(0));
            g_action_map_add_action(G_ACTION_MAP(window), G_ACTION(a));
            g_object_unref(a);
        }
    g_signal_connect(window, "notify::title", G_CALLBACK(onWindowChanged), this);
    g_signal_connect(window, "notify::visible", G_CALLBACK(onWindowChanged), this);
    rebuildWindowList();
}

void GtkMainMenu::forgetWindow(GtkWindow* window) {
    g_signal_handlers_disconnect_by_data(window, this);
    rebuildWindowList();
}

// Lists the windows on screen in the order they were opened.
void GtkMainMenu::rebuildWindowList() {
    std::vector<std::pair<guint, std::string>> rows;
    for (GList* l = gtk_application_get_windows(gtkApp_); l; l = l->next) {
        if (!GTK_IS_APPLICATION_WINDOW(l->data) || !gtk_widget_get_visible(GTK_WIDGET(l->data)))
            continue;
        const char* title = gtk_window_get_title(GTK_WINDOW(l->data));
        rows.emplace_back(gtk_application_window_get_id(GTK_APPLICATION_WINDOW(l->data)), title ? title : "");
    }
    std::sort(rows.begin(), rows.end());
    g_menu_remove_all(windowList_);
    for (const auto& [id, title] : rows) {
        GMenuItem* item = g_menu_item_new(title.c_str(), nullptr);
        std::string detailed = std::string("app.") + showWindowAction;
        g_menu_item_set_action_and_target_value(item, detailed.c_str(), g_variant_new_uint32(id));
        g_menu_append_item(windowList_, item);
        g_object_unref(item);
    }
}

} // namespace platform::gtk
