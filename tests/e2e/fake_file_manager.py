#!/usr/bin/python3
"""A file manager for end-to-end tests, on the session bus: records every call as a JSON line and
shows nothing. Prints "ready" once the name is owned."""

import argparse
import json
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

NAME = "org.freedesktop.FileManager1"
PATH = "/org/freedesktop/FileManager1"

INTROSPECTION = """
<node>
  <interface name="org.freedesktop.FileManager1">
    <method name="ShowFolders">
      <arg type="as" name="uris" direction="in"/><arg type="s" name="startup_id" direction="in"/>
    </method>
    <method name="ShowItems">
      <arg type="as" name="uris" direction="in"/><arg type="s" name="startup_id" direction="in"/>
    </method>
    <method name="ShowItemProperties">
      <arg type="as" name="uris" direction="in"/><arg type="s" name="startup_id" direction="in"/>
    </method>
  </interface>
</node>
"""


class FileManager:
    def __init__(self, record):
        self.record = open(record, "a", encoding="utf-8")
        self.loop = GLib.MainLoop()

    def run(self):
        connection = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        for interface in Gio.DBusNodeInfo.new_for_xml(INTROSPECTION).interfaces:
            connection.register_object(PATH, interface, self.onCall, None, None)
        Gio.bus_own_name_on_connection(connection, NAME, Gio.BusNameOwnerFlags.DO_NOT_QUEUE,
                                       lambda *_: print("ready", flush=True), self.onNameLost)
        self.loop.run()

    def onNameLost(self, _connection, _name):
        print("could not own " + NAME, file=sys.stderr, flush=True)
        self.loop.quit()

    def onCall(self, _connection, sender, _path, _interface, method, params, invocation):
        uris, startupId = params.unpack()
        self.record.write(json.dumps({"method": method, "uris": list(uris), "startup_id": startupId,
                                      "sender": sender}, ensure_ascii=False) + "\n")
        self.record.flush()
        invocation.return_value(None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--record", required=True, help="JSON-lines file for the calls")
    FileManager(parser.parse_args().record).run()


if __name__ == "__main__":
    main()
