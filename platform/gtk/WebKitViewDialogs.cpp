// The page's dialogs, file chooser and permission requests of WebKitView.
#include "WebKitView.h"

#include "WebKitUri.h"

namespace platform::gtk {

namespace {

std::shared_ptr<WebKitView> lockView(gpointer self)
{
    return static_cast<WebKitView*>(self)->weak_from_this().lock();
}

// A dialog the page waits on, answered later. Closing it while the engine is still emitting
// "script-dialog" would make the engine release it twice, so an answer that comes that early
// (a delegate that answers at once) is closed from the main loop once the emission is over.
// Dropped unanswered, the dialog is closed by the engine with its defaults.
struct PendingDialog {
    explicit PendingDialog(WebKitScriptDialog* d) : dialog(webkit_script_dialog_ref(d)) {}
    ~PendingDialog() { webkit_script_dialog_unref(dialog); }
    PendingDialog(const PendingDialog&) = delete;
    PendingDialog& operator=(const PendingDialog&) = delete;

    WebKitScriptDialog* dialog;
    bool inSignal = true;
};

void closeWhenOutOfSignal(const std::shared_ptr<PendingDialog>& pending)
{
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            auto& p = *static_cast<std::shared_ptr<PendingDialog>*>(data);
            if (p->inSignal)
                return G_SOURCE_CONTINUE;
            webkit_script_dialog_close(p->dialog);
            return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<PendingDialog>(pending),
        [](gpointer data) { delete static_cast<std::shared_ptr<PendingDialog>*>(data); });
}

// A file chooser request the page waits on; cancelled if it is dropped unanswered.
class FileChoice {
public:
    explicit FileChoice(WebKitFileChooserRequest* request)
        : request_(WEBKIT_FILE_CHOOSER_REQUEST(g_object_ref(request)))
    {
    }
    ~FileChoice()
    {
        if (!answered_)
            webkit_file_chooser_request_cancel(request_);
        g_object_unref(request_);
    }
    FileChoice(const FileChoice&) = delete;
    FileChoice& operator=(const FileChoice&) = delete;

    void answer(const std::optional<std::vector<std::string>>& paths)
    {
        if (answered_)
            return;
        answered_ = true;
        if (!paths || paths->empty()) {
            webkit_file_chooser_request_cancel(request_);
            return;
        }
        std::vector<const char*> files;
        for (const std::string& p : *paths)
            files.push_back(p.c_str());
        files.push_back(nullptr);
        webkit_file_chooser_request_select_files(request_, files.data());
    }

private:
    WebKitFileChooserRequest* request_;
    bool answered_ = false;
};

} // namespace

gboolean WebKitView::onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self)
{
    std::shared_ptr<WebKitView> view = lockView(self);
    if (!view || !view->delegate_)
        return FALSE;
    if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        return TRUE;
    }
    view->runScriptDialog(dialog);
    return TRUE;
}

void WebKitView::runScriptDialog(WebKitScriptDialog* dialog)
{
    auto pending = std::make_shared<PendingDialog>(dialog);
    const char* m = webkit_script_dialog_get_message(dialog);
    std::string message = m ? m : "";
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_ALERT:
        delegate_->runAlert(*this, message, [pending] { closeWhenOutOfSignal(pending); });
        break;
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
        delegate_->runConfirm(*this, message, [pending](bool confirmed) {
            webkit_script_dialog_confirm_set_confirmed(pending->dialog, confirmed);
            closeWhenOutOfSignal(pending);
        });
        break;
    case WEBKIT_SCRIPT_DIALOG_PROMPT: {
        const char* d = webkit_script_dialog_prompt_get_default_text(dialog);
        delegate_->runPrompt(*this, message, d ? d : "", [pending](std::optional<std::string> text) {
            // Left unset, the page's prompt() returns null.
            if (text)
                webkit_script_dialog_prompt_set_text(pending->dialog, text->c_str());
            closeWhenOutOfSignal(pending);
        });
        break;
    }
    default:
        break;
    }
    pending->inSignal = false;
}

gboolean WebKitView::onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self)
{
    std::shared_ptr<WebKitView> view = lockView(self);
    if (!view || !view->delegate_)
        return FALSE;
    auto choice = std::make_shared<FileChoice>(request);
    // The request carries no flag for choosing folders.
    platform::OpenPanelParams params{static_cast<bool>(webkit_file_chooser_request_get_select_multiple(request)),
                                     false};
    view->delegate_->runOpenPanel(*view, params,
                                  [choice](std::optional<std::vector<std::string>> paths) { choice->answer(paths); });
    return TRUE;
}

gboolean WebKitView::onPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer self)
{
    std::shared_ptr<WebKitView> view = lockView(self);
    bool grant = false;
    if (view && view->delegate_ && WEBKIT_IS_USER_MEDIA_PERMISSION_REQUEST(request)) {
        // The request does not say which frame asked; the engine has already refused
        // cross-origin frames that were not allowed the camera and microphone by the page. The
        // page on show asks, not one still loading.
        std::string host = uriHost(view->committedUri_).value_or("");
        grant = view->delegate_->decideMediaCapture(*view, host);
    }
    // Everything else is refused; the page's notifications go through the bridge.
    if (grant)
        webkit_permission_request_allow(request);
    else
        webkit_permission_request_deny(request);
    return TRUE;
}

} // namespace platform::gtk
