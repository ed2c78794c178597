// The on-disk layouts of a store, described once as data.
//
// A store file starts with a header whose 16-bit wVer at offset 10 names the
// layout. Everything else the reader needs to know about a layout (where the
// header keeps the root page offsets of the two index B-trees, how wide BIDs
// and file offsets are, how large a B-tree page is and how its entries are
// laid out, how a block is aligned and where its trailer sits) lives in one
// StoreLayout value; the walks and block readers read these fields by name
// and hold no layout constants of their own.
//
//   ANSI     wVer 14, 15  4-byte BIDs and offsets, 512-byte pages, blocks
//                         aligned to 64 with a 12-byte trailer
//   Unicode  wVer 23      8-byte BIDs and offsets, 512-byte pages, blocks
//                         aligned to 64 with a 16-byte trailer
//   4 KiB    wVer 36      Unicode fields, 4096-byte pages whose footer gives
//                         entry count and size, blocks aligned to 512 with a
//                         24-byte trailer, data blocks possibly deflated
//
// B-tree pages are read with a fixed length that reaches past the page:
// entry slots are tried until an entry fails the walk's tests, not until the
// page's own entry count says so (the count may be damaged). NIDs are 32-bit
// in every layout; in the 8-byte layouts only the low half of a NID field is
// the NID.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace bm {

enum class LayoutKind : std::uint8_t { Ansi, Unicode, Unicode4k };

// A field a layout does not have.
inline constexpr std::size_t kNoField = std::numeric_limits<std::size_t>::max();

struct HeaderFields {
    std::size_t nbtRootOffsetAt;  // ib of the NBT root BREF (its bid comes before it)
    std::size_t bbtRootOffsetAt;  // ib of the BBT root BREF
    std::size_t cryptMethodAt;    // bCryptMethod byte
    // The fields only the store checker reads.
    std::size_t size;             // bytes of the header
    std::size_t fileEofAt;        // ibFileEof
    std::size_t amapLastAt;       // ibAMapLast
    std::size_t amapFreeAt;       // cbAMapFree; cbPMapFree follows
    std::size_t amapValidAt;      // fAMapValid byte
    std::size_t sentinelAt;       // bSentinel byte
    std::size_t crcFullAt;        // dwCRCFull, kNoField when absent
    // dwCRCPartial and dwCRCFull cover bytes from wMagicClient on.
    std::size_t crcPartialLength, crcFullLength;
};

struct PageFields {
    std::size_t size;           // bytes of one B-tree page
    std::size_t bbtReadLength;  // fixed read length of a BBT page
    std::size_t nbtReadLength;  // fixed read length of an NBT page
    std::size_t crcAt;          // dwCRC of the page trailer
    std::size_t crcCovers;      // bytes [0, crcCovers) covered by dwCRC
    // The footer before the trailer: entry count, capacity and entry size.
    // The walks never stop on them; the count only tells live slots from
    // stale ones when damage is counted, and in layouts with `sizedByFooter`
    // the entry size and capacity come from the footer.
    std::size_t footerCountAt;      // cEnt
    std::size_t footerCapacityAt;   // cEntMax
    std::size_t footerEntrySizeAt;  // cbEnt (8-bit)
    std::size_t footerFieldWidth;   // width of cEnt and cEntMax
    bool sizedByFooter;
    std::size_t levelAt;      // cLevel byte of the footer
    // The trailer: ptype twice, wSig, the page's bid.
    std::size_t typeAt;
    std::size_t signatureAt;
    std::size_t bidAt;
};

// Inner entry of either tree (BTENTRY): key, then the child's BREF.
struct InnerEntryFields {
    std::size_t size;
    std::size_t keyAt;
    std::size_t offsetAt;  // ib of the child page
};

// BBT leaf entry (BBTENTRY).
struct BlockEntryFields {
    std::size_t size;
    std::size_t bidAt;
    std::size_t offsetAt;
    std::size_t cbAt;        // 16-bit stored size
    std::size_t inflatedAt;  // 16-bit inflated size, kNoField when absent
    std::size_t refCountAt;  // 16-bit, signed
    std::size_t limit;       // most entries taken from one leaf page
};

// NBT leaf entry (NBTENTRY).
struct NodeEntryFields {
    std::size_t size;
    std::size_t nidAt;
    std::size_t bidDataAt;
    std::size_t bidSubAt;
    std::size_t parentAt;  // 32-bit nidParent
    std::size_t limit;     // most entries taken from one leaf page
};

// Block trailer, found at the end of the aligned block.
struct BlockTrailerFields {
    std::size_t alignment;  // blocks occupy align(cb + trailer size)
    std::size_t size;
    std::size_t cbAt;
    std::size_t crcAt;
    std::size_t bidAt;
    bool compressed;  // data blocks may be deflated (stored size < inflated size)
    std::size_t maxSize;  // most bytes one block takes, trailer included
};

// Internal blocks (never encoded): XBLOCK/XXBLOCK and SLBLOCK/SIBLOCK.
struct InternalBlockFields {
    std::size_t dataTreeEntriesAt;   // first BID of an XBLOCK/XXBLOCK
    std::size_t subnodeEntriesAt;    // first entry of an SLBLOCK/SIBLOCK
    std::size_t subnodeLeafSize;     // SLENTRY: nid, bidData, bidSub
    std::size_t subnodeInnerSize;    // SIENTRY: nid, bid of an SLBLOCK
};

// The allocation maps. The file from `firstAt` on is cut into intervals,
// each starting with an AMap page of `bitsPerMap` bits, one per `unit`
// bytes. Every `pageMapEvery`th interval holds a PMap next (one bit per
// page); an FMap, then one every `freeMapEvery` intervals, from interval
// `freeMapFirst`; an FPMap likewise from `freePageMapFirst`; FMap and FPMap
// take the slot after the PMap and never share an interval.
struct MapFields {
    std::uint64_t firstAt;
    std::uint64_t unit;
    std::uint64_t bitsPerMap;
    std::size_t bitsAt;  // first bit within the map page
    std::uint64_t pageMapEvery;
    std::uint64_t freeMapFirst, freeMapEvery;
    std::uint64_t freePageMapFirst, freePageMapEvery;
    std::uint64_t densityListAt;  // kNoField when the layout has none
    bool settled;  // false while a layout's map geometry is not known for sure
};

struct StoreLayout {
    LayoutKind kind;
    const char* name;
    bool walkable;       // false while a layout is only described, not read
    std::size_t idWidth;  // on-disk width of BIDs, file offsets and NID fields
    HeaderFields header;
    PageFields page;
    InnerEntryFields inner;
    BlockEntryFields bbtLeaf;
    NodeEntryFields nbtLeaf;
    BlockTrailerFields block;
    InternalBlockFields internal;
    MapFields maps;
};

// Where allocation-map interval `k` starts, which map pages it holds and
// how many bytes they take.
constexpr std::uint64_t MapIntervalSize(const StoreLayout& l) { return l.maps.bitsPerMap * l.maps.unit; }
constexpr std::uint64_t MapIntervalStart(const StoreLayout& l, std::uint64_t k) {
    return l.maps.firstAt + k * MapIntervalSize(l);
}
constexpr bool HasPageMap(const StoreLayout& l, std::uint64_t k) { return k % l.maps.pageMapEvery == 0; }
constexpr bool HasFreeMap(const StoreLayout& l, std::uint64_t k) {
    return k >= l.maps.freeMapFirst && (k - l.maps.freeMapFirst) % l.maps.freeMapEvery == 0;
}
constexpr bool HasFreePageMap(const StoreLayout& l, std::uint64_t k) {
    return k >= l.maps.freePageMapFirst && (k - l.maps.freePageMapFirst) % l.maps.freePageMapEvery == 0;
}
constexpr std::uint64_t MapPagesSize(const StoreLayout& l, std::uint64_t k) {
    const bool freeMap = HasFreeMap(l, k) || HasFreePageMap(l, k);
    return l.page.size * (1 + (HasPageMap(l, k) ? 1 : 0) + (freeMap ? 1 : 0));
}

extern const StoreLayout kAnsiLayout;
extern const StoreLayout kUnicodeLayout;
extern const StoreLayout kUnicode4kLayout;

// The layout of a format version, or nullptr for a version the reader does
// not know (such a store opens, walks nothing and keeps empty tables).
const StoreLayout* LayoutForVersion(std::uint32_t formatVersion);

}  // namespace bm
