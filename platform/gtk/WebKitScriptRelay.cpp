#include "WebKitScriptRelay.h"

#include <map>

#include "main/Resources.h"
#include "WebKitUri.h"
#include "WebKitView.h"

namespace platform::gtk {

namespace {

// The DOM event by which the page-world shim hands a message to the isolated relay.
constexpr const char* relayEvent = "nolar-relay-post";
constexpr const char* sectionMarker = "//@@ ";

bool isIdentifier(const std::string& name)
{
    if (name.empty() || name.size() > 64 || g_ascii_isdigit(name[0]))
        return false;
    for (char c : name)
        if (!g_ascii_isalnum(c) && c != '_')
            return false;
    return true;
}

// The click token is made by our own script; anything else is not spliced into a script.
bool isToken(const std::string& token)
{
    if (token.empty() || token.size() > 40)
        return false;
    for (char c : token)
        if (!g_ascii_isdigit(c) && !g_ascii_islower(c))
            return false;
    return true;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::optional<std::string> stringProperty(JSCValue* object, const char* name)
{
    JSCValue* value = jsc_value_object_get_property(object, name);
    std::optional<std::string> text;
    if (value && jsc_value_is_string(value)) {
        char* s = jsc_value_to_string(value);
        text = s ? s : "";
        g_free(s);
    }
    g_clear_object(&value);
    return text;
}

bool booleanProperty(JSCValue* object, const char* name)
{
    JSCValue* value = jsc_value_object_get_property(object, name);
    bool result = value && jsc_value_is_boolean(value) && jsc_value_to_boolean(value);
    g_clear_object(&value);
    return result;
}

void addScript(WebKitUserContentManager* manager, const std::string& source,
               WebKitUserContentInjectedFrames frames, const char* world)
{
    WebKitUserScript* script =
        world ? webkit_user_script_new_for_world(source.c_str(), frames, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
                                                 world, nullptr, nullptr)
              : webkit_user_script_new(source.c_str(), frames, WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START,
                                       nullptr, nullptr);
    webkit_user_content_manager_add_script(manager, script);
    webkit_user_script_unref(script);
}

// One question to one view: "was the click with this token yours?"
struct PendingClick {
    std::weak_ptr<WebKitView> view;
    std::string url;
    bool download;
    bool trusted;
    std::shared_ptr<bool> claimed;
};

} // namespace

std::optional<WebKitScriptRelay::Scripts> WebKitScriptRelay::scriptsFor(const std::string& resource,
                                                                       const std::string& handlerName)
{
    if (!isIdentifier(handlerName))
        return std::nullopt;
    std::map<std::string, std::string> sections;
    std::string* current = nullptr;
    size_t start = 0;
    while (start < resource.size()) {
        size_t end = resource.find('\n', start);
        if (end == std::string::npos)
            end = resource.size();
        std::string line = resource.substr(start, end - start);
        if (line.rfind(sectionMarker, 0) == 0)
            current = &sections[line.substr(std::string(sectionMarker).size())];
        else if (current)
            current->append(line).append("\n");
        start = end + 1;
    }
    for (auto& [name, text] : sections) {
        replaceAll(text, "@HANDLER@", handlerName);
        replaceAll(text, "@EVENT@", relayEvent);
    }
    if (sections["page"].empty() || sections["relay"].empty() || sections["click"].empty())
        return std::nullopt;
    return Scripts{sections["page"], sections["relay"], sections["click"]};
}

std::shared_ptr<WebKitScriptRelay> WebKitScriptRelay::install(WebKitUserContentManager* manager,
                                                              const std::string& handlerName, bool pageMessages)
{
    std::optional<Scripts> scripts = scriptsFor(Resources::relay_js(), handlerName);
    if (!scripts)
        return nullptr;
    if (pageMessages) {
        addScript(manager, scripts->page, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, nullptr);
        addScript(manager, scripts->relay, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES, worldName);
    }
    addScript(manager, scripts->click, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, worldName);

    std::shared_ptr<WebKitScriptRelay> relay(new WebKitScriptRelay(manager, handlerName, pageMessages));
    std::string signal = "script-message-received::" + handlerName;
    relay->signal_ = g_signal_connect(manager, signal.c_str(), G_CALLBACK(onMessage), relay.get());
    // Only in our world: a page-world handler of this name would let any frame post with
    // nothing to tell where it came from.
    webkit_user_content_manager_register_script_message_handler_in_world(manager, handlerName.c_str(), worldName);
    return relay;
}

WebKitScriptRelay::WebKitScriptRelay(WebKitUserContentManager* manager, std::string handlerName, bool pageMessages)
    : manager_(WEBKIT_USER_CONTENT_MANAGER(g_object_ref(manager))), handlerName_(std::move(handlerName)),
      pageMessages_(pageMessages)
{
}

WebKitScriptRelay::~WebKitScriptRelay()
{
    g_signal_handler_disconnect(manager_, signal_);
    webkit_user_content_manager_unregister_script_message_handler_in_world(manager_, handlerName_.c_str(),
                                                                           worldName);
    g_object_unref(manager_);
}

void WebKitScriptRelay::addMember(const std::shared_ptr<WebKitView>& view)
{
    std::erase_if(members_, [](const std::weak_ptr<WebKitView>& m) { return m.expired(); });
    members_.push_back(view);
}

void WebKitScriptRelay::onMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self)
{
    // A member may drop the last reference to this relay while it handles the message.
    std::shared_ptr<WebKitScriptRelay> relay = static_cast<WebKitScriptRelay*>(self)->weak_from_this().lock();
    if (relay)
        relay->receive(webkit_javascript_result_get_js_value(result));
}

void WebKitScriptRelay::receive(JSCValue* value)
{
    if (!value || !jsc_value_is_object(value))
        return;
    std::optional<std::string> kind = stringProperty(value, "kind");
    if (kind == "message" && pageMessages_) {
        std::optional<std::string> origin = stringProperty(value, "origin");
        std::optional<std::string> body = stringProperty(value, "body");
        if (!body)
            return;
        platform::ScriptMessage message{*body, origin ? uriHost(*origin) : std::nullopt};
        for (const std::weak_ptr<WebKitView>& member : members_)
            if (std::shared_ptr<WebKitView> view = member.lock()) {
                view->receiveScriptMessage(message);
                return;
            }
    } else if (kind == "click") {
        std::optional<std::string> url = stringProperty(value, "url");
        std::optional<std::string> token = stringProperty(value, "token");
        if (url && token && isToken(*token))
            resolveClick(*url, *token, booleanProperty(value, "download"), booleanProperty(value, "trusted"));
    }
}

void WebKitScriptRelay::resolveClick(const std::string& url, const std::string& token, bool download, bool trusted)
{
    // The click was already held back in the page, so asking each view takes nothing away.
    std::string question = "window.nolarClickToken === '" + token + "'";
    auto claimed = std::make_shared<bool>(false);
    for (const std::weak_ptr<WebKitView>& member : members_) {
        std::shared_ptr<WebKitView> view = member.lock();
        if (!view)
            continue;
        auto* pending = new PendingClick{view, url, download, trusted, claimed};
        webkit_web_view_evaluate_javascript(view->webView(), question.c_str(), -1, worldName, nullptr, nullptr,
                                            onClickOwnerAnswer, pending);
    }
}

void WebKitScriptRelay::onClickOwnerAnswer(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<PendingClick> pending(static_cast<PendingClick*>(data));
    JSCValue* answer = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
    bool mine = answer && jsc_value_is_boolean(answer) && jsc_value_to_boolean(answer);
    g_clear_object(&answer);
    if (!mine || *pending->claimed)
        return;
    *pending->claimed = true;
    if (std::shared_ptr<WebKitView> view = pending->view.lock())
        view->decideClick(pending->url, pending->download, pending->trusted);
}

} // namespace platform::gtk
