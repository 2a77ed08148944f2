#include <glib.h>
#include <random>
#include "TempDir.h"
#include "platform/gtk/OpenSslSha256.h"

namespace {

TEST(OpenSslSha256, MatchesGLibAcrossBlockBoundariesAndReadsNoFolder)
{
    TempDir t;
    platform::gtk::OpenSslSha256 sha;
    std::mt19937 random(7);
    // Sizes around the 1 MiB reading block and a multi-megabyte archive.
    for (size_t size : {0, 1, 1 << 20, (1 << 20) + 1, 5 * (1 << 20) + 12345}) {
        std::string data(size, '\0');
        for (auto& c : data)
            c = static_cast<char>(random());
        writeFile(t / "f", data);
        gchar* expected = g_compute_checksum_for_string(G_CHECKSUM_SHA256, data.data(), data.size());
        EXPECT_EQ(sha.hexDigestOfFile(t / "f"), std::string(expected)) << size;
        g_free(expected);
    }
    EXPECT_EQ(sha.hexDigestOfFile(t / "missing"), std::nullopt);
    EXPECT_EQ(sha.hexDigestOfFile(t.path), std::nullopt) << "a folder is not an archive";
}

} // namespace
