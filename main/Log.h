#pragma once
#include <string>

// The diagnostic log: $XDG_STATE_HOME/Nolar/nolar.log, one timestamped line per event.
namespace Log {

// Appends one line; callable from any thread; never fails towards the caller.
void write(const std::string& message);

// The log file's path (XDG_STATE_HOME, else ~/.local/state).
std::string path();

// Waits until every line written so far is in the file (tests, and before the process ends).
void flush();

// "2026-03-01T09:05:07Z " + message + "\n" for the given time.
std::string formatLine(long long unixSeconds, const std::string& message);

} // namespace Log
