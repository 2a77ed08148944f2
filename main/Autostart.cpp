#include "Autostart.h"

namespace Autostart {

namespace {

// One argument of an Exec key: reserved characters need double quotes, inside which '"', '`',
// '$' and '\' take a backslash; '%' starts a field code and is doubled. The key's value is itself
// a string value, in which each of those backslashes is written twice.
std::string execArgument(const std::string& arg) {
    bool quote = arg.empty() || arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`=") != std::string::npos;
    std::string out = quote ? "\"" : "";
    for (char c : arg) {
        if (c == '%') out += "%%";
        else if (c == '\\') out += "\\\\\\\\";
        else if (quote && (c == '"' || c == '`' || c == '$')) out += std::string("\\\\") + c;
        else out += c;
    }
    return quote ? out + '"' : out;
}

} // namespace

std::string execLine(const std::vector<std::string>& argv) {
    std::string out;
    for (const auto& arg : argv) out += (out.empty() ? "" : " ") + execArgument(arg);
    return out;
}

std::string entry(const std::string& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Нолар\n"
           "Comment=Сообщения и звонки\n"
           "Icon=org.nolar.Nolar\n"
           "Exec=" + execLine({executable, "--background"}) + "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

} // namespace Autostart
