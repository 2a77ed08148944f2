#pragma once
#include <optional>
#include <string>

namespace platform::gtk {

// The host of an absolute URI or of a serialised origin, in lower case; nullopt when it has
// none (an opaque origin serialises as "null", a document loaded from a string as about:blank).
std::optional<std::string> uriHost(const std::string& uri);

} // namespace platform::gtk
