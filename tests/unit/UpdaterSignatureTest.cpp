#include <openssl/evp.h>
#include <algorithm>
#include "UpdateSignature.h"
#include "UpdaterTest.h"

namespace {

// A fresh Ed25519 key pair: the raw public key, and a signer producing the base64 text of a .sig file.
struct KeyPair {
    EVP_PKEY* key = nullptr;
    KeyPair() {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
        EVP_PKEY_keygen_init(ctx);
        EVP_PKEY_keygen(ctx, &key);
        EVP_PKEY_CTX_free(ctx);
    }
    ~KeyPair() { EVP_PKEY_free(key); }
    std::string publicKey() const {
        unsigned char raw[32];
        size_t n = sizeof raw;
        EVP_PKEY_get_raw_public_key(key, raw, &n);
        return std::string(reinterpret_cast<char*>(raw), n);
    }
    std::string sign(const std::string& message) const {
        unsigned char sig[64], text[89];
        size_t n = sizeof sig;
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key);
        EVP_DigestSign(ctx, sig, &n, reinterpret_cast<const unsigned char*>(message.data()), message.size());
        EVP_MD_CTX_free(ctx);
        EVP_EncodeBlock(text, sig, static_cast<int>(n));
        return reinterpret_cast<char*>(text);
    }
};

class UpdaterSignature : public UpdaterTest {
protected:
    KeyPair ours, other;
};

TEST_F(UpdaterSignature, OnlyAManifestSignedByTheBuildsKeyIsRead) {
    const std::string body = manifest(28).dump(), good = ours.sign(body);
    std::string flipped = good;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
    struct Row { const char* name; std::optional<int> status; std::optional<std::string> sig; bool offered; } rows[] = {
        {"signed, with blanks around", 200, "\n " + good + "\r\n", true},
        {"no signature file", 404, std::nullopt, false},
        {"signature fetch failed", std::nullopt, std::nullopt, false},
        {"signed by another key", 200, other.sign(body), false},
        {"manifest changed after signing", 200, ours.sign(body + " "), false},
        {"one character changed", 200, flipped, false},
        {"not base64", 200, std::string(86, '!') + "==", false},
        {"empty", 200, "", false},
        {"inner blank", 200, good.substr(0, 40) + " " + good.substr(40), false},
    };
    for (const auto& row : rows) {
        fakes::FakePlatform fresh;
        auto u = std::make_shared<Updater>(fresh.services, ours.publicKey());
        u->window = window;
        u->check(false);
        ASSERT_EQ(fresh.http.sent.size(), 1u);
        fresh.http.sent[0].completion({200, body, std::nullopt});
        EXPECT_TRUE(u->isChecking()) << "in flight until the signature is in";
        ASSERT_EQ(fresh.http.sent.size(), 2u) << row.name;
        const auto& request = fresh.http.sent[1].request;
        EXPECT_EQ(request.url, AppConfig::versionURL() + ".sig");
        EXPECT_TRUE(request.httpsOnly);
        EXPECT_EQ(request.maxBytes, 1u << 20);
        fresh.http.sent[1].completion({row.status, row.sig, std::nullopt});
        EXPECT_FALSE(u->isChecking()) << row.name;
        EXPECT_EQ(u->isOfferVisible(), row.offered) << row.name;
        EXPECT_TRUE(fresh.notifications.added.empty()) << row.name;
        EXPECT_TRUE(fresh.http.downloads.empty()) << row.name;
    }
    auto lines = logged();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "update: signature invalid"), 8);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "update check: remote=28 min=0 mine=27 manual=false"), 1);
}

TEST_F(UpdaterSignature, AManualCheckExplainsARefusedSignatureAndABuildWithoutKeyFetchesNone) {
    auto u = std::make_shared<Updater>(p.services, ours.publicKey());
    u->check(true);
    p.http.sent[0].completion({200, manifest(28).dump(), std::nullopt});
    p.http.sent[1].completion({404, std::nullopt, std::nullopt});
    EXPECT_EQ(lastAlertTexts(), std::make_pair(std::string("Обновление недоступно"),
                                               std::string("Описание новой версии на сервере некорректно.")));
    updater->check(false);
    answerManifest(manifest(28));
    EXPECT_EQ(p.http.sent.size(), 3u);
    EXPECT_TRUE(updater->isOfferVisible());
    EXPECT_TRUE(p.http.sent[2].request.httpsOnly);
    p.dialogs.answerSheet(platform::AlertFirstButtonReturn);
    ASSERT_EQ(p.http.downloads.size(), 1u);
    EXPECT_TRUE(p.http.downloads[0].request.httpsOnly);
    EXPECT_EQ(p.http.downloads[0].request.maxBytes, uint64_t(2) << 30);
}

TEST(UpdateSignatureText, OnlyTheCanonicalBase64OfSixtyFourBytesIsRead) {
    KeyPair key;
    std::string good = key.sign("m");
    ASSERT_TRUE(UpdateSignature::verify(key.publicKey(), "m", good));
    EXPECT_TRUE(UpdateSignature::verify(key.publicKey(), "m", "\t" + good + "\n"));
    EXPECT_FALSE(UpdateSignature::verify(key.publicKey(), "m", good.substr(0, 86)));
    EXPECT_FALSE(UpdateSignature::verify(key.publicKey(), "m", good + "AAAA"));
    EXPECT_FALSE(UpdateSignature::verify(key.publicKey().substr(1), "m", good));
    EXPECT_FALSE(UpdateSignature::verify("", "m", good));
}

} // namespace
