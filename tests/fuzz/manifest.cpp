// Manifest reading never throws, and a manifest it calls valid really has an archive address
// under the update prefix made only of URI characters and a 64-character lower-case digest.
// The same bytes as a detached signature never verify: no key signed them.
#include <nlohmann/json.hpp>
#include "AppConfig.h"
#include "Manifest.h"
#include "UpdateSignature.h"
#include "fuzz/Check.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    std::string text = fuzzText(data, size);
    FUZZ_CHECK(!UpdateSignature::verify(std::string(32, '\x07'), "{\"build\": 28}", text), "a forged signature verified");
    auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) return 0;
    Manifest m = Manifest::fromJson(json);
    for (char c : m.sha256) FUZZ_CHECK(!(c >= 'A' && c <= 'Z'), "digest not lower-cased");
    if (!m.isValid(AppConfig::updatePrefix())) return 0;
    FUZZ_CHECK(m.url.rfind(AppConfig::updatePrefix(), 0) == 0, "archive outside the update prefix");
    FUZZ_CHECK(m.sha256.size() == 64, "digest length");
    for (unsigned char c : m.url) FUZZ_CHECK(c > 0x20 && c < 0x7F && c != '"' && c != '<' && c != '>', "URL character");
    return 0;
}
