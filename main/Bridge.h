#pragma once
#include <string>

namespace Bridge {

// The bridge script for the page, with the permission state, version and build spliced in.
std::string script(const std::string& permission);

// The isolated-world relay and page-world shim that carry messages with the posting frame's origin
// are the platform's; this is only the page-facing script.

} // namespace Bridge
