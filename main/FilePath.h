#pragma once
#include <string>

// Plain path text, as the updater composes its work folders.
namespace FilePath {

// The folder that holds the path ("/a/b/" → "/a").
inline std::string parent(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

inline std::string join(const std::string& dir, const std::string& name) {
    return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

} // namespace FilePath
