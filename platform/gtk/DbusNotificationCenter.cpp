#include "platform/gtk/DbusNotificationCenter.h"

#include <memory>

namespace platform::gtk {

namespace {

constexpr const char* serverName = "org.freedesktop.Notifications";
constexpr const char* serverPath = "/org/freedesktop/Notifications";
constexpr const char* appName = "Нолар";
constexpr const char* threadHint = "x-nolar-thread";
constexpr guint32 closedByExpiry = 1;

struct CallContext {
    DbusNotificationCenter::Reply done;
};

// Cancellation only happens when the centre is destroyed; then the reply has nobody to go to.
void onCallDone(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<CallContext> context(static_cast<CallContext*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
        context->done(reply, error);
    if (reply)
        g_variant_unref(reply);
    g_clear_error(&error);
}

// Servers that render markup would otherwise swallow or interpret text from the page.
std::string escapeMarkup(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        default: out += c;
        }
    }
    return out;
}

bool rendersMarkup(GVariant* capabilities)
{
    // Without an answer, assume the riskier case: escaped text is still readable.
    if (!capabilities)
        return true;
    GVariantIter* iter = nullptr;
    const gchar* capability = nullptr;
    bool markup = false;
    g_variant_get(capabilities, "(as)", &iter);
    while (g_variant_iter_next(iter, "&s", &capability))
        markup = markup || g_strcmp0(capability, "body-markup") == 0;
    g_variant_iter_free(iter);
    return markup;
}

} // namespace

DbusNotificationCenter::DbusNotificationCenter(const std::string& appId)
    : appId(appId), cancellable(g_cancellable_new())
{
    // Join the bus early so that clicks are heard from the start.
    withBus([](GDBusConnection*, GError*) {});
}

DbusNotificationCenter::~DbusNotificationCenter()
{
    g_cancellable_cancel(cancellable);
    if (bus) {
        g_dbus_connection_signal_unsubscribe(bus, actionSubscription);
        g_dbus_connection_signal_unsubscribe(bus, closedSubscription);
        g_bus_unwatch_name(serverWatch);
        g_object_unref(bus);
    }
    g_object_unref(cancellable);
}

void DbusNotificationCenter::withBus(std::function<void(GDBusConnection*, GError*)> next)
{
    if (bus) {
        next(bus, nullptr);
        return;
    }
    waitingForBus.push_back(std::move(next));
    if (waitingForBus.size() == 1)
        g_bus_get(G_BUS_TYPE_SESSION, cancellable, onBus, this);
}

void DbusNotificationCenter::onBus(GObject*, GAsyncResult* result, gpointer data)
{
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_finish(result, &error);
    if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        g_error_free(error);
        return;
    }
    auto* self = static_cast<DbusNotificationCenter*>(data);
    if (connection)
        self->busReady(connection);
    auto waiting = std::move(self->waitingForBus);
    self->waitingForBus.clear();
    for (auto& next : waiting)
        next(connection, error);
    g_clear_error(&error);
}

void DbusNotificationCenter::busReady(GDBusConnection* connection)
{
    bus = connection;
    actionSubscription = g_dbus_connection_signal_subscribe(
        bus, serverName, serverName, "ActionInvoked", serverPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        onAction, this, nullptr);
    closedSubscription = g_dbus_connection_signal_subscribe(
        bus, serverName, serverName, "NotificationClosed", serverPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        onClosed, this, nullptr);
    // A restarted server counts its ids afresh: ours would point at someone else's notifications.
    serverWatch = g_bus_watch_name_on_connection(bus, serverName, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
                                                 onServerGone, this, nullptr);
}

void DbusNotificationCenter::call(const char* method, GVariant* parameters, const char* replyType, Reply done)
{
    std::shared_ptr<GVariant> owned;
    if (parameters)
        owned.reset(g_variant_ref_sink(parameters), g_variant_unref);
    withBus([this, method, owned, replyType, done = std::move(done)](GDBusConnection* connection,
                                                                     GError* error) mutable {
        if (!connection) {
            done(nullptr, error);
            return;
        }
        g_dbus_connection_call(connection, serverName, serverPath, serverName, method, owned.get(),
                               G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, -1, cancellable, onCallDone,
                               new CallContext{std::move(done)});
    });
}

void DbusNotificationCenter::getAuthorizationStatus(std::function<void(platform::AuthorizationStatus)> completion)
{
    call("GetServerInformation", nullptr, "(ssss)", [completion = std::move(completion)](GVariant*, GError* error) {
        completion(error ? platform::AuthorizationStatus::Denied : platform::AuthorizationStatus::Authorized);
    });
}

void DbusNotificationCenter::requestAuthorization(
    std::function<void(bool granted, std::optional<std::string> error)> completion)
{
    // There is nothing to ask the user: a server that answers shows our notifications.
    call("GetServerInformation", nullptr, "(ssss)", [completion = std::move(completion)](GVariant*, GError* error) {
        if (error)
            completion(false, std::string(error->message));
        else
            completion(true, std::nullopt);
    });
}

void DbusNotificationCenter::add(const platform::NotificationRequest& request,
                                 std::function<void(std::optional<std::string> error)> completion)
{
    outbox.push_back(Pending{request, std::move(completion)});
    sendNext();
}

void DbusNotificationCenter::setResponseHandler(std::function<void(std::optional<std::string> id)> handler)
{
    responseHandler = std::move(handler);
}

void DbusNotificationCenter::sendNext()
{
    if (sending || outbox.empty())
        return;
    sending = true;
    // Asked every time: the server may have been replaced since the last notification.
    call("GetCapabilities", nullptr, "(as)", [this](GVariant* reply, GError*) {
        Pending pending = std::move(outbox.front());
        outbox.pop_front();
        notify(std::move(pending), rendersMarkup(reply));
    });
}

void DbusNotificationCenter::notify(Pending pending, bool markup)
{
    const platform::NotificationRequest& request = pending.request;
    auto known = serverIds.find(request.identifier);
    guint32 replaces = known == serverIds.end() ? 0 : known->second;

    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    g_variant_builder_add(&actions, "s", "default");
    g_variant_builder_add(&actions, "s", "Открыть");
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(appId.c_str()));
    if (request.threadIdentifier)
        g_variant_builder_add(&hints, "{sv}", threadHint, g_variant_new_string(request.threadIdentifier->c_str()));

    std::string body = markup ? escapeMarkup(request.body) : request.body;
    GVariant* parameters = g_variant_new("(susssasa{sv}i)", appName, replaces, appId.c_str(), request.title.c_str(),
                                         body.c_str(), &actions, &hints, -1);
    auto shared = std::make_shared<Pending>(std::move(pending));
    call("Notify", parameters, "(u)", [this, shared](GVariant* reply, GError* error) {
        delivered(std::move(*shared), reply, error);
    });
}

void DbusNotificationCenter::delivered(Pending pending, GVariant* reply, GError* error)
{
    sending = false;
    std::optional<std::string> failure;
    if (error) {
        failure = error->message;
    } else {
        guint32 id = 0;
        g_variant_get(reply, "(u)", &id);
        const std::string& identifier = pending.request.identifier;
        auto previous = serverIds.find(identifier);
        if (previous != serverIds.end() && previous->second != id)
            identifiers.erase(previous->second);
        serverIds[identifier] = id;
        identifiers[id] = identifier;
    }
    if (pending.completion)
        pending.completion(failure);
    sendNext();
}

void DbusNotificationCenter::forgetAll()
{
    serverIds.clear();
    identifiers.clear();
}

void DbusNotificationCenter::onAction(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                      GVariant* parameters, gpointer data)
{
    auto* self = static_cast<DbusNotificationCenter*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)")))
        return;
    guint32 id = 0;
    const gchar* action = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &action);
    // Some servers broadcast every application's clicks: only our own notifications count.
    auto found = self->identifiers.find(id);
    if (found == self->identifiers.end() || !self->responseHandler)
        return;
    std::string identifier = found->second;
    auto handler = self->responseHandler;
    handler(identifier);
}

void DbusNotificationCenter::onClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                      GVariant* parameters, gpointer data)
{
    auto* self = static_cast<DbusNotificationCenter*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)")))
        return;
    guint32 id = 0;
    guint32 reason = 0;
    g_variant_get(parameters, "(uu)", &id, &reason);
    // An expired notification may still sit in the server's list, where a newer one must replace it.
    if (reason == closedByExpiry)
        return;
    auto found = self->identifiers.find(id);
    if (found == self->identifiers.end())
        return;
    auto own = self->serverIds.find(found->second);
    if (own != self->serverIds.end() && own->second == id)
        self->serverIds.erase(own);
    self->identifiers.erase(found);
}

void DbusNotificationCenter::onServerGone(GDBusConnection*, const gchar*, gpointer data)
{
    static_cast<DbusNotificationCenter*>(data)->forgetAll();
}

} // namespace platform::gtk
