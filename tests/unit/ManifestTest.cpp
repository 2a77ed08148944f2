#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include "Manifest.h"

using nlohmann::json;

namespace {
const std::string prefix = "https://nolar.example:8443/";
const std::string digest(64, 'f');
} // namespace

TEST(Manifest, MissingOrMistypedMembersKeepTheirDefaults) {
    for (const char* text : {R"({})", R"({"build":"42","minBuild":"3","versionName":7,"url":1,"sha256":[],"notes":{}})",
                             R"({"build":true,"minBuild":null})"}) {
        auto m = Manifest::fromJson(json::parse(text));
        EXPECT_EQ(m.build, 0) << text;
        EXPECT_EQ(m.minBuild, 0) << text;
        EXPECT_EQ(m.versionName, "?") << text;
        EXPECT_EQ(m.url, "") << text;
        EXPECT_EQ(m.sha256, "") << text;
        EXPECT_EQ(m.notes, "") << text;
    }
}

TEST(Manifest, BuildNumbersAreTruncatedAndOutOfRangeCountsAsAbsent) {
    struct Row { const char* build; int64_t expected; };
    for (auto row : {Row{"42", 42}, Row{"7.9", 7}, Row{"-3.5", -3}, Row{"-3", -3}, Row{"9223372036854775807", INT64_MAX},
                     Row{"18446744073709551615", 0}, Row{"1e30", 0}, Row{"-1e30", 0}}) {
        auto m = Manifest::fromJson(json::parse(std::string(R"({"build":)") + row.build + "}"));
        EXPECT_EQ(m.build, row.expected) << row.build;
    }
}

TEST(Manifest, DigestIsLowerCasedAndOtherTextKeptAsWritten) {
    auto m = Manifest::fromJson(json{{"sha256", "ABCDEF0123"}, {"versionName", "1.5 Бета"}, {"notes", "Что нового"}});
    EXPECT_EQ(m.sha256, "abcdef0123");
    EXPECT_EQ(m.versionName, "1.5 Бета");
    EXPECT_EQ(m.notes, "Что нового");
}

TEST(Manifest, ValidationWantsAnAddressUnderThePrefixAndA64CharacterDigest) {
    struct Row { std::string url, sha; bool valid; };
    const Row rows[] = {
        {prefix + "app/Nolar-28.zip", digest, true},
        {prefix + "app/Nolar-28.zip?x=1", digest, true},
        {prefix + "app/Nolar-28.zip", std::string(63, 'f'), false},
        {prefix + "app/Nolar-28.zip", std::string(65, 'f'), false},
        {prefix + "app/Nolar-28.zip", "", false},
        {"http://nolar.example:8443/app/Nolar-28.zip", digest, false},
        {"https://nolar.example/app/Nolar-28.zip", digest, false},          // another port
        {"https://nolar.example:84430/app/Nolar-28.zip", digest, false},
        {"https://evil.example/" + prefix, digest, false},
        {"HTTPS://nolar.example:8443/app/Nolar-28.zip", digest, false},    // the prefix test is case-sensitive
        {prefix + "app/Nolar 28.zip", digest, false},                      // not a usable address
        {prefix + "app/\nNolar.zip", digest, false},
        {"", digest, false},
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
        EXPECT_EQ(m.isNewerThan(r.mine), r.newer) << r.remote << " " << r.mine;
        EXPECT_EQ(m.isCriticalFor(r.mine), r.critical) << r.min << " " << r.mine;
    }
}
