#include "PlistBundles.h"
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace platform::gtk {

namespace {

// An Info dictionary is a few kilobytes; anything far larger is not one.
constexpr std::streamsize maxInfoSize = 4 << 20;

struct PlistFree {
    void operator()(void* p) const { plist_free(static_cast<plist_t>(p)); }
};

std::optional<std::string> readSmallFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxInfoSize) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The string values of the top-level dictionary; nullopt when the file is not a dictionary plist.
std::optional<std::map<std::string, std::string>> readInfo(const std::string& bundle) {
    auto data = readSmallFile(bundle + "/Contents/Info.plist");
    if (!data || data->empty()) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(data->data(), static_cast<uint32_t>(data->size()), &root);
    std::unique_ptr<void, PlistFree> owner(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT) return std::nullopt;
    std::map<std::string, std::string> strings;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(root, &it);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root, it, &key, &value);
        if (!key) break;
        if (value && plist_get_node_type(value) == PLIST_STRING) {
            char* text = nullptr;
            plist_get_string_val(value, &text);
            if (text) strings[key] = text;
            std::free(text);
        }
        std::free(key);
    }
    std::free(it);
    return strings;
}

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string mainBundlePath() {
    char exe[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return ".";
    exe[n] = '\0';
    return parentOf(parentOf(parentOf(exe)));
}

} // namespace

PlistBundle::PlistBundle(std::string path, std::map<std::string, std::string> strings)
    : bundlePath(std::move(path)), strings(std::move(strings)) {}

std::optional<std::string> PlistBundle::infoString(const std::string& key) const {
    auto it = strings.find(key);
    if (it == strings.end()) return std::nullopt;
    return it->second;
}

// A build run outside its bundle (tests) still has a main bundle, with an empty Info dictionary.
PlistBundles::PlistBundles() {
    auto path = mainBundlePath();
    mainBundle = std::make_unique<PlistBundle>(path, readInfo(path).value_or(std::map<std::string, std::string>{}));
}

std::unique_ptr<platform::BundleInfo> PlistBundles::open(const std::string& path) const {
    auto info = readInfo(path);
    if (!info) return nullptr;
    return std::make_unique<PlistBundle>(path, std::move(*info));
}

} // namespace platform::gtk
