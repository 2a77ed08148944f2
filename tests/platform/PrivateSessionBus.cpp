#include "PrivateSessionBus.h"

#include <csignal>
#include <cstdlib>
#include <unistd.h>
#include <gio/gio.h>
#include <glib/gstdio.h>

namespace {

constexpr const char* config = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

GPid daemonPid = 0;
std::string configDir;

void stopDaemon()
{
    // A session bus connection that loses its bus raises SIGTERM by default: not at our own exit.
    if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        g_dbus_connection_set_exit_on_close(bus, FALSE);
        g_object_unref(bus);
    }
    if (daemonPid > 0)
        kill(daemonPid, SIGTERM);
    g_remove((configDir + "/session.conf").c_str());
    g_rmdir(configDir.c_str());
}

std::string start()
{
    gchar* dir = g_dir_make_tmp("nolar-bus-XXXXXX", nullptr);
    configDir = dir;
    g_free(dir);
    std::string configPath = configDir + "/session.conf";
    g_file_set_contents(configPath.c_str(), config, -1, nullptr);
    std::string configArg = "--config-file=" + configPath;
    const gchar* argv[] = {"dbus-daemon", configArg.c_str(), "--nofork", "--print-address=1", nullptr};
    gint out = -1;
    if (!g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), nullptr, GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                                  nullptr, &daemonPid, nullptr, &out, nullptr, nullptr))
        return "";
    std::atexit(stopDaemon);
    std::string address;
    char c = 0;
    while (read(out, &c, 1) == 1 && c != '\n')
        address += c;
    close(out);
    g_setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), TRUE);
    return address;
}

} // namespace

const std::string& PrivateSessionBus::address()
{
    static const std::string value = start();
    return value;
}
