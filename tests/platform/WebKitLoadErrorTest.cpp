#include <gtest/gtest.h>

#include "platform/gtk/WebKitLoadError.h"

namespace {

using platform::gtk::makeLoadError;

TEST(WebKitLoadError, TransportAndCancelledByDomainAndCode)
{
    const struct {
        const char* domain;
        int code;
        bool transport, cancelled;
    } rows[] = {
        {"g-io-error-quark", G_IO_ERROR_CONNECTION_REFUSED, true, false},   // server down
        {"g-io-error-quark", G_IO_ERROR_CANCELLED, true, true},
        {"g-resolver-error-quark", G_RESOLVER_ERROR_NOT_FOUND, true, false},
        {"g-tls-error-quark", G_TLS_ERROR_BAD_CERTIFICATE, true, false},
        {"soup-session-error-quark", 0, true, false},
        {"WebKitNetworkError", 300, true, false},   // transport
        {"WebKitNetworkError", 302, true, true},    // cancelled
        {"WebKitPolicyError", 102, false, false},   // interrupted by an ignored or downloaded response
        {"", 0, false, false},
        {"g-io-error-quark-not", G_IO_ERROR_CANCELLED, false, false},   // names compare exactly
    };
    for (const auto& row : rows) {
        platform::LoadError e = makeLoadError(row.domain, row.code, "text");
        EXPECT_EQ(std::make_pair(e.transport, e.cancelled), std::make_pair(row.transport, row.cancelled))
            << row.domain << " " << row.code;
    }
}

TEST(WebKitLoadError, FromGErrorAndFromARefusedCertificate)
{
    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_CONNECTION_REFUSED, "Connection refused");
    platform::LoadError e = makeLoadError(*error);
    g_error_free(error);
    EXPECT_EQ(e.domain, "g-io-error-quark");
    EXPECT_EQ(e.code, G_IO_ERROR_CONNECTION_REFUSED);
    EXPECT_EQ(e.description, "Connection refused");
    EXPECT_TRUE(e.transport);
    platform::LoadError tls = platform::gtk::makeTlsLoadError(
        static_cast<GTlsCertificateFlags>(G_TLS_CERTIFICATE_UNKNOWN_CA | G_TLS_CERTIFICATE_BAD_IDENTITY));
    EXPECT_EQ(tls.domain, "g-tls-error-quark");
    EXPECT_TRUE(tls.transport);
    EXPECT_FALSE(tls.cancelled);
    EXPECT_FALSE(tls.description.empty());
}

} // namespace
