#pragma once
#include "platform/Files.h"

namespace platform::gtk {

// Zip extraction with libarchive, in process. Every entry must land inside the new folder:
// one absolute path, ".." component, link leaving the folder, hard link or device file and
// the whole extraction fails.
class LibarchiveUnzip : public platform::Unzip {
public:
    LibarchiveUnzip() = default;
    bool extract(const std::string& archive, const std::string& destination) override;
};

} // namespace platform::gtk
