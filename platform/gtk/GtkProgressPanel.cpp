#include "GtkProgressPanel.h"

namespace platform::gtk {

namespace {

gboolean refuseDelete(GtkWidget*, GdkEvent*, gpointer) { return TRUE; }

void onDestroy(GtkWidget*, gpointer self) { static_cast<GtkProgressPanel*>(self)->forgetWindow(); }

} // namespace

GtkProgressPanel::GtkProgressPanel(GtkApplication* app, const std::string& title, const std::string& label)
    : window_(gtk_window_new(GTK_WINDOW_TOPLEVEL)) {
    GtkWindow* window = GTK_WINDOW(window_);
    gtk_window_set_application(window, app);
    gtk_window_set_title(window, title.c_str());
    gtk_window_set_deletable(window, FALSE);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_widget_set_size_request(window_, 320, 90);
    // A window manager may still offer to close it; the download must not lose its panel that way.
    g_signal_connect(window_, "delete-event", G_CALLBACK(refuseDelete), nullptr);
    g_signal_connect(window_, "destroy", G_CALLBACK(onDestroy), this);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_widget_set_margin_start(box, 20);
    gtk_widget_set_margin_end(box, 14);
    gtk_widget_set_valign(box, GTK_ALIGN_CENTER);
    GtkWidget* spinner = gtk_spinner_new();
    gtk_widget_set_size_request(spinner, 24, 24);
    gtk_spinner_start(GTK_SPINNER(spinner));
    GtkWidget* text = gtk_label_new(label.c_str());
    gtk_label_set_xalign(GTK_LABEL(text), 0);
    gtk_label_set_ellipsize(GTK_LABEL(text), PANGO_ELLIPSIZE_END);
    gtk_box_pack_start(GTK_BOX(box), spinner, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), text, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window_), box);
    gtk_widget_show_all(window_);
    gtk_window_present(window);
}

GtkProgressPanel::~GtkProgressPanel() { orderOut(); }

void GtkProgressPanel::orderOut() {
    if (!window_)
        return;
    GtkWidget* window = window_;
    g_signal_handlers_disconnect_by_data(window, this);
    window_ = nullptr;
    gtk_widget_destroy(window);
}

} // namespace platform::gtk
