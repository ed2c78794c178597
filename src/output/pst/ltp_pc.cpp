#include "output/pst/ltp_pc.h"

#include <optional>
#include <stdexcept>
#include <string>

#include "common/byte_reader.h"
#include "output/pst/ltp_bth.h"

namespace bm::pst {

namespace {

constexpr std::uint16_t kDisplayNameId = 0x3001;

// Whether an empty value is written as the mail client writes it in a
// property context: a reference of 0, no heap allocation. A display name
// keeps its (empty) allocation: validators take a folder name of 0 for no
// name at all. Table cells always refer to an allocation: validators reject
// a cell whose reference is 0.
bool EmptyAsZeroReference(const PcValue& v) {
    return v.stored().empty() && v.id != kDisplayNameId &&
           (v.type == PropType::Unicode || v.type == PropType::String8 || v.type == PropType::Binary);
}

}  // namespace

std::uint32_t StoreValue(HeapBuilder& heap, std::span<const std::uint8_t> bytes, const LargeValueSink& sink) {
    if (bytes.size() <= kMaxHeapAllocation) return heap.Allocate(bytes);
    if (!sink) throw std::length_error("value of " + std::to_string(bytes.size()) + " bytes needs a subnode");
    return sink(bytes);
}

std::vector<PcValue> PcValuesOf(const PropertyBag& bag) {
    std::vector<PcValue> values;
    values.reserve(bag.size());
    for (const auto& p : bag.properties()) {
        if (p.key.isNamed()) throw std::invalid_argument("a named property needs the name-to-ID map");
        values.push_back({p.key.id, p.type, p.bytes, std::nullopt});
    }
    return values;
}

std::vector<std::vector<std::uint8_t>> BuildPropertyContext(const std::vector<PcValue>& values,
                                                            const LargeValueSink& sink) {
    HeapBuilder heap(HeapClient::PropertyContext);
    // The BTH header goes first so the client root is the heap's first HID;
    // the records are filled in once every value has its place.
    const Hid header = ReserveBthHeader(heap);
    std::vector<BthRecord> records;
    records.reserve(values.size());
    for (const PcValue& v : values) {
        BthRecord r;
        r.key = v.id;
        PutLe(r.data.data(), static_cast<std::uint16_t>(v.type), 2);
        std::uint32_t ref = 0;
        if (v.subnode) {
            ref = *v.subnode;
        } else if (IsStoredInline(v.type)) {
            const std::span<const std::uint8_t> bytes = v.stored();
            if (bytes.size() != FixedValueSize(v.type)) {
                throw std::invalid_argument("property " + std::to_string(v.id) + " has a value of the wrong size");
            }
            for (std::size_t i = 0; i < bytes.size(); ++i) ref |= std::uint32_t{bytes[i]} << (8 * i);
        } else if (!EmptyAsZeroReference(v)) {
            ref = StoreValue(heap, v.stored(), sink);
        }
        PutLe(r.data.data() + 2, ref, 4);
        records.push_back(r);
    }
    heap.SetUserRoot(BuildBth(heap, 2, 6, std::move(records), header));
    return heap.Finish();
}

namespace {

// The span of allocation `hid` in the heap blocks (HID: block index in the
// upper 16 bits, 1-based index in bits 5 to 15).
std::span<std::uint8_t> AllocationOf(std::vector<std::vector<std::uint8_t>>& heap, std::uint32_t hid) {
    const std::size_t block = hid >> 16;
    const std::size_t index = (hid >> 5) & 0x7FF;
    if (block >= heap.size() || index == 0) throw std::invalid_argument("not a HID of this heap");
    std::vector<std::uint8_t>& bytes = heap[block];
    const ByteReader r(bytes);
    const auto pageMap = r.peekAt(0, 2);
    const auto start = pageMap ? r.peekAt(*pageMap + 4 + 2 * (index - 1), 2) : std::nullopt;
    const auto end = pageMap ? r.peekAt(*pageMap + 4 + 2 * index, 2) : std::nullopt;
    if (!start || !end || *end < *start || *end > bytes.size()) throw std::invalid_argument("not a HID of this heap");
    return std::span(bytes).subspan(*start, *end - *start);
}

}  // namespace

void SetInlineValue(std::vector<std::vector<std::uint8_t>>& heap, std::uint16_t id, std::uint32_t value) {
    constexpr std::size_t kKey = 2, kLeafRecord = 8, kIndexRecord = 6;
    if (heap.empty()) throw std::invalid_argument("no property context");
    const auto root = ByteReader(heap.front()).peekAt(4, 4);
    if (!root) throw std::invalid_argument("no property context");
    const ByteReader header(AllocationOf(heap, static_cast<std::uint32_t>(*root)));
    const auto levels = header.peekAt(3, 1);
    auto node = header.peekAt(4, 4);
    if (!levels || !node) throw std::invalid_argument("no property context");
    // Down the index levels: the last child whose first key is not above id.
    for (std::uint64_t level = *levels; level > 0; --level) {
        const ByteReader index(AllocationOf(heap, static_cast<std::uint32_t>(*node)));
        std::optional<std::uint64_t> child;
        for (std::size_t at = 0; at + kIndexRecord <= index.size(); at += kIndexRecord) {
            if (*index.peekAt(at, kKey) > id) break;
            child = index.peekAt(at + kKey, 4);
        }
        if (!child) throw std::invalid_argument("property " + std::to_string(id) + " is not in the context");
        node = child;
    }
    const std::span<std::uint8_t> leaf = AllocationOf(heap, static_cast<std::uint32_t>(*node));
    for (std::size_t at = 0; at + kLeafRecord <= leaf.size(); at += kLeafRecord) {
        if (ByteReader(leaf).peekAt(at, kKey) != id) continue;
        const auto type = static_cast<PropType>(*ByteReader(leaf).peekAt(at + kKey, 2));
        if (!IsStoredInline(type)) throw std::invalid_argument("property " + std::to_string(id) + " is not inline");
        PutLe(leaf.data() + at + 4, value, 4);
        return;
    }
    throw std::invalid_argument("property " + std::to_string(id) + " is not in the context");
}

}  // namespace bm::pst
