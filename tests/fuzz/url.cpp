// Our URL parser and the own-host test agree with the engine side's host extraction: a URL that
// one calls the service's own is the service's own for the other too.
#include <algorithm>
#include "AppConfig.h"
#include "Url.h"
#include "fuzz/Check.h"
#include "platform/gtk/WebKitUri.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    std::string text = fuzzText(data, size);
    // The engine hands URIs over as C strings, so a NUL is never part of one; and it writes any
    // "@" of the user part but the last as %40, so two raw "@" never reach us either (GLib would
    // take the first as the end of the user part, the engine and we take the last).
    if (text.find('\0') != std::string::npos || std::count(text.begin(), text.end(), '@') > 1) return 0;
    auto ours = Url::parse(text);
    auto engine = platform::gtk::uriHost(text);
    if (!ours || (ours->scheme != "http" && ours->scheme != "https") || !engine) return 0;
    bool ownHere = ours->host && AppConfig::isOwnHost(*ours->host);
    FUZZ_CHECK(ownHere == AppConfig::isOwnHost(*engine), "own host differs from the engine's host");
    FUZZ_CHECK(ownHere == AppConfig::isOwnHost(std::optional<std::string>(text)), "isOwnHost(url) disagrees");
    return 0;
}
