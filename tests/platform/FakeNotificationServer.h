#pragma once
#include <map>
#include <string>
#include <vector>
#include <gio/gio.h>

// org.freedesktop.Notifications on its own connection to the session bus: records every Notify,
// answers with fresh ids (or the id it was asked to replace) and emits the server's signals.
class FakeNotificationServer {
public:
    struct Notified {
        std::string appName;
        guint32 replacesId;
        std::string icon;
        std::string summary;
        std::string body;
        std::vector<std::string> actions;
        std::map<std::string, std::string> hints;   // the string-valued ones
        gint32 expireTimeout;
        guint32 id;
    };

    explicit FakeNotificationServer(std::vector<std::string> capabilities = {"body", "actions"});
    ~FakeNotificationServer();
    FakeNotificationServer(const FakeNotificationServer&) = delete;
    FakeNotificationServer& operator=(const FakeNotificationServer&) = delete;

    const std::vector<Notified>& notified() const { return calls; }
    void actionInvoked(guint32 id, const std::string& action);
    void notificationClosed(guint32 id, guint32 reason);

private:
    static void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                         GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data);
    void notify(GVariant* parameters, GDBusMethodInvocation* invocation);

    std::vector<std::string> capabilities;
    GDBusConnection* connection = nullptr;
    guint registration = 0;
    guint ownership = 0;
    bool owned = false;
    guint32 nextId = 1;
    std::vector<Notified> calls;
};
