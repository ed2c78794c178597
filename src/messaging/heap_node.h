// Heap-on-node: the small heap that holds the properties of a folder,
// message, attachment or the name-to-ID map.
//
// A node's data is one block or, for a large object, several (an XBLOCK
// tree); each block is one heap page. The first page starts with
//   0  u16  ibHnpm       offset of the page map within the page
//   2  u8   bSig         0xEC
//   3  u8   bClientSig   0xBC property context, 0x7C table context, ...
//   4  u32  hidUserRoot  the client's root allocation
// every later page with its own ibHnpm (u16 at offset 0). The page map at
// ibHnpm holds cAlloc (u16), cFree (u16) and cAlloc + 1 u16 offsets:
// allocation i (from 1) spans [rgibAlloc[i-1], rgibAlloc[i]).
//
// A HID names an allocation: bits 0-4 are the type (0), then the index of
// the allocation within its page, then the page (block) index. How many bits
// the index takes depends on the layout (HidLayout), so the 4 KiB layout is
// only another value.
//
// B-tree-on-heap (BTH): a header allocation
//   0 bType 0xB5, 1 cbKey, 2 cbEnt, 3 bIdxLevels, 4 hidRoot
// whose root allocation holds records of cbKey + cbEnt bytes when
// bIdxLevels is 0, else index records (key, HID of the next level down).
//
// Nothing here trusts the bytes: every offset is checked against its page,
// and a range that falls outside is no allocation at all.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace bm {

using HeapBlocks = std::vector<std::vector<std::uint8_t>>;

struct HidLayout {
    unsigned indexBits;   // bits of the allocation index, from bit 5
    unsigned blockShift;  // first bit of the page index
};

inline constexpr HidLayout kHidLayout{11, 16};    // ANSI and Unicode stores
inline constexpr HidLayout kHidLayout4k{14, 19};  // 4 KiB pages

inline constexpr std::uint8_t kHeapSignature = 0xEC;
inline constexpr std::uint8_t kPropertyContextSig = 0xBC;
inline constexpr std::uint8_t kTableContextSig = 0x7C;
inline constexpr std::uint8_t kBthType = 0xB5;

// Largest number of BTH index levels followed; a deeper one is damaged.
inline constexpr std::uint8_t kMaxBthIndexLevels = 8;

// An allocation's offsets within its page. size() is 0 when end < start.
struct HeapRange {
    std::uint16_t start = 0;
    std::uint16_t end = 0;
    std::size_t size() const { return end > start ? end - start : 0; }
};

inline std::uint32_t HidIndex(std::uint32_t hid, const HidLayout& layout) {
    return (hid >> 5) & ((1u << layout.indexBits) - 1);
}
inline std::uint32_t HidBlock(std::uint32_t hid, const HidLayout& layout) { return hid >> layout.blockShift; }

// Resolves a HID within one heap page whose page map is at ibHnpm; the page
// index of the HID is not consulted. Fails (nullopt) for HID 0, an index of
// 0, a page-map entry outside the page, or a range that reaches outside it.
std::optional<HeapRange> LookupHeapAllocation(std::span<const std::uint8_t> page, std::uint16_t ibHnpm,
                                              std::uint32_t hid, const HidLayout& layout = kHidLayout);

class HeapNode {
public:
    // Checks the first page's signature; nullopt when it is not a heap.
    static std::optional<HeapNode> Open(HeapBlocks pages, const HidLayout& layout = kHidLayout);

    std::uint8_t clientSignature() const { return clientSig_; }
    std::uint32_t userRoot() const { return userRoot_; }
    const HidLayout& layout() const { return layout_; }
    std::size_t pageCount() const { return pages_.size(); }
    // Bytes in the first page (what a single-block heap holds).
    std::size_t firstPageSize() const { return pages_.empty() ? 0 : pages_.front().size(); }

    // The bytes of an allocation, or nullopt when the HID does not name one
    // that lies wholly inside its page.
    std::optional<std::span<const std::uint8_t>> Allocation(std::uint32_t hid) const;

private:
    HeapBlocks pages_;
    HidLayout layout_ = kHidLayout;
    std::uint8_t clientSig_ = 0;
    std::uint32_t userRoot_ = 0;
};

struct BthHeader {
    std::uint8_t type = 0;
    std::uint8_t keySize = 0;
    std::uint8_t entrySize = 0;
    std::uint8_t indexLevels = 0;
    std::uint32_t root = 0;
};

// The BTH header in allocation `hid`; nullopt when it is missing or short.
std::optional<BthHeader> ReadBthHeader(const HeapNode& heap, std::uint32_t hid);
// The same from the header allocation's bytes.
std::optional<BthHeader> ParseBthHeader(std::span<const std::uint8_t> bytes);

// The leaf records of a BTH, in order, each `recordSize` bytes (key and
// data), followed down through the index levels. Index records whose HID
// cannot be resolved are skipped, as is an allocation met twice.
// A root of 0 or one that cannot be resolved gives no records.
std::vector<std::span<const std::uint8_t>> ReadBthRecords(const HeapNode& heap, const BthHeader& header,
                                                          std::size_t recordSize);

}  // namespace bm
