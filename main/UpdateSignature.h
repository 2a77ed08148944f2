#pragma once
#include <string>

// Detached Ed25519 signatures of the version manifest.
namespace UpdateSignature {

// The raw 32-byte public key built into this binary; empty when manifests are not signed.
const std::string& buildKey();

// True when signatureText, the base64 of a 64-byte signature with any surrounding whitespace,
// is rawKey's signature over exactly these message bytes.
bool verify(const std::string& rawKey, const std::string& message, const std::string& signatureText);

} // namespace UpdateSignature
