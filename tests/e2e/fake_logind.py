#!/usr/bin/python3
"""A login manager for end-to-end tests on a private system bus: EmitPrepareForSleep(b) on
org.nolar.Test.Login1 emits PrepareForSleep. A monitor connection records every AddMatch naming
PrepareForSleep as JSON lines; the bus copies an AddMatch to a monitor only after adding the rule,
so a signal emitted after a recorded rule reaches the subscriber. Prints "ready" when in place."""

import argparse
import json
import sys
import threading

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

NAME = "org.freedesktop.login1"
PATH = "/org/freedesktop/login1"
MANAGER = "org.freedesktop.login1.Manager"
CONTROL = "org.nolar.Test.Login1"

INTROSPECTION = """
<node>
  <interface name="org.freedesktop.login1.Manager">
    <signal name="PrepareForSleep"><arg type="b" name="start"/></signal>
  </interface>
  <interface name="org.nolar.Test.Login1">
    <method name="EmitPrepareForSleep"><arg type="b" name="start" direction="in"/></method>
  </interface>
</node>
"""


class MatchRecorder:
    """A monitor connection that records the PrepareForSleep subscriptions made on the bus."""

    def __init__(self, address, path):
        self.file = open(path, "a", encoding="utf-8")
        self.lock = threading.Lock()
        flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
                 | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
        self.connection = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
        self.connection.add_filter(self.onMessage)
        self.connection.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus.Monitoring", "BecomeMonitor",
                                  GLib.Variant("(asu)", (["type='method_call',member='AddMatch'"], 0)),
                                  None, Gio.DBusCallFlags.NONE, -1, None)

    def onMessage(self, connection, message, incoming):
        if not incoming:
            return message
        # Only the answer to our own BecomeMonitor may reach GDBus: a monitor that replies to a
        # copied call (GDBus would answer "unknown method") is thrown off the bus.
        if message.get_destination() == connection.get_unique_name() and \
                message.get_message_type() in (Gio.DBusMessageType.METHOD_RETURN, Gio.DBusMessageType.ERROR):
            return message
        if message.get_member() == "AddMatch" and message.get_body() is not None:
            (rule,) = message.get_body().unpack()
            if "PrepareForSleep" in rule:
                with self.lock:
                    self.file.write(json.dumps({"sender": message.get_sender(), "rule": rule}) + "\n")
                    self.file.flush()
        return None


class Logind:
    def __init__(self, args):
        self.args = args
        self.connection = None
        self.loop = GLib.MainLoop()

    def run(self):
        self.connection = Gio.bus_get_sync(Gio.BusType.SYSTEM, None)
        self.recorder = MatchRecorder(self.address(), self.args.match_record)
        info = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION)
        for interface in info.interfaces:
            self.connection.register_object(PATH, interface, self.onCall, None, None)
        Gio.bus_own_name_on_connection(self.connection, NAME, Gio.BusNameOwnerFlags.DO_NOT_QUEUE,
                                       self.onNameAcquired, self.onNameLost)
        self.loop.run()

    @staticmethod
    def address():
        return Gio.dbus_address_get_for_bus_sync(Gio.BusType.SYSTEM, None)

    def onNameAcquired(self, _connection, _name):
        print("ready", flush=True)

    def onNameLost(self, _connection, _name):
        print("could not own " + NAME, file=sys.stderr, flush=True)
        self.loop.quit()

    def onCall(self, _connection, _sender, _path, interface, method, params, invocation):
        if interface == CONTROL and method == "EmitPrepareForSleep":
            self.connection.emit_signal(None, PATH, MANAGER, "PrepareForSleep", params)
            invocation.return_value(None)
        else:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--match-record", required=True,
                        help="JSON-lines file for PrepareForSleep subscriptions (AddMatch rules)")
    Logind(parser.parse_args()).run()


if __name__ == "__main__":
    main()
