#include "store/block_structure.h"

#include <algorithm>
#include <vector>

#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "store/blocks.h"

namespace bm {

namespace {

constexpr std::uint8_t kHeapSignature = 0xEC;
// Client signatures of a heap's first page: the contexts and trees a store
// keeps in heaps.
constexpr std::uint8_t kClientSignatures[] = {0x6C, 0x7C, 0x8C, 0x9C, 0xA5, 0xAC, 0xB5, 0xBC};
// Where a heap page's first allocation starts: after the first page's
// header, a later page's header, or a bitmap page's header.
constexpr std::uint16_t kFirstPageHeader = 12;
constexpr std::uint16_t kPageHeader = 2;
constexpr std::uint16_t kBitmapPageHeader = 66;
constexpr std::uint32_t kHidIndexShift = 5;
constexpr std::uint32_t kHidIndexMask = 0x7FF;

// The page map's allocation offsets: rising from `start` to at most the map.
bool PageMapHolds(const ByteReader& page, std::uint16_t ibHnpm, std::uint16_t start, std::size_t& allocations) {
    const auto cAlloc = page.peekAt(ibHnpm, 2);
    if (!cAlloc || ibHnpm + 4 + 2 * (*cAlloc + 1) > page.size()) return false;
    std::uint64_t previous = 0;
    for (std::size_t i = 0; i <= *cAlloc; ++i) {
        const std::uint64_t at = page.peekAt(ibHnpm + 4 + 2 * i, 2).value_or(0);
        if ((i == 0 && at != start) || at < previous || at > ibHnpm) return false;
        previous = at;
    }
    allocations = static_cast<std::size_t>(*cAlloc);
    return true;
}

bool InternalBlockHolds(std::span<const std::uint8_t> stored, const StoreLayout& layout) {
    const ByteReader r(stored);
    const auto type = r.peekAt(0, 1);
    const auto level = r.peekAt(1, 1);
    const auto count = r.peekAt(2, 2);
    if (!type || !level || !count || *count == 0) return false;
    const std::size_t width = layout.idWidth;
    std::size_t first = 0;
    std::size_t entrySize = 0;
    if (*type == kDataTreeBlockType) {
        if (*level != 1 && *level != 2) return false;
        if (r.peekAt(4, 4).value_or(0) == 0) return false;  // lcbTotal
        first = layout.internal.dataTreeEntriesAt;
        entrySize = width;
    } else if (*type == kSubnodeBlockType) {
        if (*level > 1) return false;
        first = layout.internal.subnodeEntriesAt;
        entrySize = *level == 0 ? layout.internal.subnodeLeafSize : layout.internal.subnodeInnerSize;
    } else {
        return false;
    }
    if (first + *count * entrySize > stored.size()) return false;
    // A data tree names BIDs; a subnode list names a NID, then BIDs.
    const std::size_t bidAt = *type == kDataTreeBlockType ? 0 : width;
    for (std::size_t i = 0; i < *count; ++i)
        if (r.peekAt(first + i * entrySize + bidAt, width).value_or(0) == 0) return false;
    return true;
}

// The heap's first page: a known client signature, the page map, and a user
// root that is one of the map's allocations (or none).
bool FirstPageHolds(const ByteReader& page, std::uint16_t map) {
    const auto client = page.peekAt(3, 1).value_or(0);
    if (std::find(std::begin(kClientSignatures), std::end(kClientSignatures), client) == std::end(kClientSignatures))
        return false;
    std::size_t allocations = 0;
    if (!PageMapHolds(page, map, kFirstPageHeader, allocations)) return false;
    const std::uint64_t root = page.peekAt(4, 4).value_or(0);
    const std::uint64_t index = (root >> kHidIndexShift) & kHidIndexMask;
    return root == 0 || ((root & 0x1F) == 0 && index >= 1 && index <= allocations);
}

}  // namespace

bool HeapPageHolds(std::span<const std::uint8_t> plain, bool firstOnly) {
    const ByteReader page(plain);
    const auto ibHnpm = page.peekAt(0, 2);
    if (!ibHnpm || *ibHnpm >= plain.size()) return false;
    const auto map = static_cast<std::uint16_t>(*ibHnpm);
    std::size_t allocations = 0;
    if (page.peekAt(2, 1) == kHeapSignature && FirstPageHolds(page, map)) return true;
    if (firstOnly) return false;
    return PageMapHolds(page, map, kPageHeader, allocations) || PageMapHolds(page, map, kBitmapPageHeader, allocations);
}

bool BlockStructureHolds(std::span<const std::uint8_t> stored, std::uint64_t bid, std::uint32_t inflatedSize,
                         const StoreLayout& layout) {
    if (IsInternalBid(bid)) return InternalBlockHolds(stored, layout);
    if (layout.block.compressed && inflatedSize > stored.size()) return false;
    std::vector<std::uint8_t> plain(stored.begin(), stored.end());
    for (const CryptMethod method : {CryptMethod::None, CryptMethod::Permute, CryptMethod::Cyclic}) {
        std::copy(stored.begin(), stored.end(), plain.begin());
        DecodeBytes(plain, method, bid);
        if (HeapPageHolds(plain, false)) return true;
    }
    return false;
}

}  // namespace bm
