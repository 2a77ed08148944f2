#include "GtkDialogs.h"

#include <gtk/gtk.h>

#include "GtkApp.h"
#include "GtkProgressPanel.h"
#include "GtkWindowAdapter.h"

namespace platform::gtk {

namespace {

using AlertCompletion = std::function<void(platform::AlertResult)>;
using PanelCompletion = std::function<void(std::optional<std::vector<std::string>>)>;

// The alert's only state outside GTK: kept until the dialog is destroyed.
struct Sheet {
    AlertCompletion completion;
    GtkEntry* entry = nullptr;
    int buttons = 0;
    int escapeResponse = 0;
};

// Escape, or closing the dialog's window, answers like the "Отмена" button. An alert without one
// (a plain notice, or the update offer whose second button quits) can only be answered by a button,
// so that a stray Escape never quits the application.
int escapeResponseOf(const platform::AlertSpec& spec) {
    for (size_t i = 0; i < spec.buttons.size(); ++i)
        if (spec.buttons[i] == "Отмена") return platform::AlertFirstButtonReturn + static_cast<int>(i);
    return 0;
}

GtkWindow* gtkWindowOf(platform::Window& window) {
    auto* adapter = dynamic_cast<GtkWindowAdapter*>(&window);
    return adapter ? adapter->gtkWindow() : nullptr;
}

GtkWidget* makeAlert(const platform::AlertSpec& spec, GtkWindow* parent, GtkEntry** entry) {
    auto flags = GtkDialogFlags(GTK_DIALOG_MODAL | (parent ? GTK_DIALOG_DESTROY_WITH_PARENT : 0));
    GtkWidget* dialog = gtk_message_dialog_new(parent, flags, GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s",
                                               spec.messageText.c_str());
    if (!spec.informativeText.empty())
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", spec.informativeText.c_str());
    for (size_t i = 0; i < spec.buttons.size(); ++i) {
        GtkWidget* button = gtk_dialog_add_button(GTK_DIALOG(dialog), spec.buttons[i].c_str(),
                                                  platform::AlertFirstButtonReturn + static_cast<int>(i));
        gtk_button_set_use_underline(GTK_BUTTON(button), FALSE); // titles are shown as written
    }
    if (!spec.buttons.empty())
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), platform::AlertFirstButtonReturn);
    *entry = nullptr;
    if (spec.textField) {
        GtkWidget* field = gtk_entry_new();
        gtk_widget_set_size_request(field, 260, 24);
        gtk_entry_set_text(GTK_ENTRY(field), spec.textField->c_str());
        gtk_entry_set_activates_default(GTK_ENTRY(field), TRUE);
        GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
        gtk_box_pack_start(GTK_BOX(area), field, FALSE, FALSE, 0);
        gtk_widget_show(field);
        gtk_widget_grab_focus(field);
        *entry = GTK_ENTRY(field);
    }
    gtk_window_set_position(GTK_WINDOW(dialog), parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    gtk_window_set_deletable(GTK_WINDOW(dialog), escapeResponseOf(spec) != 0);
    return dialog;
}

bool isButton(int response, int buttons) {
    return response >= platform::AlertFirstButtonReturn && response < platform::AlertFirstButtonReturn + buttons;
}

// nullopt: Escape or the close button on an alert that only its buttons may answer.
std::optional<platform::AlertResult> resultOf(int response, int buttons, int escapeResponse, GtkEntry* entry) {
    if (!isButton(response, buttons)) {
        if (escapeResponse == 0) return std::nullopt;
        response = escapeResponse;
    }
    platform::AlertResult r;
    r.response = response;
    if (entry)
        r.fieldText = gtk_entry_get_text(entry);
    return r;
}

void onSheetResponse(GtkDialog* dialog, int response, gpointer data) {
    auto* sheet = static_cast<Sheet*>(data);
    auto answer = resultOf(response, sheet->buttons, sheet->escapeResponse, sheet->entry);
    if (!answer)
        return;
    platform::AlertResult result = *answer;
    AlertCompletion completion = std::move(sheet->completion);
    sheet->completion = nullptr;
    // Gone before the completion runs, which may well open the next alert.
    gtk_widget_destroy(GTK_WIDGET(dialog));
    if (completion)
        completion(result);
}

// Escape and a close request reach the dialog as a delete event, which GtkDialog turns into a
// response and then, unless a handler stops it, into the window's destruction. The response
// handler has already settled it: answered (and destroyed), or not to be answered this way, and
// then the alert must stay rather than end up dismissed.
gboolean keepOnDelete(GtkWidget*, GdkEvent*, gpointer) { return TRUE; }

// Destroyed without an answer (its window went away): the completion still runs, once.
void onSheetDestroy(GtkWidget*, gpointer data) {
    auto* sheet = static_cast<Sheet*>(data);
    AlertCompletion completion = std::move(sheet->completion);
    delete sheet;
    if (completion)
        completion(platform::AlertResult{GtkDialogs::dismissedResponse, {}});
}

GtkFileChooserNative* makeChooser(const platform::OpenPanelSpec& spec, GtkWindow* parent) {
    // GTK 3 choosers pick either files or folders, never both: allowing folders makes it a folder chooser.
    GtkFileChooserAction action =
        spec.canChooseDirectories ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN;
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(nullptr, parent, action, nullptr, nullptr);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser), spec.allowsMultipleSelection);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    return chooser;
}

std::optional<std::vector<std::string>> chosenPaths(GtkFileChooserNative* chooser, int response) {
    if (response != GTK_RESPONSE_ACCEPT)
        return std::nullopt;
    std::vector<std::string> paths;
    GSList* names = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(chooser));
    for (GSList* l = names; l; l = l->next)
        paths.emplace_back(static_cast<const char*>(l->data));
    g_slist_free_full(names, g_free);
    return paths;
}

void onChooserResponse(GtkNativeDialog* dialog, int response, gpointer data) {
    auto* completion = static_cast<PanelCompletion*>(data);
    auto result = chosenPaths(GTK_FILE_CHOOSER_NATIVE(dialog), response);
    PanelCompletion fn = std::move(*completion);
    delete completion;
    g_object_unref(dialog);
    if (fn)
        fn(std::move(result));
}

} // namespace

GtkDialogs::GtkDialogs(GtkApp& app) : app_(app) {}

void GtkDialogs::beginSheet(const platform::AlertSpec& alert, platform::Window& window, AlertCompletion completion) {
    GtkWindow* parent = gtkWindowOf(window);
    auto* sheet = new Sheet{std::move(completion), nullptr, static_cast<int>(alert.buttons.size()),
                            escapeResponseOf(alert)};
    GtkWidget* dialog = makeAlert(alert, parent, &sheet->entry);
    g_signal_connect(dialog, "response", G_CALLBACK(onSheetResponse), sheet);
    g_signal_connect(dialog, "destroy", G_CALLBACK(onSheetDestroy), sheet);
    g_signal_connect(dialog, "delete-event", G_CALLBACK(keepOnDelete), nullptr);
    gtk_window_present(GTK_WINDOW(dialog));
}

platform::AlertResult GtkDialogs::runModal(const platform::AlertSpec& alert) {
    GtkEntry* entry = nullptr;
    GtkWidget* dialog = makeAlert(alert, nullptr, &entry);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    std::optional<platform::AlertResult> result;
    while (!result) {
        int response = gtk_dialog_run(GTK_DIALOG(dialog));
        if (response == GTK_RESPONSE_NONE) // destroyed while running
            return platform::AlertResult{dismissedResponse, {}};
        result = resultOf(response, static_cast<int>(alert.buttons.size()), escapeResponseOf(alert), entry);
    }
    gtk_widget_destroy(dialog);
    return *result;
}

void GtkDialogs::beginOpenPanel(const platform::OpenPanelSpec& spec, platform::Window& window,
                                PanelCompletion completion) {
    GtkFileChooserNative* chooser = makeChooser(spec, gtkWindowOf(window));
    g_signal_connect(chooser, "response", G_CALLBACK(onChooserResponse), new PanelCompletion(std::move(completion)));
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

std::optional<std::vector<std::string>> GtkDialogs::runOpenPanel(const platform::OpenPanelSpec& spec) {
    GtkFileChooserNative* chooser = makeChooser(spec, nullptr);
    int response = gtk_native_dialog_run(GTK_NATIVE_DIALOG(chooser));
    auto result = chosenPaths(chooser, response);
    g_object_unref(chooser);
    return result;
}

std::unique_ptr<platform::ProgressPanel> GtkDialogs::showProgress(const std::string& title, const std::string& label) {
    return std::make_unique<GtkProgressPanel>(app_.gtkApplication(), title, label);
}

} // namespace platform::gtk
