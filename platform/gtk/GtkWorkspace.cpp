#include "platform/gtk/GtkWorkspace.h"
#include "platform/gtk/SoftwareRendering.h"

#include <memory>
#include <gtk/gtk.h>

namespace platform::gtk {

namespace {

std::string fileUri(const std::string& path)
{
    GFile* file = g_file_new_for_path(path.c_str());
    gchar* uri = g_file_get_uri(file);
    std::string result = uri;
    g_free(uri);
    g_object_unref(file);
    return result;
}

// Carries startup notification, so the launched program may take the focus, and the environment
// without what we set for our own drawing.
GAppLaunchContext* launchContext()
{
    GdkDisplay* display = gdk_display_get_default();
    GAppLaunchContext* context =
        display ? G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display)) : g_app_launch_context_new();
    for (const auto& name : variablesSetForSoftwareRendering())
        g_app_launch_context_unsetenv(context, name.c_str());
    return context;
}

bool launchDefault(const std::string& uri)
{
    GAppLaunchContext* context = launchContext();
    GError* error = nullptr;
    gboolean launched = g_app_info_launch_default_for_uri(uri.c_str(), context, &error);
    if (error) {
        g_message("cannot open %s: %s", uri.c_str(), error->message);
        g_error_free(error);
    }
    g_clear_object(&context);
    return launched;
}

void openContainingFolder(const std::string& path)
{
    GFile* file = g_file_new_for_path(path.c_str());
    GFile* parent = g_file_get_parent(file);
    if (parent) {
        gchar* uri = g_file_get_uri(parent);
        launchDefault(uri);
        g_free(uri);
        g_object_unref(parent);
    }
    g_object_unref(file);
}

void onShown(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<std::string> path(static_cast<std::string*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply)
        g_variant_unref(reply);
    if (error) {
        // No file manager on the bus (or it refused): at least show the folder.
        g_error_free(error);
        openContainingFolder(*path);
    }
}

void onBus(GObject*, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<std::string> path(static_cast<std::string*>(data));
    GDBusConnection* bus = g_bus_get_finish(result, nullptr);
    if (!bus) {
        openContainingFolder(*path);
        return;
    }
    std::string uri = fileUri(*path);
    const gchar* uris[] = {uri.c_str(), nullptr};
    g_dbus_connection_call(bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                           "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, onShown, path.release());
    g_object_unref(bus);
}

} // namespace

bool GtkWorkspace::openURL(const std::string& url)
{
    return launchDefault(url);
}

void GtkWorkspace::revealFile(const std::string& path)
{
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, onBus, new std::string(path));
}

void GtkWorkspace::downloadFinished(const std::string& path)
{
    gtk_recent_manager_add_item(gtk_recent_manager_get_default(), fileUri(path).c_str());
}

} // namespace platform::gtk
