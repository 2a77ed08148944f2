#pragma once
#include <string>
#include <glib.h>

// A dbus-daemon of our own, made the session bus of this process before anything connects to it.
// Its configuration has no service folders, so nothing is ever started on demand.
class PrivateSessionBus {
public:
    // Starts the bus once per process; later calls return the same address.
    static const std::string& address();
};
