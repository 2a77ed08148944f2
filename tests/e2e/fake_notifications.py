#!/usr/bin/python3
"""A desktop notification server for end-to-end tests, on the session bus: records every Notify
call (with the id it answered; a replaces_id keeps its id) and every LauncherEntry.Update signal as
JSON lines; EmitActionInvoked(id, key) and EmitNotificationClosed(id, reason) on
org.nolar.Test.Notifications make it emit those signals.
Prints "ready" once the name is owned and the badge subscription is in place."""

import argparse
import json
import sys
import threading

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"
CONTROL = "org.nolar.Test.Notifications"

INTROSPECTION = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="Notify">
      <arg type="s" name="app_name" direction="in"/>
      <arg type="u" name="replaces_id" direction="in"/>
      <arg type="s" name="app_icon" direction="in"/>
      <arg type="s" name="summary" direction="in"/>
      <arg type="s" name="body" direction="in"/>
      <arg type="as" name="actions" direction="in"/>
      <arg type="a{sv}" name="hints" direction="in"/>
      <arg type="i" name="expire_timeout" direction="in"/>
      <arg type="u" name="id" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" name="id" direction="in"/></method>
    <method name="GetServerInformation">
      <arg type="s" name="name" direction="out"/>
      <arg type="s" name="vendor" direction="out"/>
      <arg type="s" name="version" direction="out"/>
      <arg type="s" name="spec_version" direction="out"/>
    </method>
    <signal name="NotificationClosed"><arg type="u" name="id"/><arg type="u" name="reason"/></signal>
    <signal name="ActionInvoked"><arg type="u" name="id"/><arg type="s" name="action_key"/></signal>
  </interface>
  <interface name="org.nolar.Test.Notifications">
    <method name="EmitActionInvoked">
      <arg type="u" name="id" direction="in"/><arg type="s" name="action_key" direction="in"/>
    </method>
    <method name="EmitNotificationClosed">
      <arg type="u" name="id" direction="in"/><arg type="u" name="reason" direction="in"/>
    </method>
  </interface>
</node>
"""

CLOSED_BY_CALL = 3


class JsonLines:
    """An append-only JSON-lines file, flushed per record so a polling reader sees it at once."""

    def __init__(self, path):
        self.file = open(path, "a", encoding="utf-8")
        self.lock = threading.Lock()
        self.seq = 0

    def add(self, record):
        with self.lock:
            self.seq += 1
            record = dict(record, seq=self.seq)
            self.file.write(json.dumps(record, ensure_ascii=False) + "\n")
            self.file.flush()


def plain(variant_or_value):
    """A D-Bus value as JSON-friendly Python (bytes as lists, variants unpacked)."""
    value = variant_or_value.unpack() if isinstance(variant_or_value, GLib.Variant) else variant_or_value
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, bytes):
        return list(value)
    return value


class Server:
    def __init__(self, args):
        self.notifications = JsonLines(args.record)
        self.launcher = JsonLines(args.launcher_record)
        self.capabilities = [c for c in args.capabilities.split(",") if c]
        self.nextId = 1
        self.connection = None
        self.loop = GLib.MainLoop()

    def run(self):
        self.connection = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        info = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION)
        for interface in info.interfaces:
            self.connection.register_object(PATH, interface, self.onCall, None, None)
        # Subscribe before owning the name: "ready" then means no badge update can be missed.
        self.connection.signal_subscribe(None, "com.canonical.Unity.LauncherEntry", "Update", None, None,
                                         Gio.DBusSignalFlags.NONE, self.onLauncherUpdate)
        Gio.bus_own_name_on_connection(self.connection, NAME, Gio.BusNameOwnerFlags.DO_NOT_QUEUE,
                                       self.onNameAcquired, self.onNameLost)
        self.loop.run()

    def onNameAcquired(self, _connection, _name):
        print("ready", flush=True)

    def onNameLost(self, _connection, _name):
        print("could not own " + NAME, file=sys.stderr, flush=True)
        self.loop.quit()

    def emit(self, member, signature, values):
        self.connection.emit_signal(None, PATH, NAME, member, GLib.Variant(signature, values))

    def onCall(self, _connection, sender, _path, interface, method, params, invocation):
        if interface == CONTROL:
            signal = {"EmitActionInvoked": ("ActionInvoked", "(us)"), "EmitNotificationClosed": ("NotificationClosed", "(uu)")}
            self.emit(*signal[method], params.unpack())
            invocation.return_value(None)
            return
        if method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (self.capabilities,)))
        elif method == "GetServerInformation":
            invocation.return_value(GLib.Variant("(ssss)", ("nolar-test-notifications", "Nolar tests", "1.0", "1.2")))
        elif method == "Notify":
            self.notify(sender, params, invocation)
        elif method == "CloseNotification":
            (nid,) = params.unpack()
            invocation.return_value(None)
            self.emit("NotificationClosed", "(uu)", (nid, CLOSED_BY_CALL))
        else:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)

    def notify(self, sender, params, invocation):
        appName, replacesId, appIcon, summary, body, actions, _hints, expire = params.unpack()
        if replacesId:
            nid = replacesId
        else:
            nid = self.nextId
            self.nextId += 1
        self.notifications.add({
            "id": nid, "sender": sender, "app_name": appName, "replaces_id": replacesId, "app_icon": appIcon,
            "summary": summary, "body": body, "actions": list(actions),
            "hints": plain(params.get_child_value(6)), "expire_timeout": expire,
        })
        invocation.return_value(GLib.Variant("(u)", (nid,)))

    def onLauncherUpdate(self, _connection, sender, path, _interface, _member, params):
        uri, props = params.unpack()
        self.launcher.add({"sender": sender, "path": path, "uri": uri, "props": plain(props)})


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--record", required=True, help="JSON-lines file for Notify calls")
    parser.add_argument("--launcher-record", required=True, help="JSON-lines file for LauncherEntry.Update")
    parser.add_argument("--capabilities", default="actions,body,persistence",
                        help="comma-separated GetCapabilities answer (add body-markup to get escaped bodies)")
    Server(parser.parse_args()).run()


if __name__ == "__main__":
    main()
