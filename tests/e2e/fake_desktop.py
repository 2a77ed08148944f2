#!/usr/bin/python3
"""A panel's tray and the desktop portal for end-to-end tests, on the test's private session bus.

--watcher: owns org.kde.StatusNotifierWatcher (/StatusNotifierWatcher) as a panel's tray does,
  with a host registered, and records every RegisterStatusNotifierItem as a JSON line
  {"sender": unique name, "service": the argument} in --record.
--color-scheme N: owns org.freedesktop.portal.Desktop (/org/freedesktop/portal/desktop) whose
  Settings interface answers org.freedesktop.appearance color-scheme with N. Tests drive it through
  org.nolar.Test.Desktop on that object:
    SetColorScheme(u)   -> the new value, announced with the Settings.SettingChanged signal

Prints "ready" on stdout once every name is owned.
"""

import argparse
import json
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

WATCHER = ("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
PORTAL = ("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop")

WATCHER_XML = """
<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg type="s" name="service" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg type="s" name="service" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
</interface></node>
"""

PORTAL_XML = """
<node>
  <interface name="org.freedesktop.portal.Settings">
    <method name="Read">
      <arg type="s" name="namespace" direction="in"/><arg type="s" name="key" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
    <property name="version" type="u" access="read"/>
  </interface>
  <interface name="org.nolar.Test.Desktop">
    <method name="SetColorScheme"><arg type="u" name="scheme" direction="in"/></method>
  </interface>
</node>
"""


class Desktop:
    def __init__(self, args):
        self.args = args
        self.scheme = args.color_scheme
        self.items = []
        self.pending = 0
        self.loop = GLib.MainLoop()

    def run(self):
        self.connection = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        if self.args.watcher:
            self.serve(WATCHER, WATCHER_XML)
        if self.scheme is not None:
            self.serve(PORTAL, PORTAL_XML)
        self.loop.run()

    def serve(self, name_path, xml):
        name, path = name_path
        for interface in Gio.DBusNodeInfo.new_for_xml(xml).interfaces:
            self.connection.register_object(path, interface, self.onCall, None, None)
        self.pending += 1
        Gio.bus_own_name_on_connection(self.connection, name, Gio.BusNameOwnerFlags.DO_NOT_QUEUE,
                                       self.onNameAcquired, self.onNameLost)

    def onNameAcquired(self, _connection, _name):
        self.pending -= 1
        if self.pending == 0:
            print("ready", flush=True)

    def onNameLost(self, _connection, name):
        print("could not own " + name, file=sys.stderr, flush=True)
        self.loop.quit()

    def properties(self, interface):
        if interface == "org.kde.StatusNotifierWatcher":
            return {"RegisteredStatusNotifierItems": GLib.Variant("as", self.items),
                    "IsStatusNotifierHostRegistered": GLib.Variant("b", True),
                    "ProtocolVersion": GLib.Variant("i", 0)}
        return {"version": GLib.Variant("u", 1)}

    def onCall(self, _connection, sender, path, interface, method, params, invocation):
        if interface == "org.freedesktop.DBus.Properties":
            props = self.properties(params.unpack()[0])
            if method == "GetAll":
                invocation.return_value(GLib.Variant("(a{sv})", (props,)))
            elif method == "Get" and params.unpack()[1] in props:
                invocation.return_value(GLib.Variant("(v)", (props[params.unpack()[1]],)))
            else:
                invocation.return_dbus_error("org.freedesktop.DBus.Error.InvalidArgs", method)
        elif method == "RegisterStatusNotifierItem":
            (service,) = params.unpack()
            self.items.append(sender + service if service.startswith("/") else service)
            with open(self.args.record, "a", encoding="utf-8") as f:
                f.write(json.dumps({"sender": sender, "service": service}) + "\n")
            invocation.return_value(None)
            self.connection.emit_signal(None, path, interface, "StatusNotifierItemRegistered",
                                        GLib.Variant("(s)", (self.items[-1],)))
        elif method == "RegisterStatusNotifierHost":
            invocation.return_value(None)
        elif method == "Read":
            namespace, key = params.unpack()
            if (namespace, key) != ("org.freedesktop.appearance", "color-scheme"):
                invocation.return_dbus_error("org.freedesktop.portal.Error.NotFound", f"{namespace} {key}")
                return
            # The portal's Read wraps the value in a second variant.
            invocation.return_value(GLib.Variant("(v)", (GLib.Variant("v", GLib.Variant("u", self.scheme)),)))
        elif method == "SetColorScheme":
            (self.scheme,) = params.unpack()
            invocation.return_value(None)
            self.connection.emit_signal(None, PORTAL[1], "org.freedesktop.portal.Settings", "SettingChanged",
                                        GLib.Variant("(ssv)", ("org.freedesktop.appearance", "color-scheme",
                                                               GLib.Variant("u", self.scheme))))
        else:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", method)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--watcher", action="store_true", help="own org.kde.StatusNotifierWatcher")
    parser.add_argument("--record", help="JSON-lines file for item registrations")
    parser.add_argument("--color-scheme", type=int, help="own the portal, answering this colour scheme")
    Desktop(parser.parse_args()).run()


if __name__ == "__main__":
    main()
