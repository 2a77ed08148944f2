#include "UpdateSignature.h"
#include <openssl/evp.h>
#include <memory>

#ifndef NOLAR_UPDATE_KEY_HEX
#define NOLAR_UPDATE_KEY_HEX ""
#endif

namespace UpdateSignature {

namespace {

constexpr size_t keyBytes = 32;
constexpr size_t signatureBytes = 64;

std::string fromHex(const std::string& hex) {
    std::string raw;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return raw;
}

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n\v\f";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The signature's bytes, only from their one canonical base64 spelling.
std::string decodeSignature(const std::string& text) {
    constexpr size_t encodedBytes = 4 * ((signatureBytes + 2) / 3);
    if (text.size() != encodedBytes) return "";
    unsigned char decoded[encodedBytes];
    int n = EVP_DecodeBlock(decoded, reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < static_cast<int>(signatureBytes)) return "";
    unsigned char again[encodedBytes + 1];
    EVP_EncodeBlock(again, decoded, static_cast<int>(signatureBytes));
    if (text != reinterpret_cast<const char*>(again)) return "";
    return std::string(reinterpret_cast<const char*>(decoded), signatureBytes);
}

} // namespace

const std::string& buildKey() {
    static const std::string key = fromHex(NOLAR_UPDATE_KEY_HEX);
    return key;
}

bool verify(const std::string& rawKey, const std::string& message, const std::string& signatureText) {
    if (rawKey.size() != keyBytes) return false;
    std::string signature = decodeSignature(trimmed(signatureText));
    if (signature.empty()) return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(rawKey.data()),
                                    rawKey.size()),
        EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!key || !context) return false;
    // Ed25519 signs the message itself, in one pass, with no separate digest.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

} // namespace UpdateSignature
