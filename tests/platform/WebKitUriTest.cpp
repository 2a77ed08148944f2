#include <gtest/gtest.h>

#include "platform/gtk/WebKitUri.h"

namespace {

TEST(WebKitUri, HostOfOriginsAndAddresses)
{
    const std::pair<const char*, std::optional<std::string>> rows[] = {
        {"https://127.0.0.1:8443", "127.0.0.1"},
        {"https://Web.Nolar.Example", "web.nolar.example"},
        {"https://nolar.example/messenger/?a=b#c", "nolar.example"},
        {"https://user:pw@nolar.example:443/x", "nolar.example"},
        {"http://[::1]:8080", "::1"},
        // Origins that name no host: opaque frames, a page loaded from a string, local files.
        {"null", std::nullopt},
        {"about:blank", std::nullopt},
        {"file://", std::nullopt},
    };
    for (const auto& [text, host] : rows)
        EXPECT_EQ(platform::gtk::uriHost(text), host) << text;
}

} // namespace
