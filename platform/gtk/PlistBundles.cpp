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

// The top-level dictionary of the bundle's Info.plist; null when the file is not a dictionary plist.
std::shared_ptr<void> readInfo(const std::string& bundle) {
    auto data = readSmallFile(bundle + "/Contents/Info.plist");
    if (!data || data->empty()) return nullptr;
    plist_t root = nullptr;
    plist_from_memory(data->data(), static_cast<uint32_t>(data->size()), &root);
    std::shared_ptr<void> owner(root, PlistFree());
    if (!root || plist_get_node_type(root) != PLIST_DICT) return nullptr;
    return owner;
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

PlistBundle::PlistBundle(std::string path, std::shared_ptr<void> info)
    : bundlePath(std::move(path)), info(std::move(info)) {}

// Looked up by name, never by walking the dictionary: libplist aborts the process on a key or a
// string with a NUL inside when asked for it as a C string, hence the pointer and length here.
std::optional<std::string> PlistBundle::infoString(const std::string& key) const {
    plist_t value = info ? plist_dict_get_item(info.get(), key.c_str()) : nullptr;
    if (!value || plist_get_node_type(value) != PLIST_STRING) return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(value, &length);
    if (!text) return std::nullopt;
    return std::string(text, length);
}

// A build run outside its bundle (tests) still has a main bundle, with an empty Info dictionary.
PlistBundles::PlistBundles() {
    auto path = mainBundlePath();
    mainBundle = std::make_unique<PlistBundle>(path, readInfo(path));
}

std::unique_ptr<platform::BundleInfo> PlistBundles::open(const std::string& path) const {
    auto info = readInfo(path);
    if (!info) return nullptr;
    return std::make_unique<PlistBundle>(path, std::move(info));
}

} // namespace platform::gtk
