#include "messaging/named_properties.h"

#include <algorithm>
#include <utility>
#include <unordered_set>

#include "common/byte_reader.h"
#include "common/utf.h"
#include "messaging/property_reader.h"
#include "store/content_damage.h"
#include "store/tables.h"

namespace bm {

namespace {

constexpr std::size_t kNameIdRecordSize = 8;
constexpr std::uint32_t kGuidStreamId = 2;
constexpr std::uint32_t kEntryStreamId = 3;
constexpr std::uint32_t kStringStreamId = 4;
// PidTagNameidBucketBase: the hash buckets are ids 0x1000 and up.
constexpr std::uint32_t kFirstBucketId = 0x1000;
constexpr std::uint32_t kLastBucketId = 0x1FFF;

// Where a string name starts in the string stream: at dwPropertyID, the
// whole 32-bit offset, when the stream reaches that far (a stream past
// 64 KiB has names beyond the low 16 bits), else at its low 16 bits.
std::size_t StringNameOffset(std::uint32_t propertyId, std::size_t streamSize) {
    if (static_cast<std::size_t>(propertyId) + 4 <= streamSize) return propertyId;
    return propertyId & 0xFFFF;
}

// The property set a GUID index names, when known.
std::optional<std::array<std::uint8_t, 16>> PropertySetOf(std::size_t guidIndex,
                                                          std::span<const std::uint8_t> guidStream) {
    if (guidIndex == 1) return kPsMapiGuid;
    if (guidIndex == 2) return kPsPublicStringsGuid;
    if (guidIndex < 3 || (guidIndex - 3) * 16 + 16 > guidStream.size()) return std::nullopt;
    std::array<std::uint8_t, 16> g{};
    std::copy_n(guidStream.begin() + static_cast<std::ptrdiff_t>((guidIndex - 3) * 16), 16, g.begin());
    return g;
}

// The hash buckets repeat every record of the entry stream. A numeric name
// the entry stream lacks (a stream cut short or overwritten) is taken from
// them; a string name is not, as a bucket holds only its hash.
void AddBucketNumericNames(const std::vector<std::span<const std::uint8_t>>& buckets,
                           std::span<const std::uint8_t> guidStream, std::vector<NamedPropertyEntry>& entries) {
    if (buckets.empty()) return;
    std::unordered_set<std::uint32_t> known;
    for (const NamedPropertyEntry& e : entries) known.insert(e.propertyId);
    for (const auto bucket : buckets) {
        ByteReader records(bucket);
        while (records.canRead(kNameIdRecordSize)) {
            const std::uint32_t propertyId = records.readU32();
            const std::uint16_t guidWord = records.readU16();
            const std::uint16_t propIdx = records.readU16();
            if (guidWord == 0 || (guidWord & 1) != 0) continue;
            NamedPropertyEntry e;
            e.guidWord = guidWord;
            e.propertyId = 0x8000u + propIdx;
            if (!known.insert(e.propertyId).second) continue;
            e.kind = NamedKind::Numeric;
            e.lid = propertyId & 0xFFFF;
            e.dispid = propertyId;
            e.propertySet = PropertySetOf(guidWord >> 1, guidStream);
            entries.push_back(std::move(e));
        }
    }
}

}  // namespace

NamedPropertyMap::NamedPropertyMap(std::vector<NamedPropertyEntry> streamOrder) {
    // Sorting the reversed stream stably keeps, among equal identifiers,
    // the one read last in front.
    std::reverse(streamOrder.begin(), streamOrder.end());
    std::stable_sort(streamOrder.begin(), streamOrder.end(),
                     [](const NamedPropertyEntry& a, const NamedPropertyEntry& b) { return a.propertyId < b.propertyId; });
    entries_ = std::move(streamOrder);
    first_.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) first_.try_emplace(entries_[i].propertyId, i);
}

const NamedPropertyEntry* NamedPropertyMap::Find(std::uint32_t propertyId) const {
    const auto it = first_.find(propertyId);
    return it == first_.end() ? nullptr : &entries_[it->second];
}

std::string NarrowUtf16Name(std::span<const std::uint8_t> bytes) { return Utf16LeToUtf8(bytes); }

NamedPropertyMap BuildNamedPropertyMap(std::span<const std::uint8_t> entryStream,
                                       std::span<const std::uint8_t> stringStream,
                                       std::span<const std::uint8_t> guidStream,
                                       const std::vector<std::span<const std::uint8_t>>& bucketStreams) {
    std::vector<NamedPropertyEntry> entries;
    ByteReader records(entryStream);
    const ByteReader strings(stringStream);
    while (records.canRead(kNameIdRecordSize)) {
        const std::uint32_t propertyId = records.readU32();
        const std::uint16_t guidWord = records.readU16();
        const std::uint16_t propIdx = records.readU16();
        // A record without N bit and GUID index names nothing; some writers
        // leave one among the others, so it is passed over rather than
        // taken as the stream's end.
        if (guidWord == 0) continue;
        NamedPropertyEntry e;
        e.guidWord = guidWord;
        e.propertyId = 0x8000u + propIdx;
        e.propertySet = PropertySetOf(guidWord >> 1, guidStream);
        if (guidWord & 1) {
            e.kind = NamedKind::String;
            const std::size_t offset = StringNameOffset(propertyId, stringStream.size());
            if (const auto length = strings.peekAt(offset, 4)) {
                // The length was readable, so the name starts inside the stream.
                const std::size_t from = offset + 4;
                const std::size_t n = std::min<std::size_t>(*length, stringStream.size() - from);
                const auto bytes = stringStream.subspan(from, n);
                e.name = NarrowUtf16Name(bytes);
                std::u16string wide;
                wide.reserve(bytes.size() / 2);
                for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
                    wide.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
                e.wideName = std::move(wide);
            }
        } else {
            e.kind = NamedKind::Numeric;
            e.lid = propertyId & 0xFFFF;
            e.dispid = propertyId;
        }
        entries.push_back(std::move(e));
    }
    AddBucketNumericNames(bucketStreams, guidStream, entries);
    return NamedPropertyMap(std::move(entries));
}

const NamedPropertyMap* StoreNamedPropertyMap(const StoreFile& store) {
    return dynamic_cast<const NamedPropertyMap*>(store.namedPropertyMap.get());
}

namespace {

// Reads the map of node 0x61 into the store; 1 when one was built.
int LoadMap(StoreFile& store, const NodeEntry& node) {
    SubnodeList subnodes;
    if (node.subnodeBlock() != nullptr) ReadSubnodes(store, *node.subnodeBlock(), subnodes);
    // The map itself is read without translation: its ids are below 0x8000.
    auto blocks = ReadNodeBlocks(store, *node.dataBlock());
    if (!blocks) return 0;
    const auto heap = HeapNode::Open(std::move(*blocks), HidLayoutFor(store));
    if (!heap) return 0;
    PropertyReadContext ctx;
    ctx.subnodes = MakeSubnodeDataReader(store, &subnodes);
    const auto list = ReadPropertyContext(*heap, ctx);
    if (!list || list->chunks.empty()) return 0;

    const Bytes* entryStream = nullptr;
    const Bytes* stringStream = nullptr;
    const Bytes* guidStream = nullptr;
    std::vector<std::span<const std::uint8_t>> buckets;
    for (const PropertyValue& v : list->chunks.front().entries) {
        if (v.id == kEntryStreamId && v.hasData() && entryStream == nullptr) entryStream = &*v.data;
        if (v.id == kStringStreamId && v.hasData() && stringStream == nullptr) stringStream = &*v.data;
        if (v.id == kGuidStreamId && v.hasData() && guidStream == nullptr) guidStream = &*v.data;
        if (v.id >= kFirstBucketId && v.id <= kLastBucketId && v.hasData()) buckets.emplace_back(*v.data);
    }
    if (entryStream == nullptr) return 0;
    const Bytes noStrings;
    store.namedPropertyMap = std::make_unique<NamedPropertyMap>(
        BuildNamedPropertyMap(*entryStream, stringStream != nullptr ? *stringStream : noStrings,
                              guidStream != nullptr ? *guidStream : noStrings, buckets));
    return 1;
}

}  // namespace

bool NamedPropertyMapDamaged(const StoreFile& store) {
    if (const NamedPropertyMap* map = StoreNamedPropertyMap(store)) return map->damaged;
    const NodeEntry* node = FindNode(store, kNameToIdMapNid);
    return node != nullptr && node->bidData() != 0;
}

int LoadNamedPropertyMap(StoreFile& store) {
    const NodeEntry* node = FindNode(store, kNameToIdMapNid);
    if (node == nullptr || node->dataBlock() == nullptr) return 0;
    // The map's own account of its blocks, apart from any item's.
    ContentDamage mapDamage;
    ContentDamage* const itemDamage = std::exchange(store.contentDamage, &mapDamage);
    const int built = LoadMap(store, *node);
    store.contentDamage = itemDamage;
    if (built != 0 && !mapDamage.empty()) dynamic_cast<NamedPropertyMap&>(*store.namedPropertyMap).damaged = true;
    return built;
}

}  // namespace bm
