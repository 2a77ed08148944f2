#include <gtest/gtest.h>
#include "AppConfig.h"
#include "BuildNumber.h"
#include "Url.h"
#include "fakes/FakePlatform.h"

// A test build's service host carries a port (127.0.0.1:47443); it is not part of the host.
TEST(AppConfig, AddressesKeepThePortAndHostIsLowerCaseWithoutIt) {
    const std::string& host = AppConfig::serviceHost();
    EXPECT_EQ(AppConfig::ownHost(), host.substr(0, host.find(':')));
    EXPECT_EQ(AppConfig::startURL(), "https://" + AppConfig::serviceHost() + "/messenger/");
    EXPECT_EQ(AppConfig::versionURL(), "https://" + AppConfig::serviceHost() + "/app/mac/version.json");
    EXPECT_EQ(AppConfig::updatePrefix(), "https://" + AppConfig::serviceHost() + "/");
}

TEST(AppConfig, OwnHostIsTheHostAndItsSubdomainsOnly) {
    const std::string own = AppConfig::ownHost();
    struct Row { std::string host; bool own; } rows[] = {
        {own, true},
        {"chat." + own, true},
        {"a.b.c." + own, true},
        {"x" + own, false},           // the host's letters without the separating dot
        {own + ".", false},           // trailing dot: compared unchanged
        {"", false},
        {own + ":47443", false},      // no port handling
        {"127.0.0.2", false},
    };
    for (auto& r : rows) EXPECT_EQ(AppConfig::isOwnHost(r.host), r.own) << r.host;
}

TEST(AppConfig, OwnHostOfAUrl) {
    EXPECT_TRUE(AppConfig::isOwnHost(std::optional<std::string>(AppConfig::startURL())));
    EXPECT_TRUE(AppConfig::isOwnHost(std::optional<std::string>("HTTPS://" + AppConfig::ownHost() + "/x")));
    EXPECT_FALSE(AppConfig::isOwnHost(std::optional<std::string>()));
    EXPECT_FALSE(AppConfig::isOwnHost(std::optional<std::string>("file:///etc/passwd")));
    EXPECT_FALSE(AppConfig::isOwnHost(std::optional<std::string>("mailto:a@" + AppConfig::ownHost())));
    EXPECT_FALSE(AppConfig::isOwnHost(std::optional<std::string>("https://127.0.0.2:47443/foreign/page.html")));
}

TEST(AppConfig, CaseOfTheHostDoesNotMatter) {
    fakes::FakePlatform p;
    EXPECT_TRUE(AppConfig::isOwnHost("CHAT." + AppConfig::ownHost()));
}

TEST(BuildNumber, ParsesOnlyASignedDecimalInteger) {
    struct Row { std::string text; std::optional<int64_t> value; } rows[] = {
        {"42", 42}, {"+7", 7}, {"-3", -3}, {"0", 0}, {"007", 7},
        {"9223372036854775807", INT64_MAX}, {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt}, {"", std::nullopt}, {"+", std::nullopt}, {"-", std::nullopt},
        {"+-5", std::nullopt}, {"1.2", std::nullopt}, {"1.0.3", std::nullopt}, {" 5", std::nullopt},
        {"5 ", std::nullopt}, {"5a", std::nullopt}, {"++5", std::nullopt},
    };
    for (auto& r : rows) EXPECT_EQ(parseBuildNumber(r.text), r.value) << "'" << r.text << "'";
}

TEST(AppConfig, VersionAndBuildComeFromTheBundleEachTime) {
    fakes::FakePlatform p;
    EXPECT_EQ(AppConfig::versionName(), "1.4");
    EXPECT_EQ(AppConfig::build(), 27);
    p.bundles.mainBundle.info["CFBundleVersion"] = "1.0.3";
    EXPECT_EQ(AppConfig::build(), 0);
    p.bundles.mainBundle.info["CFBundleVersion"] = "+42";
    EXPECT_EQ(AppConfig::build(), 42);
    p.bundles.mainBundle.info.erase("CFBundleVersion");
    p.bundles.mainBundle.info.erase("CFBundleShortVersionString");
    EXPECT_EQ(AppConfig::build(), 0);
    EXPECT_EQ(AppConfig::versionName(), "0");
    p.bundles.mainBundle.info["CFBundleShortVersionString"] = "";
    EXPECT_EQ(AppConfig::versionName(), "");
}

TEST(Url, PartsThePoliciesLookAt) {
    auto u = Url::parse("HTTPS://User@Chat.Example:8443/messenger/a%20b?q=1#f");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->scheme, "https");
    EXPECT_EQ(u->host, "chat.example");
    EXPECT_EQ(u->path, "/messenger/a b");
    EXPECT_EQ(Url::parse("https://h/a/report.pdf")->lastPathComponent(), "report.pdf");
    EXPECT_EQ(Url::parse("https://h/a/dir/")->lastPathComponent(), "dir");
    EXPECT_EQ(Url::parse("https://h/")->lastPathComponent(), "/");
    EXPECT_EQ(Url::parse("https://h")->lastPathComponent(), "");
    EXPECT_FALSE(Url::parse("mailto:x@y")->host);
    EXPECT_FALSE(Url::parse("no scheme here"));
    EXPECT_FALSE(Url::parse("/relative/path"));
}
