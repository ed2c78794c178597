#include "messaging/heap_node.h"

#include <algorithm>

#include "common/byte_reader.h"

namespace bm {

std::optional<HeapRange> LookupHeapAllocation(std::span<const std::uint8_t> page, std::uint16_t ibHnpm,
                                              std::uint32_t hid, const HidLayout& layout) {
    if (hid == 0) return std::nullopt;
    const std::uint32_t index = HidIndex(hid, layout);
    if (index == 0) return std::nullopt;
    // rgibAlloc starts 4 bytes into the page map; allocation i spans
    // entries i-1 and i.
    const ByteReader reader(page);
    const std::size_t at = static_cast<std::size_t>(ibHnpm) + 4 + 2 * (static_cast<std::size_t>(index) - 1);
    const auto start = reader.peekAt(at, 2);
    const auto end = reader.peekAt(at + 2, 2);
    if (!start || !end) return std::nullopt;
    HeapRange range{static_cast<std::uint16_t>(*start), static_cast<std::uint16_t>(*end)};
    if (range.start > page.size() || range.end > page.size()) return std::nullopt;
    return range;
}

std::optional<HeapNode> HeapNode::Open(HeapBlocks pages, const HidLayout& layout) {
    if (pages.empty()) return std::nullopt;
    ByteReader header(pages.front());
    header.readU16();  // ibHnpm, read again per lookup
    const std::uint8_t sig = header.readU8();
    const std::uint8_t clientSig = header.readU8();
    const std::uint32_t root = header.readU32();
    if (header.failed() || sig != kHeapSignature) return std::nullopt;
    HeapNode heap;
    heap.pages_ = std::move(pages);
    heap.layout_ = layout;
    heap.clientSig_ = clientSig;
    heap.userRoot_ = root;
    return heap;
}

std::optional<std::span<const std::uint8_t>> HeapNode::Allocation(std::uint32_t hid) const {
    if ((hid & 0x1F) != 0) return std::nullopt;  // a NID, not a HID
    const std::uint32_t block = HidBlock(hid, layout_);
    if (block >= pages_.size()) return std::nullopt;
    const std::vector<std::uint8_t>& page = pages_[block];
    const auto ibHnpm = ByteReader(page).peekAt(0, 2);
    if (!ibHnpm) return std::nullopt;
    const auto range = LookupHeapAllocation(page, static_cast<std::uint16_t>(*ibHnpm), hid, layout_);
    if (!range) return std::nullopt;
    return std::span<const std::uint8_t>(page).subspan(range->start, range->size());
}

std::optional<BthHeader> ReadBthHeader(const HeapNode& heap, std::uint32_t hid) {
    const auto alloc = heap.Allocation(hid);
    if (!alloc) return std::nullopt;
    return ParseBthHeader(*alloc);
}

std::optional<BthHeader> ParseBthHeader(std::span<const std::uint8_t> bytes) {
    ByteReader r(bytes);
    BthHeader h;
    h.type = r.readU8();
    h.keySize = r.readU8();
    h.entrySize = r.readU8();
    h.indexLevels = r.readU8();
    h.root = r.readU32();
    if (r.failed()) return std::nullopt;
    return h;
}

namespace {

struct BthWalk {
    const HeapNode& heap;
    std::size_t keySize;
    std::size_t recordSize;
    // The allocations entered so far, sorted: a tree has few index
    // allocations, so a flat set costs less than a node per entry.
    std::vector<std::uint32_t> entered;
    std::vector<std::span<const std::uint8_t>> records;

    bool Enter(std::uint32_t hid) {
        const auto at = std::lower_bound(entered.begin(), entered.end(), hid);
        if (at != entered.end() && *at == hid) return false;
        entered.insert(at, hid);
        return true;
    }

    void Level(std::uint32_t hid, unsigned level) {
        if (!Enter(hid)) return;  // a loop or shared child in a damaged heap
        const auto alloc = heap.Allocation(hid);
        if (!alloc) return;
        const std::size_t size = level == 0 ? recordSize : keySize + 4;
        if (size == 0) return;
        // The first leaf is usually the only one (a tree without index levels).
        if (level == 0 && records.empty()) records.reserve(alloc->size() / size);
        const ByteReader r(*alloc);
        for (std::size_t at = 0; at + size <= alloc->size(); at += size) {
            if (level == 0) {
                records.push_back(alloc->subspan(at, size));
            } else {
                const auto child = r.peekAt(at + keySize, 4);
                if (child && *child != 0) Level(static_cast<std::uint32_t>(*child), level - 1);
            }
        }
    }
};

}  // namespace

std::vector<std::span<const std::uint8_t>> ReadBthRecords(const HeapNode& heap, const BthHeader& header,
                                                          std::size_t recordSize) {
    BthWalk walk{heap, header.keySize, recordSize, {}, {}};
    if (header.root == 0) return {};
    // A level count beyond any real tree is damage; the root is read as leaves.
    const unsigned levels = header.indexLevels <= kMaxBthIndexLevels ? header.indexLevels : 0;
    walk.Level(header.root, levels);
    return std::move(walk.records);
}

}  // namespace bm
