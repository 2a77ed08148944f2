#pragma once
#include <cstdint>
#include "platform/Files.h"

namespace platform::gtk {

// Zip extraction with libarchive, in process. Every entry must land inside the new folder:
// one absolute path, ".." component, link leaving the folder, hard link or device file and
// the whole extraction fails. So does an archive that unpacks to more than the limits below;
// then nothing of it is left on disk.
struct UnzipLimits {
    uint64_t totalBytes = uint64_t(4) << 30;
    uint64_t ratio = 100; // unpacked bytes per byte of archive
    uint64_t entries = 100000;
};

class LibarchiveUnzip : public platform::Unzip {
public:
    explicit LibarchiveUnzip(UnzipLimits limits = {}) : limits(limits) {}
    bool extract(const std::string& archive, const std::string& destination) override;

private:
    UnzipLimits limits;
};

} // namespace platform::gtk
