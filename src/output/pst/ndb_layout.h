// Fixed places and field offsets of the Unicode (wVer 23) store layout, as
// the writer writes them. The store checker reads the same fields from the
// store's layout descriptions (store/layout.h), not from here.
//
// File map:
//   0x0000  header (564 bytes; the rest of the first 0x4200 bytes is unused)
//   0x4200  density list page
//   0x4400  first allocation-map interval
// The file after 0x4400 is cut into intervals of 253,952 bytes. Each interval
// starts with its AMap page, whose 496 bytes hold one bit per 64 bytes of the
// interval (most significant bit first; the map pages themselves are marked).
// Every 8th interval carries a PMap page next (one bit per 512-byte page of 8
// intervals), interval 128 and every 496th after it an FMap page (one byte
// per interval: its longest free run), and interval 8192 and every 31,744th
// after it an FPMap page (one bit per PMap); FMap and FPMap never share an
// interval and both take the slot after the PMap. The header's rgbFM and
// rgbFP cover what lies before the first FMap and FPMap.
//
// Every page is 512 bytes with a 16-byte trailer: ptype, ptype again, wSig,
// dwCRC over the first 496 bytes, bid. Map pages carry wSig 0 and their own
// file offset as bid; B-tree and density-list pages carry a page BID and the
// signature of (offset, bid).
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/ndb.h"

namespace bm::pst {

inline constexpr std::uint16_t kVersionUnicode = 23;
inline constexpr std::uint16_t kVersionClient = 19;
using ::bm::kHeaderMagic;
using ::bm::kMagicClientOst;
using ::bm::kMagicClientPst;
using ::bm::kSentinel;
inline constexpr std::uint8_t kAMapValid = 0x02;

// Unicode header field offsets.
namespace hdr {
inline constexpr std::size_t kSize = 564;
inline constexpr std::size_t kMagic = 0;
inline constexpr std::size_t kCrcPartial = 4;
inline constexpr std::size_t kMagicClient = 8;
inline constexpr std::size_t kVersion = 10;
inline constexpr std::size_t kVersionClient = 12;
inline constexpr std::size_t kPlatformCreate = 14;
inline constexpr std::size_t kPlatformAccess = 15;
inline constexpr std::size_t kBidNextP = 32;
inline constexpr std::size_t kUnique = 40;
inline constexpr std::size_t kRgnid = 44;  // 32 x 4 bytes
inline constexpr std::size_t kFileEof = 184;
inline constexpr std::size_t kAMapLast = 192;
inline constexpr std::size_t kAMapFree = 200;
inline constexpr std::size_t kPMapFree = 208;
inline constexpr std::size_t kNbtRoot = 216;  // BREF: bid, ib
inline constexpr std::size_t kBbtRoot = 232;
inline constexpr std::size_t kAMapValidFlag = 248;
inline constexpr std::size_t kFreeMap = 256;      // rgbFM, 128 bytes
inline constexpr std::size_t kFreePageMap = 384;  // rgbFP, 128 bytes
inline constexpr std::size_t kSentinelAt = 512;
inline constexpr std::size_t kCryptMethod = 513;
inline constexpr std::size_t kBidNextB = 516;
inline constexpr std::size_t kCrcFull = 524;
// The partial CRC covers 471 bytes from kMagicClient, the full one 516.
inline constexpr std::size_t kCrcPartialLength = 471;
inline constexpr std::size_t kCrcFullLength = 516;
}  // namespace hdr

using ::bm::PageType;

// Page trailer and B-tree page footer offsets within a 512-byte page.
inline constexpr std::size_t kPageDataSize = 496;
inline constexpr std::size_t kBTreeEntriesSize = 488;
inline constexpr std::size_t kBTreeCEnt = 488;
inline constexpr std::size_t kBTreeCEntMax = 489;
inline constexpr std::size_t kBTreeCbEnt = 490;
inline constexpr std::size_t kBTreeCLevel = 491;
inline constexpr std::size_t kTrailerPType = 496;
inline constexpr std::size_t kTrailerPTypeRepeat = 497;
inline constexpr std::size_t kTrailerSig = 498;
inline constexpr std::size_t kTrailerCrc = 500;
inline constexpr std::size_t kTrailerBid = 504;

// B-tree entry sizes.
inline constexpr std::size_t kBranchEntrySize = 24;  // key, BREF
inline constexpr std::size_t kBbtEntrySize = 24;     // BREF, cb, cRef, padding
inline constexpr std::size_t kNbtEntrySize = 32;     // nid, bidData, bidSub, nidParent, padding
inline constexpr std::size_t kBranchEntriesMax = kBTreeEntriesSize / kBranchEntrySize;  // 20
inline constexpr std::size_t kBbtEntriesMax = kBTreeEntriesSize / kBbtEntrySize;        // 20
inline constexpr std::size_t kNbtEntriesMax = kBTreeEntriesSize / kNbtEntrySize;        // 15

// Internal blocks.
using ::bm::kBlockTypeData;
using ::bm::kBlockTypeSubnode;
inline constexpr std::size_t kInternalHeaderSize = 8;
inline constexpr std::size_t kXEntriesMax = (8176 - kInternalHeaderSize) / 8;    // 1021
inline constexpr std::size_t kSlEntrySize = 24;
inline constexpr std::size_t kSlEntriesMax = (8176 - kInternalHeaderSize) / kSlEntrySize;  // 340
inline constexpr std::size_t kSiEntrySize = 16;
inline constexpr std::size_t kSiEntriesMax = (8176 - kInternalHeaderSize) / kSiEntrySize;  // 510

// Allocation maps.
inline constexpr std::uint64_t kDListOffset = 0x4200;
inline constexpr std::uint64_t kFirstAMapOffset = 0x4400;
inline constexpr std::uint64_t kAMapCoverage = 496ull * 8 * 64;  // 253,952 bytes
inline constexpr std::uint64_t kAMapUnit = 64;
inline constexpr std::uint64_t kAMapBits = 496ull * 8;
inline constexpr std::uint64_t kFMapFirstInterval = 128;
inline constexpr std::uint64_t kFMapEvery = 496;
inline constexpr std::uint64_t kFPMapFirstInterval = 128ull * 64;
inline constexpr std::uint64_t kFPMapEvery = 496ull * 64;
inline constexpr std::size_t kDListEntriesMax = 476 / 4;

constexpr std::uint64_t IntervalStart(std::uint64_t interval) { return kFirstAMapOffset + interval * kAMapCoverage; }
constexpr bool HasPMap(std::uint64_t interval) { return interval % 8 == 0; }
constexpr bool HasFMap(std::uint64_t interval) {
    return interval >= kFMapFirstInterval && (interval - kFMapFirstInterval) % kFMapEvery == 0;
}
constexpr bool HasFPMap(std::uint64_t interval) {
    return interval >= kFPMapFirstInterval && (interval - kFPMapFirstInterval) % kFPMapEvery == 0;
}
// Bytes at the start of an interval taken by its map pages.
constexpr std::uint64_t MapPagesSize(std::uint64_t interval) {
    return 512ull * (1 + (HasPMap(interval) ? 1 : 0) + ((HasFMap(interval) || HasFPMap(interval)) ? 1 : 0));
}

}  // namespace bm::pst
