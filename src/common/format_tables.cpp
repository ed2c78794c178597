#include "common/format_tables.h"

namespace bm {
namespace {

void ApplyCyclic(std::span<std::uint8_t> data, std::uint64_t bid) {
    const auto key = static_cast<std::uint32_t>(bid);
    auto w = static_cast<std::uint16_t>((key ^ (key >> 16)) & 0xFFFF);
    for (auto& byte : data) {
        const auto lo = static_cast<std::uint8_t>(w & 0xFF);
        const auto hi = static_cast<std::uint8_t>(w >> 8);
        std::uint8_t b = byte;
        b = kCryptEncode[static_cast<std::uint8_t>(b + lo)];
        b = kCryptMiddle[static_cast<std::uint8_t>(b + hi)];
        b = kCryptDecode[static_cast<std::uint8_t>(b - hi)];
        b = static_cast<std::uint8_t>(b - lo);
        byte = b;
        w = static_cast<std::uint16_t>(w + 1);
    }
}

// Eight-bytes-per-step tables derived from the published one.
struct SlicedCrc {
    std::array<std::array<std::uint32_t, 256>, 8> t{};
    SlicedCrc() {
        t[0] = kCrcTable;
        for (std::size_t k = 1; k < 8; ++k)
            for (std::size_t n = 0; n < 256; ++n)
                t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
};

}  // namespace

void DecodeBytes(std::span<std::uint8_t> data, CryptMethod method, std::uint64_t bid) {
    switch (method) {
        case CryptMethod::None: return;
        case CryptMethod::Permute:
            for (auto& b : data) b = kCryptDecode[b];
            return;
        case CryptMethod::Cyclic: ApplyCyclic(data, bid); return;
    }
}

void EncodeBytes(std::span<std::uint8_t> data, CryptMethod method, std::uint64_t bid) {
    switch (method) {
        case CryptMethod::None: return;
        case CryptMethod::Permute:
            for (auto& b : data) b = kCryptEncode[b];
            return;
        case CryptMethod::Cyclic: ApplyCyclic(data, bid); return;
    }
}

std::uint32_t ComputeCrc(std::span<const std::uint8_t> data, std::uint32_t crc) {
    static const SlicedCrc sliced;
    const auto& t = sliced.t;
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    while (n >= 8) {
        const std::uint32_t a = crc ^ (static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                       static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
        crc = t[7][a & 0xFF] ^ t[6][(a >> 8) & 0xFF] ^ t[5][(a >> 16) & 0xFF] ^ t[4][a >> 24] ^ t[3][p[4]] ^
              t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n--) crc = kCrcTable[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

}  // namespace bm
