#pragma once
#include <functional>
#include <string>

namespace DownloadName {

// A suggested file name made safe to create in the Downloads folder: one path component,
// no control characters, at most 255 bytes, never a launcher file, never hidden or option-like
// (a leading "." or "-" becomes "_"), no trailing dots or blanks.
std::string clean(const std::string& suggested);

// The first path in the folder, trying the cleaned name unchanged, then "base (2).ext",
// "base (3).ext"..., at which exists() is false.
std::string uniqueURL(const std::string& folder, const std::string& name,
                      const std::function<bool(const std::string&)>& exists);

} // namespace DownloadName
