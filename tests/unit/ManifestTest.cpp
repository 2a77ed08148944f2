#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include "Manifest.h"

using nlohmann::json;

TEST(Manifest, MissingOrMistypedMembersKeepTheirDefaults) {
    const char* texts[] = {R"({})", R"({"build":true,"minBuild":null})",
                           R"({"build":"42","minBuild":"3","versionName":7,"url":1,"sha256":[],"notes":{}})"};
    for (const char* text : texts) {
        auto m = Manifest::fromJson(json::parse(text));
        EXPECT_EQ(std::tie(m.build, m.minBuild, m.versionName, m.url, m.sha256, m.notes),
                  std::make_tuple(0, 0, "?", "", "", "")) << text;
    }
}

TEST(Manifest, BuildNumbersAreTruncatedAndOutOfRangeCountsAsAbsent) {
    std::pair<const char*, int64_t> rows[] = {
        {"42", 42}, {"7.9", 7}, {"-3.5", -3}, {"-3", -3}, {"9223372036854775807", INT64_MAX},
        {"18446744073709551615", 0}, {"1e30", 0}, {"-1e30", 0},
    };
    for (auto [build, expected] : rows)
        EXPECT_EQ(Manifest::fromJson(json::parse(R"({"build":)" + std::string(build) + "}")).build, expected)
            << build;
}

TEST(Manifest, DigestIsLowerCasedAndOtherTextKeptAsWritten) {
    auto m = Manifest::fromJson(json{{"sha256", "ABCDEF0123"}, {"versionName", "1.5 Б"}, {"notes", "Что"}});
    EXPECT_EQ(std::tie(m.sha256, m.versionName, m.notes), std::make_tuple("abcdef0123", "1.5 Б", "Что"));
}

TEST(Manifest, ValidationWantsAnAddressUnderThePrefixAndA64CharacterDigest) {
    const std::string prefix = "https://n.example:8443/", zip = prefix + "app/Nolar-28.zip", digest(64, 'f');
    // The prefix test is case-sensitive, and the port is part of it.
    struct Row { std::string url, sha; bool valid; } rows[] = {
        {"https://n.example:84430/app/N.zip", digest, false}, {"https://n.example/app/N.zip", digest, false},
        {"HTTPS://n.example:8443/app/N.zip", digest, false}, {prefix + "app/Nolar 28.zip", digest, false},
        {"http://n.example:8443/app/N.zip", digest, false}, {"https://evil.example/" + prefix, digest, false},
        {prefix + "app/\nNolar.zip", digest, false}, {zip, std::string(63, 'f'), false}, {zip, digest, true},
        {zip, std::string(65, 'f'), false}, {zip + "?x=1", digest, true}, {"", digest, false},
        {zip, "", false},
    };
    for (const auto& row : rows) {
        Manifest m;
        m.url = row.url;
        m.sha256 = row.sha;
        EXPECT_EQ(m.isValid(prefix), row.valid) << row.url << " / " << row.sha.size();
    }
}

TEST(Manifest, NewerAndCriticalCompareWithTheRunningBuild) {
    struct Row { int64_t remote, min, mine; bool newer, critical; };
    for (auto r : {Row{7, 6, 5, true, true}, Row{7, 0, 5, true, false}, Row{7, 5, 5, true, false},
                   Row{5, 0, 5, false, false}, Row{4, 9, 5, false, true}}) {
        Manifest m;
        m.build = r.remote;
        m.minBuild = r.min;
        EXPECT_EQ(std::pair(m.isNewerThan(r.mine), m.isCriticalFor(r.mine)), std::pair(r.newer, r.critical))
            << r.remote << " " << r.min << " " << r.mine;
    }
}
