#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/WebView.h"

typedef struct _WebKitWebContext WebKitWebContext;
typedef struct _WebKitSettings WebKitSettings;
typedef struct _GSubprocess GSubprocess;
typedef struct _GtkWidget GtkWidget;
typedef union _GdkEvent GdkEvent;
typedef void* gpointer;
typedef int gboolean;

namespace platform::gtk {

class WebKitDownloads;

// Web views on one persistent context: website data and cache under the user's data and cache
// folders, cookies in an SQLite file there. The context is made on first use, after GTK is up.
class WebKitEngine : public platform::WebEngine {
public:
    WebKitEngine();
    ~WebKitEngine() override;
    WebKitEngine(const WebKitEngine&) = delete;
    WebKitEngine& operator=(const WebKitEngine&) = delete;

    std::shared_ptr<platform::WebView> createWebView(const platform::WebViewConfig& config) override;
    std::shared_ptr<platform::WebView> createRelatedWebView(platform::WebView& opener) override;
    bool isSandboxed() override;
    std::vector<std::string> localeNames() const override;
    std::vector<std::string> spellingDictionaries() const override;
    void setSpellCheckingLanguages(const std::vector<std::string>& languages) override;

private:
    WebKitWebContext* context();
    static WebKitSettings* makeSettings(const platform::WebViewConfig& config);
    void applySpellChecking();
    static gboolean onKeyPress(GtkWidget* view, GdkEvent* event, gpointer engine);

    WebKitWebContext* context_ = nullptr;
    std::shared_ptr<WebKitDownloads> downloads_;
    std::vector<std::string> spellLanguages_;
    bool typed_ = false;
    GSubprocess* sandboxTrial_ = nullptr;
};

} // namespace platform::gtk
