#pragma once
#include <cstdint>
#include <string>
#include <vector>

// What the process was asked to do by its arguments (without the program name).
struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    bool background = false; // start without showing the main window
    std::string error;       // for Error: what was wrong, in a short sentence

    static CommandLine parse(const std::vector<std::string>& args);
    static std::string help(const std::string& program);
    static std::string version(const std::string& versionName, int64_t build);
};
