#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace platform { class BundleInfo; }

// The service's addresses and this build's own version.
namespace AppConfig {

// The service host as configured at build time; may carry a port for local testing.
const std::string& serviceHost();
const std::string& ownHost();       // the host name alone, lower case
const std::string& startURL();      // https://<host>/messenger/
const std::string& versionURL();    // https://<host>/app/mac/version.json
const std::string& updatePrefix();  // https://<host>/

// Read from the main bundle's Info dictionary on every access.
std::string versionName();
int64_t build();

bool isOwnHost(const std::string& host);
bool isOwnHost(const std::optional<std::string>& url);

// The bundle whose Info dictionary versionName and build read. Set once at start.
void useMainBundle(const platform::BundleInfo* bundle);

} // namespace AppConfig
