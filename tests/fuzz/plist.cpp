// Info.plist reading: any file at Contents/Info.plist opens as a bundle or is refused, and a
// bundle opened from it answers its keys the same way every time.
#include <cstdlib>
#include <fstream>
#include "fuzz/Check.h"
#include "platform/gtk/PlistBundles.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    static const std::string bundle = [] {
        char folder[] = "/tmp/nolar-fuzz-plist-XXXXXX";
        std::string b = std::string(mkdtemp(folder)) + "/Nolar.app";
        std::system(("mkdir -p '" + b + "/Contents'").c_str());
        return b;
    }();
    static platform::gtk::PlistBundles bundles;
    std::ofstream(bundle + "/Contents/Info.plist", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    auto opened = bundles.open(bundle);
    if (!opened) return 0;
    FUZZ_CHECK(opened->path() == bundle, "path");
    for (const char* key : {"CFBundleIdentifier", "CFBundleVersion", "CFBundleExecutable"})
        FUZZ_CHECK(opened->infoString(key) == bundles.open(bundle)->infoString(key), "a second reading differs");
    return 0;
}
