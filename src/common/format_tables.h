// Encoding, checksum and signature primitives shared by the store reader and
// the .pst writer.
//
// Data blocks of a store may be encoded byte by byte:
//   method 0  none
//   method 1  permutation: stored = encode[plain], plain = decode[stored]
//   method 2  cyclic: a three-rotor substitution keyed by the block's BID;
//             the same routine encodes and decodes
// Only the stored bytes of external data blocks are encoded; pages, trailers
// and internal blocks are plain.
//
// The CRC is the reflected 0xEDB88320 CRC-32 that starts at 0 and is not
// inverted at the end (unlike zlib's).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace bm {

extern const std::array<std::uint8_t, 256> kCryptEncode;
extern const std::array<std::uint8_t, 256> kCryptMiddle;
extern const std::array<std::uint8_t, 256> kCryptDecode;
extern const std::array<std::uint32_t, 256> kCrcTable;
extern const std::array<std::uint8_t, 207> kRtfDictionary;

enum class CryptMethod : std::uint8_t { None = 0, Permute = 1, Cyclic = 2 };

// Decodes stored bytes in place.
void DecodeBytes(std::span<std::uint8_t> data, CryptMethod method, std::uint64_t bid);
// Encodes plain bytes in place (writer side).
void EncodeBytes(std::span<std::uint8_t> data, CryptMethod method, std::uint64_t bid);

// CRC over data, continuing from crc (0 to start).
std::uint32_t ComputeCrc(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

// Signature of a page or block at file offset ib carrying bid.
inline std::uint16_t ComputeSignature(std::uint64_t ib, std::uint64_t bid) {
    const auto v = static_cast<std::uint32_t>(ib ^ bid);
    return static_cast<std::uint16_t>((v >> 16) ^ (v & 0xFFFF));
}

}  // namespace bm
