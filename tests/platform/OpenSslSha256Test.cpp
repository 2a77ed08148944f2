#include <cstdio>
#include <random>
#include "TempDir.h"
#include "platform/gtk/OpenSslSha256.h"

namespace {

std::string openssl(const std::string& file) {
    std::string out;
    if (FILE* p = ::popen(("openssl dgst -sha256 -r '" + file + "'").c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        ::pclose(p);
    }
    return out.substr(0, 64);
}

TEST(OpenSslSha256, MatchesOpensslAcrossBlockBoundaries) {
    TempDir t;
    std::mt19937 random(7);
    // Sizes around the 1 MiB reading block and a multi-megabyte archive.
    for (size_t size : {size_t(0), size_t(1), size_t(1 << 20), size_t((1 << 20) + 1), size_t(5 * (1 << 20) + 12345)}) {
        std::string data(size, '\0');
        for (auto& c : data) c = static_cast<char>(random());
        writeFile(t / "f", data);
        platform::gtk::OpenSslSha256 sha;
        auto digest = sha.hexDigestOfFile(t / "f");
        ASSERT_TRUE(digest) << size;
        EXPECT_EQ(*digest, openssl(t / "f")) << size;
    }
}

TEST(OpenSslSha256, UnreadablePathsHaveNoDigest) {
    TempDir t;
    platform::gtk::OpenSslSha256 sha;
    EXPECT_EQ(sha.hexDigestOfFile(t / "missing"), std::nullopt);
    EXPECT_EQ(sha.hexDigestOfFile(t.path), std::nullopt) << "a folder is not an archive";
}

} // namespace
