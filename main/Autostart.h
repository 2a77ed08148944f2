#pragma once
#include <string>
#include <vector>

// The desktop entry that starts the application at login, hidden.
namespace Autostart {

// The entry's text for the bundle's executable.
std::string entry(const std::string& executable);

// An Exec value that runs the program with the arguments: quoted and escaped as desktop entries
// require, so that any path survives.
std::string execLine(const std::vector<std::string>& argv);

} // namespace Autostart
