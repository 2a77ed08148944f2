#pragma once
#include <webkit2/webkit2.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::gtk {

class WebKitView;

// The message path of the views that share one user content manager (a view and the views its
// pages opened). The engine's script messages carry neither a frame nor an origin, and every
// frame sees the same handlers, so the native handler lives only in an isolated script world:
// a page-world shim hands what a frame posts to a relay in that world, which adds the frame's
// own origin. A second isolated script holds back top-frame link clicks for a native decision.
class WebKitScriptRelay : public std::enable_shared_from_this<WebKitScriptRelay> {
public:
    // The script world that the page cannot reach.
    static constexpr const char* worldName = "nolar";

    // Adds the scripts and the handler to manager; nullptr when handlerName cannot name one.
    // Without pageMessages only link clicks are held back: the page gets no message handler.
    static std::shared_ptr<WebKitScriptRelay> install(WebKitUserContentManager* manager,
                                                      const std::string& handlerName, bool pageMessages);
    ~WebKitScriptRelay();
    WebKitScriptRelay(const WebKitScriptRelay&) = delete;
    WebKitScriptRelay& operator=(const WebKitScriptRelay&) = delete;

    // A view that shows pages with these scripts. Messages go to the first member still alive,
    // the view that made the manager; clicks go to the view that was clicked.
    void addMember(const std::shared_ptr<WebKitView>& view);

    struct Scripts {
        std::string page;   // page world, every frame
        std::string relay;  // isolated world, every frame
        std::string click;  // isolated world, top frame
    };
    // The three scripts of the relay resource for a handler name; nullopt for a name that is not
    // a plain identifier or a resource that lacks a part.
    static std::optional<Scripts> scriptsFor(const std::string& resource, const std::string& handlerName);

private:
    WebKitScriptRelay(WebKitUserContentManager* manager, std::string handlerName, bool pageMessages);
    static void onMessage(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer self);
    static void onClickOwnerAnswer(GObject* source, GAsyncResult* result, gpointer pending);
    void receive(JSCValue* value);
    void resolveClick(const std::string& url, const std::string& token, bool download, bool trusted);

    WebKitUserContentManager* manager_;
    std::string handlerName_;
    bool pageMessages_;
    gulong signal_ = 0;
    std::vector<std::weak_ptr<WebKitView>> members_;
};

} // namespace platform::gtk
