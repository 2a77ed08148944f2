#pragma once
#include <deque>
#include <map>
#include <gio/gio.h>
#include "platform/NotificationCenter.h"

namespace platform::gtk {

// Desktop notifications through org.freedesktop.Notifications on the session bus.
// Every bus call is asynchronous; completions and clicks arrive on the main thread.
class DbusNotificationCenter : public platform::NotificationCenter {
public:
    explicit DbusNotificationCenter(const std::string& appId);
    ~DbusNotificationCenter() override;
    DbusNotificationCenter(const DbusNotificationCenter&) = delete;
    DbusNotificationCenter& operator=(const DbusNotificationCenter&) = delete;

    void getAuthorizationStatus(std::function<void(platform::AuthorizationStatus)> completion) override;
    void requestAuthorization(std::function<void(bool granted, std::optional<std::string> error)> completion) override;
    void add(const platform::NotificationRequest& request,
             std::function<void(std::optional<std::string> error)> completion) override;
    void setResponseHandler(std::function<void(std::optional<std::string> id)> handler) override;

    using Reply = std::function<void(GVariant* reply, GError* error)>;

private:
    struct Pending {
        platform::NotificationRequest request;
        std::function<void(std::optional<std::string>)> completion;
    };

    void withBus(std::function<void(GDBusConnection*, GError*)> next);
    void busReady(GDBusConnection* connection);
    void call(const char* method, GVariant* parameters, const char* replyType, Reply done);
    void sendNext();
    void notify(Pending pending, bool markup);
    void delivered(Pending pending, GVariant* reply, GError* error);
    void forgetAll();

    static void onBus(GObject* source, GAsyncResult* result, gpointer data);
    static void onAction(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer data);
    static void onClosed(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer data);
    static void onServerGone(GDBusConnection*, const gchar*, gpointer data);

    std::string appId;
    GCancellable* cancellable;
    GDBusConnection* bus = nullptr;
    std::deque<std::function<void(GDBusConnection*, GError*)>> waitingForBus;
    guint actionSubscription = 0;
    guint closedSubscription = 0;
    guint serverWatch = 0;
    // One Notify at a time, so that a reused identifier always sees the server id of its predecessor.
    std::deque<Pending> outbox;
    bool sending = false;
    std::map<std::string, guint32> serverIds;
    std::map<guint32, std::string> identifiers;
    std::function<void(std::optional<std::string>)> responseHandler;
};

} // namespace platform::gtk
