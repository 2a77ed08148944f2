#include <gtest/gtest.h>
#include <glib.h>
#include <regex>
#include "Autostart.h"

namespace {

// The entry read back as the desktop reads it: the key file's string value, the Exec field's
// unquoting (GLib's shell parser covers the quoting an entry may use), then "%%" as "%".
std::vector<std::string> execArgv(const std::string& entry)
{
    GKeyFile* file = g_key_file_new();
    g_key_file_load_from_data(file, entry.data(), entry.size(), G_KEY_FILE_NONE, nullptr);
    char* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
    char** argv = nullptr;
    std::vector<std::string> out;
    if (exec && g_shell_parse_argv(exec, nullptr, &argv, nullptr))
        for (char** a = argv; *a; ++a)
            out.push_back(std::regex_replace(*a, std::regex("%%"), "%"));
    g_strfreev(argv);
    g_free(exec);
    g_key_file_free(file);
    return out;
}

TEST(AutostartEntry, ExecStartsTheExecutableHiddenWhateverItsPath)
{
    for (std::string path : {"/opt/Nolar.app/Contents/Linux/nolar", "/home/a b/Nolar.app/nolar",
                             "/home/it's \"q\"/$HOME/`x`/back\\slash/Nolar.app/nolar", "/srv/100%/nolar"}) {
        std::string entry = Autostart::entry(path);
        EXPECT_EQ(execArgv(entry), (std::vector<std::string>{path, "--background"})) << entry;
    }
}

} // namespace
