// Compressed RTF (PR_RTF_COMPRESSED): the stored form of an RTF message body.
//
// A value starts with a 16-byte header, all fields little-endian:
//   0  COMPSIZE  bytes after this field (payload length + 12)
//   4  RAWSIZE   bytes of RTF the stream decodes to
//   8  COMPTYPE  "LZFu" (0x75465A4C) compressed, "MELA" (0x414C454D) stored as is
//   12 CRC       CRC of the payload (bytes 16 .. COMPSIZE + 4) when compressed
// A compressed payload is a run of items, eight per control byte (least
// significant bit first): a clear bit is one literal byte, a set bit a
// big-endian word whose top 12 bits are an offset into a 4096-byte ring
// dictionary and whose low 4 bits are the length minus 2. The dictionary
// starts with a fixed 207-byte RTF prologue and the write position at 207;
// every byte produced is also written into it, so a reference may overlap
// the bytes it produces. A reference whose offset equals the write position
// ends the stream.
//
// Stores are damaged: the decoder never reads past the value, takes a stream
// whose COMPSIZE overstates the value as far as the value goes, decodes
// whatever COMPTYPE says (only "MELA" is copied), and reports a CRC mismatch
// instead of refusing the body.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace bm {

inline constexpr std::uint32_t kRtfCompressedType = 0x75465A4Cu;    // "LZFu"
inline constexpr std::uint32_t kRtfUncompressedType = 0x414C454Du;  // "MELA"
inline constexpr std::size_t kRtfHeaderSize = 16;

// What the decoder met on the way; none of it stops decoding.
struct RtfDecodeReport {
    bool headerComplete = false;  // the value held the whole 16-byte header
    bool compressed = false;      // COMPTYPE other than "MELA"
    bool knownType = false;       // COMPTYPE is "LZFu" or "MELA"
    bool crcMatches = false;      // CRC of the payload equals the header's (always true for "MELA")
    bool endMarkerSeen = false;   // the stream ended with its end marker
    bool truncated = false;       // the value or payload ended before the stream did
    std::uint32_t rawSize = 0;    // RAWSIZE as stored
    std::uint32_t storedCrc = 0;
    std::uint32_t computedCrc = 0;
};

// Decodes a PR_RTF_COMPRESSED value into RTF bytes.
std::vector<std::uint8_t> DecodeCompressedRtf(std::span<const std::uint8_t> value, RtfDecodeReport* report = nullptr);

// Decodes the value into a file, replacing it. 0 on success, 1 when the file
// cannot be written. A damaged stream still yields what could be decoded;
// `report` tells the caller about it.
int DecompressRtf(std::span<const std::uint8_t> value, const std::filesystem::path& outputPath,
                  RtfDecodeReport* report = nullptr);

}  // namespace bm
