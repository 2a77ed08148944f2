#include "Bridge.h"

#include <string_view>

#include "AppConfig.h"
#include "JsString.h"
#include "Resources.h"

namespace {

constexpr std::string_view permissionMarker = "/*@PERMISSION@*/";
constexpr std::string_view versionMarker = "/*@VERSION@*/";
constexpr std::string_view buildMarker = "/*@BUILD@*/";

// The resource cut at its markers. The text between the version and build markers is
// written by script() itself, so the resource's copy of it is only for its readers.
struct Pieces {
    std::string opening;
    std::string middle;
    std::string closing;
    bool complete = false;
};

Pieces split(const std::string& text)
{
    Pieces pieces;
    const auto p = text.find(permissionMarker);
    if (p == std::string::npos)
        return pieces;
    const auto v = text.find(versionMarker, p + permissionMarker.size());
    if (v == std::string::npos)
        return pieces;
    const auto b = text.find(buildMarker, v + versionMarker.size());
    if (b == std::string::npos)
        return pieces;
    pieces.opening = text.substr(0, p);
    pieces.middle = text.substr(p + permissionMarker.size(), v - p - permissionMarker.size());
    pieces.closing = text.substr(b + buildMarker.size());
    pieces.complete = true;
    return pieces;
}

const Pieces& pieces()
{
    static const Pieces cut = split(Resources::bridge_js());
    return cut;
}

} // namespace

namespace Bridge {

std::string script(const std::string& permission)
{
    const Pieces& p = pieces();
    // A resource without its markers would splice into the wrong places; no script is safer
    // than a broken one.
    if (!p.complete)
        return {};
    std::string out;
    out.reserve(p.opening.size() + p.middle.size() + p.closing.size() + 64);
    out += p.opening;
    out += jsString(permission);
    out += p.middle;
    out += jsString(AppConfig::versionName());
    out += ",\n    build: ";
    out += std::to_string(AppConfig::build());
    out += p.closing;
    return out;
}

} // namespace Bridge
