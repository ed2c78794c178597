#include "messaging/property_context.h"

#include <array>

#include "common/byte_reader.h"

namespace bm {

namespace {

constexpr std::uint16_t kPcBthWord = 0x02B5;  // bType 0xB5, cbKey 2
constexpr std::size_t kPcRecordSize = 8;

enum class ValueForm : std::uint8_t { Inline, Hnid, Unsupported };

// The multi-valued types only a whole copy of an item reads.
bool IsFurtherMultiValued(std::uint16_t type) {
    switch (type) {
        case 0x1002:  // 16-bit integers
        case 0x1004:  // floats
        case 0x1005:  // doubles
        case 0x1006:  // currency
        case 0x1007:  // application times
        case 0x101F:  // Unicode strings
        case 0x1040:  // times
        case 0x1048:  // GUIDs
            return true;
        default:
            return false;
    }
}

ValueForm FormOf(std::uint16_t type, bool everyType) {
    if (everyType && IsFurtherMultiValued(type)) return ValueForm::Hnid;
    switch (type) {
        case kPtShort:
        case kPtLong:
        case kPtBoolean:
        case kPtFloat:
        case kPtError:
            return ValueForm::Inline;
        case kPtDouble:
        case kPtCurrency:
        case kPtAppTime:
        case kPtI8:
        case kPtSysTime:
        case kPtClsid:
        case kPtString8:
        case kPtUnicode:
        case kPtBinary:
        case kPtMvLong:
        case kPtMvI8:
        case kPtMvString8:
        case kPtMvBinary:
        case kPtObject:
            return ValueForm::Hnid;
        default:
            return ValueForm::Unsupported;
    }
}

// Types whose empty value a store keeps as a reference of 0 (no heap
// allocation, no subnode).
bool IsEmptyable(std::uint16_t type) { return type == kPtString8 || type == kPtUnicode || type == kPtBinary; }

Bytes Concatenate(const HeapBlocks& blocks) {
    Bytes out;
    std::size_t total = 0;
    for (const auto& b : blocks) total += b.size();
    out.reserve(total);
    for (const auto& b : blocks) out.insert(out.end(), b.begin(), b.end());
    return out;
}

// The data of a subnode as one value; an empty result when unreadable.
Bytes SubnodeValue(const PropertyReadContext& ctx, std::uint32_t nid) {
    if (!ctx.subnodes) return {};
    auto blocks = ctx.subnodes(nid);
    if (!blocks) return {};
    if (blocks->size() == 1) return std::move(blocks->front());  // no copy for a value of one block
    return Concatenate(*blocks);
}

// Fills the value from a subnode; without data, the type carries the NID.
void FromSubnode(PropertyValue& v, const PropertyReadContext& ctx, std::uint32_t nid) {
    Bytes data = SubnodeValue(ctx, nid);
    if (data.empty()) {
        v.data.reset();
        v.size = 0;
        v.type = nid;
        return;
    }
    v.size = static_cast<std::uint32_t>(data.size());
    v.data = std::move(data);
}

constexpr std::uint16_t kPtMvUnicode = 0x101F;

// A multi-valued value of variable-size elements: the count, then as many
// offsets, each inside the value and none below the one before.
bool ElementsFit(const Bytes& data) {
    const ByteReader r(data);
    const auto count = r.peekAt(0, 4);
    if (!count || *count > (data.size() - 4) / 4) return false;
    std::uint64_t previous = 4 + 4 * *count;
    for (std::size_t i = 0; i < *count; ++i) {
        const std::uint64_t at = r.peekAt(4 + 4 * i, 4).value_or(0);
        if (at < previous || at > data.size()) return false;
        previous = at;
    }
    return true;
}

// Whether a value read through a heap reference or a subnode holds its own
// checks (see ConvertPropertyRecord).
bool ValueHoldsItsChecks(std::uint16_t type, const Bytes& data) {
    switch (type) {
        case kPtDouble:
        case kPtCurrency:
        case kPtAppTime:
        case kPtI8:
            return data.size() >= 8;
        case kPtSysTime:
            return data.size() >= 8 && (data[7] & 0x80) == 0;
        case kPtClsid:
            return data.size() >= 16;
        case kPtMvLong:
            return data.size() % 4 == 0;
        case kPtMvI8:
            return data.size() % 8 == 0;
        case kPtMvString8:
        case kPtMvBinary:
        case kPtMvUnicode:
            return ElementsFit(data);
        default:
            return true;
    }
}

std::nullopt_t Dropped(const PropertyReadContext& ctx) {
    if (ctx.valuesDropped != nullptr) ++*ctx.valuesDropped;
    return std::nullopt;
}

}  // namespace

std::uint32_t TranslatePropertyId(const NamedPropertyMap* names, std::uint16_t propId, PropertyValue& value) {
    if (names == nullptr) return propId;
    const NamedPropertyEntry* entry = names->Find(propId);
    if (entry == nullptr) return propId;
    if (entry->kind == NamedKind::Numeric) {
        value.numericNamed = true;
        return entry->lid;
    }
    if (entry->name) value.name = *entry->name;
    value.stringNamed = true;
    return kStringNamedId;
}

std::optional<PropertyValue> ConvertPropertyRecord(const HeapNode& heap, const PropertyReadContext& ctx,
                                                   std::uint16_t propId, std::uint16_t propType,
                                                   std::span<const std::uint8_t> field) {
    PropertyValue v;
    v.id = TranslatePropertyId(ctx.names, propId, v);
    const auto raw = ByteReader(field).peekAt(0, 4);
    if (!raw) return std::nullopt;
    const auto hnid = static_cast<std::uint32_t>(*raw);

    switch (FormOf(propType, ctx.everyType)) {
        case ValueForm::Unsupported:
            return v;  // listed with type 0 and no data
        case ValueForm::Inline:
            v.data = Bytes(field.begin(), field.begin() + 4);
            v.size = 4;
            break;
        case ValueForm::Hnid:
            if (hnid == 0) {
                if (!ctx.keepEmptyValues || !IsEmptyable(propType)) return std::nullopt;
                v.data = Bytes{};
                v.size = 0;
                break;
            }
            if ((hnid & 0x1F) != 0) {
                FromSubnode(v, ctx, hnid);
                if (!v.hasData()) return v;
                if (!ValueHoldsItsChecks(propType, *v.data)) return Dropped(ctx);
            } else {
                const auto alloc = heap.Allocation(hnid);
                if (!alloc) return Dropped(ctx);
                v.data = Bytes(alloc->begin(), alloc->end());
                v.size = static_cast<std::uint32_t>(alloc->size());
                if (!ValueHoldsItsChecks(propType, *v.data)) return Dropped(ctx);
                if (propType == kPtObject) {
                    // The heap holds the NID of the subnode with the object.
                    const auto nid = ByteReader(*alloc).peekAt(0, 4);
                    if (nid) {
                        FromSubnode(v, ctx, static_cast<std::uint32_t>(*nid));
                        if (!v.hasData()) return v;
                    }
                }
            }
            break;
    }
    if (v.type == 0) v.type = propType;
    return v;
}

std::optional<std::vector<PcRecord>> ReadPcRecords(const HeapNode& heap) {
    if (heap.clientSignature() != kPropertyContextSig) return std::nullopt;
    const auto header = ReadBthHeader(heap, heap.userRoot());
    if (!header || (header->type | (header->keySize << 8)) != kPcBthWord) return std::nullopt;
    const auto records = ReadBthRecords(heap, *header, kPcRecordSize);
    std::vector<PcRecord> out;
    out.reserve(records.size());
    for (const auto record : records) {
        const ByteReader r(record);
        out.push_back({static_cast<std::uint16_t>(r.peekAt(0, 2).value_or(0)),
                       static_cast<std::uint16_t>(r.peekAt(2, 2).value_or(0)),
                       static_cast<std::uint32_t>(r.peekAt(4, 4).value_or(0))});
    }
    return out;
}

std::optional<PropertyList> ReadPropertyContext(const HeapNode& heap, const PropertyReadContext& ctx) {
    const auto records = ReadPcRecords(heap);
    if (!records) return std::nullopt;
    PropertyList list;
    list.rowCount = 1;
    PropertyChunk& chunk = list.chunks.emplace_back();
    chunk.entries.reserve(records->size());
    for (const PcRecord& record : *records) {
        const std::array<std::uint8_t, 4> field{static_cast<std::uint8_t>(record.value),
                                                static_cast<std::uint8_t>(record.value >> 8),
                                                static_cast<std::uint8_t>(record.value >> 16),
                                                static_cast<std::uint8_t>(record.value >> 24)};
        auto value = ConvertPropertyRecord(heap, ctx, record.id, record.type, field);
        if (value) chunk.entries.push_back(std::move(*value));
    }
    return list;
}

std::optional<PropertyList> ReadPropertyObject(const HeapNode& heap, const PropertyReadContext& ctx) {
    switch (heap.clientSignature()) {
        case kPropertyContextSig:
            return ReadPropertyContext(heap, ctx);
        case kTableContextSig:
            return ReadTableContext(heap, ctx);
        default:
            return std::nullopt;
    }
}

}  // namespace bm
