#include "AppConfig.h"
#include <algorithm>
#include <cctype>
#include "BuildNumber.h"
#include "Url.h"
#include "platform/Bundle.h"

#ifndef NOLAR_SERVICE_HOST
#define NOLAR_SERVICE_HOST "nolar.example"
#endif

namespace AppConfig {

namespace {
const platform::BundleInfo* mainBundle = nullptr;

std::string hostPart(std::string hostAndPort) {
    if (!hostAndPort.empty() && hostAndPort[0] == '[') return hostAndPort.substr(0, hostAndPort.find(']') + 1);
    hostAndPort = hostAndPort.substr(0, hostAndPort.find(':'));
    std::transform(hostAndPort.begin(), hostAndPort.end(), hostAndPort.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return hostAndPort;
}
} // namespace

const std::string& serviceHost() {
    static const std::string value = NOLAR_SERVICE_HOST;
    return value;
}

const std::string& ownHost() {
    static const std::string value = hostPart(serviceHost());
    return value;
}

const std::string& startURL() {
    static const std::string value = "https://" + serviceHost() + "/messenger/";
    return value;
}

const std::string& versionURL() {
    static const std::string value = "https://" + serviceHost() + "/app/mac/version.json";
    return value;
}

const std::string& updatePrefix() {
    static const std::string value = "https://" + serviceHost() + "/";
    return value;
}

void useMainBundle(const platform::BundleInfo* bundle) { mainBundle = bundle; }

std::string versionName() {
    if (!mainBundle) return "0";
    return mainBundle->infoString("CFBundleShortVersionString").value_or("0");
}

int64_t build() {
    if (!mainBundle) return 0;
    return parseBuildNumber(mainBundle->infoString("CFBundleVersion").value_or("0")).value_or(0);
}

bool isOwnHost(const std::string& host) {
    std::string h = host;
    std::transform(h.begin(), h.end(), h.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::string& own = ownHost();
    if (h == own) return true;
    return h.size() > own.size() && h.compare(h.size() - own.size(), own.size(), own) == 0 &&
           h[h.size() - own.size() - 1] == '.';
}

bool isOwnHost(const std::optional<std::string>& url) {
    if (!url) return false;
    auto parsed = Url::parse(*url);
    if (!parsed || !parsed->host) return false;
    return isOwnHost(*parsed->host);
}

} // namespace AppConfig
