#pragma once
#include "platform/Files.h"

namespace platform::gtk {

// SHA-256 with OpenSSL's EVP interface, reading the file in 1 MiB blocks.
class OpenSslSha256 : public platform::Sha256 {
public:
    OpenSslSha256() = default;
    std::optional<std::string> hexDigestOfFile(const std::string& path) const override;
};

} // namespace platform::gtk
