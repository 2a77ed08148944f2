#pragma once
#include <optional>
#include <string>
#include <vector>

namespace platform {

class Files {
public:
    virtual ~Files() = default;
    virtual std::string temporaryDirectory() const = 0;
    // The user's Downloads folder, created when missing.
    virtual std::string downloadsDirectory() const = 0;
    virtual bool exists(const std::string& path) const = 0;
    virtual bool isWritable(const std::string& path) const = 0;
    // A real folder: false for a symbolic link, even one to a folder.
    virtual bool isFolder(const std::string& path) const = 0;
    // Creates one new directory private to the user (0700); false when it exists or fails.
    virtual bool createPrivateDirectory(const std::string& path) = 0;
    virtual bool move(const std::string& from, const std::string& to) = 0;
    // Names of the entries of a directory in the listing's order; nullopt when it cannot be read.
    virtual std::optional<std::vector<std::string>> list(const std::string& dir) const = 0;
    // Creates a new file private to the user (0600) holding text; false when it exists or fails.
    virtual bool writeNewPrivateFile(const std::string& path, const std::string& text) = 0;
};

// Streaming SHA-256 of a file as 64 lower-case hex digits; nullopt when it cannot be read.
class Sha256 {
public:
    virtual ~Sha256() = default;
    virtual std::optional<std::string> hexDigestOfFile(const std::string& path) const = 0;
};

// Extracts a zip archive into a new folder, refusing entries that would land outside it.
class Unzip {
public:
    virtual ~Unzip() = default;
    virtual bool extract(const std::string& archive, const std::string& destination) = 0;
};

class Processes {
public:
    virtual ~Processes() = default;
    virtual long pid() const = 0;
    // Starts a process that outlives this one (own session); false when it cannot start.
    virtual bool spawnDetached(const std::string& executable, const std::vector<std::string>& args) = 0;
};

} // namespace platform
