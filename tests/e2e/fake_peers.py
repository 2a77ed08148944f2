#!/usr/bin/python3
"""Desktop services for the tests on the private buses. Each records what it is asked as JSON lines
(complete lines only); a call of Emit<Signal> emits that signal with the call's arguments. Prints
"ready" once every name is owned.

--notifications RECORD: the notification server (a Notify answers a new id, or its replaces_id);
  --launcher-record gets every LauncherEntry.Update seen on the bus.
--logind RECORD: the login manager on the system bus; RECORD gets every AddMatch naming
  PrepareForSleep, seen by a monitor connection (the bus copies an AddMatch to a monitor only after
  adding the rule, so a signal emitted after a recorded rule reaches the subscriber).
--watcher RECORD: a panel's StatusNotifierWatcher with a host; records each registered item.
--color-scheme N: the desktop portal's Settings answering color-scheme N (SetColorScheme changes it).
--file-manager RECORD: org.freedesktop.FileManager1; records each call."""

import argparse
import json
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

V = GLib.Variant
SESSION, SYSTEM = Gio.BusType.SESSION, Gio.BusType.SYSTEM
NOTIFICATIONS = "org.freedesktop.Notifications"
PEERS = {"notifications": (SESSION, NOTIFICATIONS),
         "logind": (SYSTEM, "org.freedesktop.login1"), "watcher": (SESSION, "org.kde.StatusNotifierWatcher"),
         "color_scheme": (SESSION, "org.freedesktop.portal.Desktop"),
         "file_manager": (SESSION, "org.freedesktop.FileManager1")}
SIGNALS = {"ActionInvoked": NOTIFICATIONS, "NotificationClosed": NOTIFICATIONS,
           "PrepareForSleep": "org.freedesktop.login1.Manager"}
DBUS = ("org.freedesktop.DBus", "/org/freedesktop/DBus")
APPEARANCE = ("org.freedesktop.appearance", "color-scheme")
WATCHER = {"IsStatusNotifierHostRegistered": V("b", True), "ProtocolVersion": V("i", 0)}


def record(path, entry):
    with open(path, "a", encoding="utf-8") as f:  # one write of a whole line
        f.write(json.dumps(entry, ensure_ascii=False) + "\n")


class Peers:
    def __init__(self, args):
        self.args, self.nextId, self.connections = args, 1, {}  # kept: a dropped bus connection closes
        for option, (bus, name) in PEERS.items():
            if getattr(args, option) is None:
                continue
            if bus not in self.connections:  # the filter answers every call: no objects, no interfaces
                self.connections[bus] = Gio.bus_get_sync(bus)
                self.connections[bus].add_filter(self.onMessage)
            connection = self.connections[bus]
            if option == "notifications":
                # subscribed before the name is owned: after "ready" no badge update can be missed
                connection.signal_subscribe(None, "com.canonical.Unity.LauncherEntry", "Update", None, None,
                                            Gio.DBusSignalFlags.NONE, self.onLauncherUpdate)
            if option == "logind":
                self.monitorMatches(Gio.dbus_address_get_for_bus_sync(bus))
            owned = connection.call_sync(*DBUS, "org.freedesktop.DBus", "RequestName", V("(su)", (name, 4)),
                                         None, 0, -1)  # 4: not queued
            if owned.unpack() != (1,):
                sys.exit(f"could not own {name}")

    def run(self):
        print("ready", flush=True)
        GLib.MainLoop().run()

    def monitorMatches(self, address):
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        self.monitor = Gio.DBusConnection.new_for_address_sync(address, flags)
        self.monitor.add_filter(self.onMonitored)
        self.monitor.call_sync(*DBUS, "org.freedesktop.DBus.Monitoring", "BecomeMonitor",
                               V("(asu)", (["type='method_call',member='AddMatch'"], 0)), None, 0, -1)

    def onMonitored(self, connection, message, incoming):
        # Only the answer to our own BecomeMonitor may reach GDBus: a monitor that replies to a copied
        # call (GDBus would answer "unknown method") is thrown off the bus.
        if not incoming or (message.get_destination() == connection.get_unique_name()
                            and message.get_message_type() != Gio.DBusMessageType.METHOD_CALL):
            return message
        if message.get_member() == "AddMatch" and "PrepareForSleep" in message.get_body().unpack()[0]:
            record(self.args.logind, {"rule": message.get_body().unpack()[0]})
        return None

    def onLauncherUpdate(self, _connection, _sender, _path, _interface, _member, params):
        uri, props = params.unpack()
        record(self.args.launcher_record, {"uri": uri, "props": props})

    def onMessage(self, connection, message, incoming):
        if not incoming or message.get_message_type() != Gio.DBusMessageType.METHOD_CALL:
            return message
        try:
            reply = message.new_method_reply()
            reply.set_body(self.answer(connection, message, message.get_member(), message.get_body()))
        except KeyError:
            reply = message.new_method_error_literal("org.freedesktop.DBus.Error.UnknownMethod", "unknown")
        connection.send_message(reply, Gio.DBusSendMessageFlags.NONE)
        return None

    def answer(self, connection, message, member, body):
        """The reply's body; a KeyError for a call this peer does not know."""
        a, args, path = self.args, body.unpack() if body else (), message.get_path()
        if member.startswith("Emit"):
            connection.emit_signal(None, path, SIGNALS[member[4:]], member[4:], body)
        elif member == "GetCapabilities":
            return V("(as)", (["actions", "body", "persistence"],))
        elif member == "GetServerInformation":
            return V("(ssss)", ("nolar-test-notifications", "Nolar tests", "1.0", "1.2"))
        elif member == "Notify":
            nid = args[1] or self.nextId
            self.nextId += not args[1]
            record(a.notifications, {"id": nid, "summary": args[3], "body": args[4]})
            return V("(u)", (nid,))
        elif member == "RegisterStatusNotifierItem":
            record(a.watcher, {"sender": message.get_sender(), "service": args[0]})
        elif member in ("Get", "GetAll") and args[0] == "org.kde.StatusNotifierWatcher":
            return V("(v)", (WATCHER[args[1]],)) if member == "Get" else V("(a{sv})", (WATCHER,))
        elif member == "Read" and args == APPEARANCE:  # the portal wraps the value in a second variant
            return V("(v)", (V("v", V("u", a.color_scheme)),))
        elif member == "SetColorScheme":
            (a.color_scheme,) = args
            connection.emit_signal(None, path, "org.freedesktop.portal.Settings", "SettingChanged",
                                   V("(ssv)", (*APPEARANCE, V("u", a.color_scheme))))
        elif member.startswith("Show"):
            record(a.file_manager, {"method": member, "uris": args[0]})
        else:
            raise KeyError(member)
        return V("()", ())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for option in ("--notifications", "--launcher-record", "--logind", "--watcher", "--file-manager"):
        parser.add_argument(option)
    parser.add_argument("--color-scheme", type=int)
    Peers(parser.parse_args()).run()


if __name__ == "__main__":
    main()
