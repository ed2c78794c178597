#include "output/pst/ltp_pc.h"

#include <stdexcept>
#include <string>

#include "common/byte_reader.h"
#include "output/pst/ltp_bth.h"

namespace bm::pst {

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
            if (v.bytes.size() != FixedValueSize(v.type)) {
                throw std::invalid_argument("property " + std::to_string(v.id) + " has a value of the wrong size");
            }
            for (std::size_t i = 0; i < v.bytes.size(); ++i) ref |= std::uint32_t{v.bytes[i]} << (8 * i);
        } else {
            ref = StoreValue(heap, v.bytes, sink);
        }
        PutLe(r.data.data() + 2, ref, 4);
        records.push_back(r);
    }
    heap.SetUserRoot(BuildBth(heap, 2, 6, std::move(records), header));
    return heap.Finish();
}

}  // namespace bm::pst
