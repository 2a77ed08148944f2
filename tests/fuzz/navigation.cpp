// The navigation decisions never let a foreign web page into the main window: whatever the
// URL, a top-frame navigation of the main view to another host is not allowed in place.
#include "AppConfig.h"
#include "NavigationPolicy.h"
#include "Url.h"
#include "fuzz/Check.h"

using platform::Policy;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    if (size < 1) return 0;
    unsigned flags = data[0];
    std::string rest = fuzzText(data + 1, size - 1);
    auto newline = rest.find('\n');
    std::string url = rest.substr(0, newline);
    std::optional<std::string> disposition;
    if (newline != std::string::npos) disposition = rest.substr(newline + 1);
    bool mainView = flags & 1;

    platform::NavigationAction action{bool(flags & 2), url, platform::TargetFrame((flags >> 2) % 4)};
    auto byAction = NavigationPolicy::forAction(action, mainView);
    platform::NavigationResponse response{url, bool(flags & 16), bool(flags & 32), disposition, bool(flags & 64)};
    auto byResponse = NavigationPolicy::forResponse(response, mainView);

    auto parsed = Url::parse(url);
    bool web = parsed && (parsed->scheme == "http" || parsed->scheme == "https");
    bool foreign = web && !(parsed->host && AppConfig::isOwnHost(*parsed->host));
    if (foreign && mainView && !action.shouldPerformDownload && action.targetFrame == platform::TargetFrame::Main)
        FUZZ_CHECK(byAction.policy != Policy::Allow, "a foreign page allowed into the main view");
    if (foreign && response.mainFrame) FUZZ_CHECK(byResponse.policy != Policy::Allow, "a foreign response allowed");
    if (byResponse.policy == Policy::Allow && response.mainFrame && web && mainView)
        FUZZ_CHECK(parsed->path.rfind("/messenger", 0) == 0, "a non-messenger page allowed into the main view");
    return 0;
}
