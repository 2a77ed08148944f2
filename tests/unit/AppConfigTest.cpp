#include <gtest/gtest.h>
#include "AppConfig.h"
#include "BuildNumber.h"
#include "Url.h"
#include "fakes/FakePlatform.h"

namespace {
const std::string own = AppConfig::ownHost();
} // namespace

TEST(AppConfig, OwnHostIsTheHostAndItsSubdomainsOnly) {
    // No port handling, no trailing dot, and the host's letters without the separating dot are foreign.
    struct Row { std::string host; bool own; } rows[] = {
        {own, true}, {"chat." + own, true}, {"a.b.c." + own, true}, {"CHAT." + own, true}, {"x" + own, false},
        {own + ".", false}, {"", false}, {own + ":47443", false}, {"127.0.0.2", false},
    };
    for (auto& r : rows) EXPECT_EQ(AppConfig::isOwnHost(r.host), r.own) << r.host;
}

TEST(AppConfig, OwnHostOfAUrl) {
    struct Row { std::optional<std::string> url; bool own; } rows[] = {
        {AppConfig::startURL(), true}, {"HTTPS://" + own + "/x", true}, {std::nullopt, false},
        {"file:///etc/passwd", false}, {"mailto:a@" + own, false}, {"https://127.0.0.2:47443/x", false},
    };
    for (auto& r : rows) EXPECT_EQ(AppConfig::isOwnHost(r.url), r.own) << r.url.value_or("(none)");
}

TEST(BuildNumber, ParsesOnlyASignedDecimalInteger) {
    const std::optional<int64_t> no;
    struct Row { std::string text; std::optional<int64_t> value; } rows[] = {
        {"42", 42}, {"+7", 7}, {"-3", -3}, {"0", 0}, {"007", 7}, {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN}, {"9223372036854775808", no}, {"", no}, {"+", no}, {"-", no},
        {"+-5", no}, {"1.2", no}, {"1.0.3", no}, {" 5", no}, {"5 ", no}, {"5a", no}, {"++5", no},
    };
    for (auto& r : rows) EXPECT_EQ(parseBuildNumber(r.text), r.value) << "'" << r.text << "'";
}

TEST(AppConfig, VersionAndBuildComeFromTheBundleEachTime) {
    fakes::FakePlatform p;
    auto& info = p.bundles.mainBundle.info;
    EXPECT_EQ(AppConfig::versionName(), "1.4");
    for (auto [text, build] : {std::pair{"27", 27}, {"1.0.3", 0}, {"+42", 42}}) {
        info["CFBundleVersion"] = text;
        EXPECT_EQ(AppConfig::build(), build) << text;
    }
    info.clear();
    EXPECT_EQ(AppConfig::build(), 0);
    EXPECT_EQ(AppConfig::versionName(), "0");
    info["CFBundleShortVersionString"] = "";
    EXPECT_EQ(AppConfig::versionName(), "");
}

TEST(Url, PartsThePoliciesLookAt) {
    auto u = Url::parse("HTTPS://User@Chat.Example:8443/messenger/a%20b?q=1#f");
    ASSERT_TRUE(u);
    EXPECT_EQ(std::tie(u->scheme, u->host, u->path),
              std::make_tuple("https", "chat.example", "/messenger/a b"));
    for (auto [url, last] : {std::pair{"https://h/a/report.pdf", "report.pdf"}, {"https://h/a/dir/", "dir"},
                             {"https://h/", "/"}, {"https://h", ""}})
        EXPECT_EQ(Url::parse(url)->lastPathComponent(), last) << url;
    EXPECT_FALSE(Url::parse("mailto:x@y")->host);
    EXPECT_FALSE(Url::parse("no scheme here"));
    EXPECT_FALSE(Url::parse("/relative/path"));
}
