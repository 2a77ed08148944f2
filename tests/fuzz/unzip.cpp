// Archive extraction: nothing is ever written outside the target folder, and what a successful
// extraction leaves stays within the limits (checked here with small ones).
#include <filesystem>
#include <fstream>
#include "fuzz/Check.h"
#include "platform/gtk/LibarchiveUnzip.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    static const fs::path root = [] {
        char folder[] = "/tmp/nolar-fuzz-unzip-XXXXXX";
        return fs::path(mkdtemp(folder));
    }();
    const platform::gtk::UnzipLimits limits{1 << 20, 100, 64};
    std::ofstream(root / "in.zip", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    platform::gtk::LibarchiveUnzip unzip(limits);
    bool ok = unzip.extract(root / "in.zip", root / "out");
    for (const auto& entry : fs::directory_iterator(root))
        FUZZ_CHECK(entry.path().filename() == "in.zip" || entry.path().filename() == "out", "written outside");
    if (ok) {
        uint64_t bytes = 0, entries = 0;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root / "out"); it != fs::recursive_directory_iterator(); ++it) {
            ++entries;
            if (it->is_regular_file(ec) && !it->is_symlink(ec)) bytes += it->file_size(ec);
        }
        FUZZ_CHECK(entries <= limits.entries, "entry limit");
        FUZZ_CHECK(bytes <= limits.totalBytes && bytes <= limits.ratio * size, "size limits");
    }
    fs::remove_all(root / "out");
    return 0;
}
