#include "WebKitEngine.h"

#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>

#include "SoftwareRendering.h"
#include "SpellingDictionaries.h"
#include "WebKitDownloads.h"
#include "WebKitScriptRelay.h"
#include "WebKitView.h"

namespace platform::gtk {

namespace {

constexpr const char* folderName = "Nolar";
// The handler of a view whose page gets none: only our own click script reaches it.
constexpr const char* linkHandlerName = "nolarLinks";

// Test builds trust one extra certificate, for the loopback test hosts only.
void trustTestCertificate(WebKitWebContext* context)
{
#ifdef NOLAR_TEST_CERT
    const char* path = NOLAR_TEST_CERT;
    if (!path[0])
        return;
    GError* error = nullptr;
    GTlsCertificate* certificate = g_tls_certificate_new_from_file(path, &error);
    if (!certificate) {
        g_warning("test certificate %s: %s", path, error->message);
        g_error_free(error);
        return;
    }
    for (const char* host : {"127.0.0.1", "127.0.0.2"})
        webkit_web_context_allow_tls_certificate_for_host(context, certificate, host);
    g_object_unref(certificate);
#else
    (void)context;
#endif
}

// The engine confines its web processes with bubblewrap; where bubblewrap cannot make its
// namespaces (no user namespaces, a container that forbids them) a sandboxed web process would
// never start, so the sandbox is only asked for when a trial run of bubblewrap succeeds. The trial
// starts with the engine, long before the first view, so that start-up does not wait for it.
GSubprocess* startSandboxTrial()
{
    if (g_getenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS"))
        return nullptr;
    char* bwrap = g_find_program_in_path("bwrap");
    char* proxy = g_find_program_in_path("xdg-dbus-proxy");
    GSubprocess* trial = nullptr;
    if (bwrap && proxy) {
        const char* argv[] = {bwrap, "--unshare-all", "--die-with-parent", "--ro-bind", "/", "/",
                              "--proc", "/proc", "--dev", "/dev", "true", nullptr};
        trial = g_subprocess_newv(argv, static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_SILENCE |
                                                                      G_SUBPROCESS_FLAGS_STDERR_SILENCE), nullptr);
    }
    g_free(proxy);
    g_free(bwrap);
    return trial;
}

bool sandboxTrialSucceeded(GSubprocess* trial)
{
    return trial && g_subprocess_wait(trial, nullptr, nullptr) && g_subprocess_get_successful(trial);
}

// A page that leaks is made to free memory well before the machine swaps, and past the limit its
// process is ended (the page is reloaded like after any other end of its process). The limit is
// a quarter of the memory, between 1 and 4 GiB; NOLAR_WEB_MEMORY_LIMIT_MB sets another.
WebKitMemoryPressureSettings* webContentMemoryLimits()
{
    guint64 limitMB = 0;
    if (const char* configured = g_getenv("NOLAR_WEB_MEMORY_LIMIT_MB"))
        limitMB = g_ascii_strtoull(configured, nullptr, 10);
    if (limitMB == 0) {
        long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
        guint64 totalMB = pages > 0 && pageSize > 0 ? static_cast<guint64>(pages) * pageSize / (1024 * 1024) : 4096;
        limitMB = std::clamp<guint64>(totalMB / 4, 1024, 4096);
    }
    WebKitMemoryPressureSettings* settings = webkit_memory_pressure_settings_new();
    webkit_memory_pressure_settings_set_memory_limit(settings, static_cast<guint>(std::min<guint64>(limitMB, G_MAXUINT)));
    webkit_memory_pressure_settings_set_conservative_threshold(settings, 0.33);
    webkit_memory_pressure_settings_set_strict_threshold(settings, 0.5);
    webkit_memory_pressure_settings_set_kill_threshold(settings, 1.0);
    webkit_memory_pressure_settings_set_poll_interval(settings, 5);
    return settings;
}

} // namespace

WebKitEngine::WebKitEngine() : downloads_(std::make_shared<WebKitDownloads>()), sandboxTrial_(startSandboxTrial()) {}

WebKitEngine::~WebKitEngine()
{
    g_clear_object(&context_);
    g_clear_object(&sandboxTrial_);
}

WebKitWebContext* WebKitEngine::context()
{
    if (context_)
        return context_;
    char* dataDir = g_build_filename(g_get_user_data_dir(), folderName, nullptr);
    char* cacheDir = g_build_filename(g_get_user_cache_dir(), folderName, nullptr);
    WebKitWebsiteDataManager* data = webkit_website_data_manager_new(
        "base-data-directory", dataDir, "base-cache-directory", cacheDir, nullptr);
    WebKitMemoryPressureSettings* memory = webContentMemoryLimits();
    context_ = WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", data,
                                               "memory-pressure-settings", memory, nullptr));
    webkit_memory_pressure_settings_free(memory);
    g_object_unref(data);

    // The data folder alone does not keep cookies from one run to the next.
    g_mkdir_with_parents(dataDir, 0700);
    char* cookieFile = g_build_filename(dataDir, "cookies.sqlite", nullptr);
    webkit_cookie_manager_set_persistent_storage(webkit_web_context_get_cookie_manager(context_), cookieFile,
                                                 WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    g_free(cookieFile);
    g_free(cacheDir);
    g_free(dataDir);

    // Before the first web process starts.
    if (sandboxTrialSucceeded(sandboxTrial_))
        webkit_web_context_set_sandbox_enabled(context_, TRUE);

    trustTestCertificate(context_);
    downloads_->attach(context_);
    return context_;
}

std::vector<std::string> WebKitEngine::localeNames() const
{
    std::vector<std::string> out;
    for (const char* const* name = g_get_language_names(); *name; ++name)
        out.push_back(*name);
    return out;
}

std::vector<std::string> WebKitEngine::spellingDictionaries() const { return installedSpellingDictionaries(); }

void WebKitEngine::setSpellCheckingLanguages(const std::vector<std::string>& languages)
{
    spellLanguages_ = languages;
    if (typed_)
        applySpellChecking();
}

// Dictionaries take tens of megabytes and a fifth of a second to load, and there is nothing to
// check before the user types: they are loaded on the first key press in any view that types a
// character (a shortcut such as Ctrl+W does not).
gboolean WebKitEngine::onKeyPress(GtkWidget*, GdkEvent* event, gpointer engine)
{
    auto* self = static_cast<WebKitEngine*>(engine);
    if (self->typed_)
        return FALSE;
    const GdkEventKey& key = event->key;
    bool typesText = gdk_keyval_to_unicode(key.keyval) != 0 &&
                     !(key.state & (GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_SUPER_MASK | GDK_META_MASK));
    if (typesText) {
        self->typed_ = true;
        self->applySpellChecking();
    }
    return FALSE;
}

// The engine checks with the same dictionaries (Enchant) that installedSpellingDictionaries lists.
void WebKitEngine::applySpellChecking()
{
    std::vector<const char*> tags;
    for (const auto& language : spellLanguages_)
        tags.push_back(language.c_str());
    tags.push_back(nullptr);
    webkit_web_context_set_spell_checking_languages(context_, tags.data());
    webkit_web_context_set_spell_checking_enabled(context_, !spellLanguages_.empty());
}

WebKitSettings* WebKitEngine::makeSettings(const platform::WebViewConfig& config)
{
    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    webkit_settings_set_enable_fullscreen(settings, TRUE);
    webkit_settings_set_media_playback_requires_user_gesture(settings, FALSE);
    webkit_settings_set_enable_media_stream(settings, TRUE);
    webkit_settings_set_enable_webrtc(settings, TRUE);
    webkit_settings_set_enable_developer_extras(settings, TRUE);
    // Without a GPU, compositing only adds layers that a software GL paints once more: about
    // twice the page's memory and seconds of CPU for each animation or scroll. Drawing straight
    // into the view costs far less and looks the same.
    if (softwareRenderingOnly())
        webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    if (!config.applicationNameForUserAgent.empty()) {
        std::string agent = webkit_settings_get_user_agent(settings);
        agent += " " + config.applicationNameForUserAgent;
        webkit_settings_set_user_agent(settings, agent.c_str());
    }
    return settings;
}

std::shared_ptr<platform::WebView> WebKitEngine::createWebView(const platform::WebViewConfig& config)
{
    WebKitWebContext* ctx = context();
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    // The relay's page-world shim goes in first, so that the page's own user script finds
    // window.webkit in place. A view without a message handler still has its link clicks
    // decided before anything is fetched.
    bool pageMessages = !config.messageHandler.empty();
    std::shared_ptr<WebKitScriptRelay> relay =
        WebKitScriptRelay::install(content, pageMessages ? config.messageHandler : linkHandlerName, pageMessages);
    if (!relay)
        g_warning("unusable script message handler name: %s", config.messageHandler.c_str());
    if (!config.userScript.empty()) {
        WebKitUserScript* script =
            webkit_user_script_new(config.userScript.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                   WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
        webkit_user_content_manager_add_script(content, script);
        webkit_user_script_unref(script);
    }
    WebKitSettings* settings = makeSettings(config);
    auto* webView = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", ctx, "settings", settings,
                                                 "user-content-manager", content, nullptr));
    g_object_unref(settings);
    g_object_unref(content);

    // The engine lives as long as the application, past every view.
    g_signal_connect(webView, "key-press-event", G_CALLBACK(onKeyPress), this);
    auto view = std::make_shared<WebKitView>(webView, downloads_, std::move(relay));
    view->start();
    return view;
}

bool WebKitEngine::isSandboxed()
{
    return webkit_web_context_get_sandbox_enabled(context());
}

std::shared_ptr<platform::WebView> WebKitEngine::createRelatedWebView(platform::WebView& opener)
{
    auto* parent = dynamic_cast<WebKitView*>(&opener);
    if (!parent)
        return nullptr;
    // Same context, settings and user content (scripts and message handler) as the opener, and
    // the same web process, as the engine requires of a view it asked for.
    auto* webView = WEBKIT_WEB_VIEW(webkit_web_view_new_with_related_view(parent->webView()));
    g_signal_connect(webView, "key-press-event", G_CALLBACK(onKeyPress), this);
    auto view = std::make_shared<WebKitView>(webView, downloads_, parent->relay());
    view->start();
    return view;
}

} // namespace platform::gtk
