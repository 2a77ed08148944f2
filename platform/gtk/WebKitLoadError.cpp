#include "WebKitLoadError.h"

#include <array>
#include <string_view>

namespace platform::gtk {

namespace {

// The engine's network error domain and its cancelled code (WebKitError.h); spelt out so that
// this file needs no engine header and its tests no display.
constexpr std::string_view webKitNetworkDomain = "WebKitNetworkError";
constexpr int webKitNetworkCancelled = 302;

constexpr std::array<std::string_view, 5> transportDomains = {
    "g-io-error-quark",
    "g-resolver-error-quark",
    "g-tls-error-quark",
    "soup-session-error-quark",
    webKitNetworkDomain,
};

bool isTransport(const std::string& domain)
{
    for (std::string_view d : transportDomains)
        if (domain == d)
            return true;
    return false;
}

std::string describe(GTlsCertificateFlags errors)
{
    if (errors & G_TLS_CERTIFICATE_UNKNOWN_CA)
        return "The certificate is not signed by a trusted authority";
    if (errors & G_TLS_CERTIFICATE_BAD_IDENTITY)
        return "The certificate does not match the site";
    if (errors & G_TLS_CERTIFICATE_EXPIRED)
        return "The certificate has expired";
    if (errors & G_TLS_CERTIFICATE_REVOKED)
        return "The certificate has been revoked";
    return "The certificate is not acceptable";
}

} // namespace

platform::LoadError makeLoadError(const std::string& domain, int code, const std::string& description)
{
    platform::LoadError e;
    e.domain = domain;
    e.code = code;
    e.description = description;
    e.transport = isTransport(domain);
    e.cancelled = (domain == webKitNetworkDomain && code == webKitNetworkCancelled) ||
                  (domain == "g-io-error-quark" && code == G_IO_ERROR_CANCELLED);
    return e;
}

platform::LoadError makeLoadError(const GError& error)
{
    const char* domain = g_quark_to_string(error.domain);
    return makeLoadError(domain ? domain : "", error.code, error.message ? error.message : "");
}

platform::LoadError makeTlsLoadError(GTlsCertificateFlags errors)
{
    return makeLoadError(g_quark_to_string(G_TLS_ERROR), G_TLS_ERROR_BAD_CERTIFICATE, describe(errors));
}

} // namespace platform::gtk
