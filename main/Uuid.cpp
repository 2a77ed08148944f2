#include "Uuid.h"
#include <array>
#include <random>

std::string newUuid() {
    static thread_local std::mt19937_64 engine{std::random_device{}()};
    std::array<unsigned char, 16> bytes{};
    for (auto& b : bytes) b = static_cast<unsigned char>(engine() & 0xff);
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40); // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80); // RFC 4122 variant
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 0x0f];
    }
    return out;
}
