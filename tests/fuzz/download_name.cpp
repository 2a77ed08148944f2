// A cleaned download name is one harmless path component.
#include "DownloadName.h"
#include "fuzz/Check.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    std::string name = DownloadName::clean(fuzzText(data, size));
    FUZZ_CHECK(!name.empty() && name.size() <= 255, "length");
    FUZZ_CHECK(name.find('/') == std::string::npos && name.find('\0') == std::string::npos, "one component");
    FUZZ_CHECK(name != "." && name != "..", "dot names");
    FUZZ_CHECK(name[0] != '.' && name[0] != '-', "hidden or option-like");
    FUZZ_CHECK(name.back() != '.' && name.back() != ' ', "trailing dot or blank");
    std::string tail = name.size() >= 8 ? name.substr(name.size() - 8) : "";
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    FUZZ_CHECK(tail != ".desktop", "launcher file");
    FUZZ_CHECK(DownloadName::clean(name) == name, "cleaning a clean name changes it");
    return 0;
}
