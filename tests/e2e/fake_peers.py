#!/usr/bin/python3
"""Desktop services for the tests on the private buses. Each records what it is asked as JSON lines
(complete lines only) and emits, when a test calls an org.nolar.Test.* method on its object, the
signal that method names. Prints "ready" once every name is owned.

--notifications RECORD: the notification server (a Notify answers a new id, or its replaces_id);
  --launcher-record gets every LauncherEntry.Update seen on the bus; --capabilities answers
  GetCapabilities (add body-markup to get escaped bodies).
--logind RECORD: the login manager on the system bus; RECORD gets every AddMatch naming
  PrepareForSleep, seen by a monitor connection (the bus copies an AddMatch to a monitor only after
  adding the rule, so a signal emitted after a recorded rule reaches the subscriber).
--watcher RECORD: a panel's StatusNotifierWatcher with a host; records each registered item.
--color-scheme N: the desktop portal's Settings answering color-scheme N.
--file-manager RECORD: org.freedesktop.FileManager1; records each call.
"""

import argparse
import json
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

SESSION, SYSTEM = Gio.BusType.SESSION, Gio.BusType.SYSTEM
SHOW = '<arg type="as" direction="in"/><arg type="s" direction="in"/>'
NOTIFICATIONS = """<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  </interface>
  <interface name="org.nolar.Test.Notifications">
    <method name="EmitActionInvoked"><arg type="u" direction="in"/><arg type="s" direction="in"/></method>
    <method name="EmitNotificationClosed"><arg type="u" direction="in"/><arg type="u" direction="in"/></method>
  </interface></node>"""
LOGIN1 = """<node>
  <interface name="org.freedesktop.login1.Manager"><signal name="PrepareForSleep"><arg type="b"/></signal></interface>
  <interface name="org.nolar.Test.Login1">
    <method name="EmitPrepareForSleep"><arg type="b" direction="in"/></method>
  </interface></node>"""
WATCHER = """<node><interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
  </interface></node>"""
PORTAL = """<node>
  <interface name="org.freedesktop.portal.Settings">
    <method name="Read"><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="v" direction="out"/></method>
    <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
  </interface>
  <interface name="org.nolar.Test.Desktop">
    <method name="SetColorScheme"><arg type="u" direction="in"/></method>
  </interface>
</node>"""
FILE_MANAGER = f"""<node><interface name="org.freedesktop.FileManager1">
    <method name="ShowFolders">{SHOW}</method><method name="ShowItems">{SHOW}</method>
    <method name="ShowItemProperties">{SHOW}</method>
  </interface></node>"""
APPEARANCE = ("org.freedesktop.appearance", "color-scheme")
# What each org.nolar.Test.* method emits: (interface, signal).
EMITS = {"EmitActionInvoked": ("org.freedesktop.Notifications", "ActionInvoked"),
         "EmitNotificationClosed": ("org.freedesktop.Notifications", "NotificationClosed"),
         "EmitPrepareForSleep": ("org.freedesktop.login1.Manager", "PrepareForSleep")}


def record(path, entry):
    with open(path, "a", encoding="utf-8") as f:  # one write of a whole line
        f.write(json.dumps(entry, ensure_ascii=False) + "\n")


def plain(value):
    """A D-Bus value as JSON-friendly Python (variants unpacked, bytes as lists)."""
    value = value.unpack() if isinstance(value, GLib.Variant) else value
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple, bytes)):
        return [plain(v) for v in value]
    return value


class Peers:
    def __init__(self, args):
        self.args, self.scheme, self.nextId, self.pending = args, args.color_scheme, 1, 0
        self.loop = GLib.MainLoop()

    def serve(self, bus, name, path, xml):
        connection = Gio.bus_get_sync(bus, None)
        for interface in Gio.DBusNodeInfo.new_for_xml(xml).interfaces:
            connection.register_object(path, interface, self.onCall, None, None)
        self.pending += 1
        Gio.bus_own_name_on_connection(connection, name, Gio.BusNameOwnerFlags.DO_NOT_QUEUE, self.onOwned,
                                       self.onLost)
        return connection

    def run(self):
        a = self.args
        if a.notifications:
            connection = self.serve(SESSION, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                    NOTIFICATIONS)
            # subscribed before the name is owned: after "ready" no badge update can be missed
            connection.signal_subscribe(None, "com.canonical.Unity.LauncherEntry", "Update", None, None,
                                        Gio.DBusSignalFlags.NONE, self.onLauncherUpdate)
        if a.logind:
            self.serve(SYSTEM, "org.freedesktop.login1", "/org/freedesktop/login1", LOGIN1)
            self.monitorMatches(Gio.dbus_address_get_for_bus_sync(SYSTEM, None))
        if a.watcher:
            self.serve(SESSION, "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher", WATCHER)
        if a.color_scheme is not None:
            self.serve(SESSION, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", PORTAL)
        if a.file_manager:
            self.serve(SESSION, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1", FILE_MANAGER)
        self.loop.run()

    def onOwned(self, _connection, _name):
        self.pending -= 1
        if self.pending == 0:
            print("ready", flush=True)

    def onLost(self, _connection, name):
        print("could not own " + name, file=sys.stderr, flush=True)
        self.loop.quit()

    def monitorMatches(self, address):
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        self.monitor = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
        self.monitor.add_filter(self.onMonitored)
        self.monitor.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
                               "BecomeMonitor", GLib.Variant("(asu)", (["type='method_call',member='AddMatch'"], 0)),
                               None, Gio.DBusCallFlags.NONE, -1, None)

    def onMonitored(self, connection, message, incoming):
        # Only the answer to our own BecomeMonitor may reach GDBus: a monitor that replies to a copied
        # call (GDBus would answer "unknown method") is thrown off the bus.
        if not incoming or (message.get_destination() == connection.get_unique_name() and message.get_message_type()
                            in (Gio.DBusMessageType.METHOD_RETURN, Gio.DBusMessageType.ERROR)):
            return message
        if message.get_member() == "AddMatch" and message.get_body() is not None:
            (rule,) = message.get_body().unpack()
            if "PrepareForSleep" in rule:
                record(self.args.logind, {"sender": message.get_sender(), "rule": rule})
        return None

    def onLauncherUpdate(self, _connection, sender, path, _interface, _member, params):
        uri, props = params.unpack()
        record(self.args.launcher_record, {"sender": sender, "path": path, "uri": uri, "props": plain(props)})

    def onCall(self, connection, sender, path, interface, method, params, invocation):
        answer = None
        if method in EMITS:
            connection.emit_signal(None, path, *EMITS[method], params)
        elif method == "GetCapabilities":
            answer = GLib.Variant("(as)", ([c for c in self.args.capabilities.split(",") if c],))
        elif method == "GetServerInformation":
            answer = GLib.Variant("(ssss)", ("nolar-test-notifications", "Nolar tests", "1.0", "1.2"))
        elif method == "Notify":
            appName, replacesId, appIcon, summary, body, actions, _, expire = params.unpack()
            nid = replacesId
            if not nid:
                nid, self.nextId = self.nextId, self.nextId + 1
            record(self.args.notifications, {
                "id": nid, "sender": sender, "app_name": appName, "replaces_id": replacesId, "app_icon": appIcon,
                "summary": summary, "body": body, "actions": list(actions),
                "hints": plain(params.get_child_value(6)), "expire_timeout": expire})
            answer = GLib.Variant("(u)", (nid,))
        elif method == "CloseNotification":  # closed by the call: reason 3
            invocation.return_value(None)
            return connection.emit_signal(None, path, interface, "NotificationClosed",
                                          GLib.Variant("(uu)", (params.unpack()[0], 3)))
        elif interface == "org.freedesktop.DBus.Properties":
            props = {"IsStatusNotifierHostRegistered": GLib.Variant("b", True), "ProtocolVersion": GLib.Variant("i", 0)}
            answer = GLib.Variant("(a{sv})", (props,)) if method == "GetAll" else \
                GLib.Variant("(v)", (props[params.unpack()[1]],))
        elif method == "RegisterStatusNotifierItem":
            record(self.args.watcher, {"sender": sender, "service": params.unpack()[0]})
        elif method == "Read" and params.unpack() == APPEARANCE:
            # the portal's Read wraps the value in a second variant
            answer = GLib.Variant("(v)", (GLib.Variant("v", GLib.Variant("u", self.scheme)),))
        elif method == "SetColorScheme":
            (self.scheme,) = params.unpack()
            connection.emit_signal(None, path, "org.freedesktop.portal.Settings", "SettingChanged",
                                   GLib.Variant("(ssv)", (*APPEARANCE, GLib.Variant("u", self.scheme))))
        elif interface == "org.freedesktop.FileManager1":
            uris, startupId = params.unpack()
            record(self.args.file_manager, {"method": method, "uris": uris, "startup_id": startupId, "sender": sender})
        else:
            return invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)
        invocation.return_value(answer)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for option in ("--notifications", "--launcher-record", "--logind", "--watcher", "--file-manager"):
        parser.add_argument(option)
    parser.add_argument("--capabilities", default="actions,body,persistence")
    parser.add_argument("--color-scheme", type=int)
    Peers(parser.parse_args()).run()


if __name__ == "__main__":
    main()
