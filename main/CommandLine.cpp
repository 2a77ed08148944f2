#include "CommandLine.h"

CommandLine CommandLine::parse(const std::vector<std::string>& args) {
    CommandLine out;
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") {
            out.action = Action::Help;
        } else if (arg == "--version") {
            if (out.action == Action::Run) out.action = Action::Version;
        } else if (arg == "--background") {
            out.background = true;
        } else {
            out.action = Action::Error;
            out.error = (arg.rfind('-', 0) == 0 ? "unknown option " : "unexpected argument ") + arg;
            return out;
        }
    }
    return out;
}

std::string CommandLine::help(const std::string& program) {
    return "Usage: " + program + " [--background]\n"
           "Нолар: сообщения и звонки.\n\n"
           "  --background  start without showing the window (as at login)\n"
           "  --version     print the version and exit\n"
           "  --help        print this help and exit\n";
}

std::string CommandLine::version(const std::string& versionName, int64_t build) {
    return "Нолар " + versionName + " (сборка " + std::to_string(build) + ")\n";
}
