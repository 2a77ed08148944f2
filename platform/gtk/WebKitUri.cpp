#include "WebKitUri.h"

#include <glib.h>

namespace platform::gtk {

std::optional<std::string> uriHost(const std::string& uri)
{
    GUri* parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!parsed)
        return std::nullopt;
    std::optional<std::string> host;
    const char* h = g_uri_get_host(parsed);
    if (h && *h) {
        char* lower = g_ascii_strdown(h, -1);
        host = lower;
        g_free(lower);
    }
    g_uri_unref(parsed);
    return host;
}

} // namespace platform::gtk
