// The stored form of PR_RTF_COMPRESSED: a 16-byte header (size of what
// follows the first field, size of the RTF text, "LZFu" or "MELA", CRC of the
// compressed bytes) and either the LZFu-compressed text or the text itself.
//
// LZFu works over a 4096-byte ring preloaded with a 207-byte RTF prefix: the
// output is runs of a flag byte (bits taken from the least significant up)
// and eight tokens, each a literal byte (bit 0) or a big-endian 16-bit
// reference (bit 1) of a 12-bit ring position and a 4-bit length minus 2.
// A reference to the ring's current write position ends the data.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace bm::pst {

// The LZFu-compressed form of an RTF document.
std::vector<std::uint8_t> CompressRtf(std::span<const std::uint8_t> rtf);
// The uncompressed ("MELA") form.
std::vector<std::uint8_t> StoreRtfUncompressed(std::span<const std::uint8_t> rtf);

}  // namespace bm::pst
