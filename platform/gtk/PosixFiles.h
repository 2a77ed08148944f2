#pragma once
#include "platform/Files.h"

namespace platform::gtk {

// The file system through POSIX calls; private folders and files are created exclusively.
class PosixFiles : public platform::Files {
public:
    PosixFiles() = default;
    std::string temporaryDirectory() const override;
    std::string downloadsDirectory() const override;
    bool exists(const std::string& path) const override;
    bool isWritable(const std::string& path) const override;
    bool isFolder(const std::string& path) const override;
    bool createPrivateDirectory(const std::string& path) override;
    bool move(const std::string& from, const std::string& to) override;
    std::optional<std::vector<std::string>> list(const std::string& dir) const override;
    bool writeNewPrivateFile(const std::string& path, const std::string& text) override;
};

} // namespace platform::gtk
