#!/usr/bin/python3
"""A panel's tray and the desktop portal for end-to-end tests, on the test's private session bus.

--watcher: owns org.kde.StatusNotifierWatcher with a host registered, and records each
  RegisterStatusNotifierItem as a JSON line {"sender", "service"} in --record.
--color-scheme N: owns org.freedesktop.portal.Desktop, whose Settings.Read answers
  org.freedesktop.appearance color-scheme with N; org.nolar.Test.Desktop.SetColorScheme(u) on the
  same object changes it and emits Settings.SettingChanged.
Prints "ready" once every name is owned.
"""

import argparse
import json
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

PORTAL_PATH = "/org/freedesktop/portal/desktop"
SERVICES = {
    "org.kde.StatusNotifierWatcher": ("/StatusNotifierWatcher", """<node>
      <interface name="org.kde.StatusNotifierWatcher">
        <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
        <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
        <property name="ProtocolVersion" type="i" access="read"/>
      </interface></node>"""),
    "org.freedesktop.portal.Desktop": (PORTAL_PATH, """<node>
      <interface name="org.freedesktop.portal.Settings">
        <method name="Read"><arg type="s" direction="in"/><arg type="s" direction="in"/>
          <arg type="v" direction="out"/></method>
        <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
      </interface>
      <interface name="org.nolar.Test.Desktop">
        <method name="SetColorScheme"><arg type="u" direction="in"/></method>
      </interface></node>"""),
}
APPEARANCE = ("org.freedesktop.appearance", "color-scheme")


class Desktop:
    def __init__(self, args):
        self.args, self.scheme, self.pending = args, args.color_scheme, 0
        self.loop = GLib.MainLoop()

    def run(self):
        self.connection = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        wanted = (["org.kde.StatusNotifierWatcher"] if self.args.watcher else []) + \
                 (["org.freedesktop.portal.Desktop"] if self.scheme is not None else [])
        for name in wanted:
            path, xml = SERVICES[name]
            for interface in Gio.DBusNodeInfo.new_for_xml(xml).interfaces:
                self.connection.register_object(path, interface, self.onCall, None, None)
            self.pending += 1
            Gio.bus_own_name_on_connection(self.connection, name, Gio.BusNameOwnerFlags.DO_NOT_QUEUE,
                                           self.onNameAcquired, self.onNameLost)
        self.loop.run()

    def onNameAcquired(self, _connection, _name):
        self.pending -= 1
        if self.pending == 0:
            print("ready", flush=True)

    def onNameLost(self, _connection, name):
        print("could not own " + name, file=sys.stderr, flush=True)
        self.loop.quit()

    def onCall(self, _connection, sender, _path, interface, method, params, invocation):
        if interface == "org.freedesktop.DBus.Properties":
            props = {"IsStatusNotifierHostRegistered": GLib.Variant("b", True), "ProtocolVersion": GLib.Variant("i", 0)}
            if method == "GetAll":
                invocation.return_value(GLib.Variant("(a{sv})", (props,)))
            else:
                invocation.return_value(GLib.Variant("(v)", (props[params.unpack()[1]],)))
        elif method == "RegisterStatusNotifierItem":
            with open(self.args.record, "a", encoding="utf-8") as f:
                f.write(json.dumps({"sender": sender, "service": params.unpack()[0]}) + "\n")
            invocation.return_value(None)
        elif method == "Read" and params.unpack() == APPEARANCE:
            # The portal's Read wraps the value in a second variant.
            invocation.return_value(GLib.Variant("(v)", (GLib.Variant("v", GLib.Variant("u", self.scheme)),)))
        elif method == "SetColorScheme":
            (self.scheme,) = params.unpack()
            invocation.return_value(None)
            self.connection.emit_signal(None, PORTAL_PATH, "org.freedesktop.portal.Settings", "SettingChanged",
                                        GLib.Variant("(ssv)", (*APPEARANCE, GLib.Variant("u", self.scheme))))
        else:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--watcher", action="store_true")
    parser.add_argument("--record")
    parser.add_argument("--color-scheme", type=int)
    Desktop(parser.parse_args()).run()


if __name__ == "__main__":
    main()
