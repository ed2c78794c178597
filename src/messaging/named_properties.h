// The name-to-ID map: what the property identifiers 0x8000 and above mean in
// one store.
//
// Node 0x61 is a property context whose PidTagNameidStreamEntry (id 3) holds
// 8-byte NAMEID records:
//   0 u32 dwPropertyID   the LID of a numeric name, or the offset of a
//                        string name in the string stream
//   4 u16 N/GUID word    bit 0 N (string name), bits 1-15 the GUID index
//   6 u16 wPropIdx       the property is 0x8000 + wPropIdx
// and PidTagNameidStreamString (id 4) the names: u32 length, then that many
// bytes of UTF-16LE text, at the offsets the records give. PidTagNameidStreamGuid
// (id 2) holds the property sets named by GUID index 3 and up, 16 bytes each
// (index 1 is PS_MAPI, 2 PS_PUBLIC_STRINGS). The item mapping tells named
// properties apart by LID alone; copying an item into another store needs
// the whole name: property set and LID or name.
//
// The map is kept with the store (StoreFile::namedPropertyMap) and consulted
// for every property record read afterwards.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "format/properties.h"
#include "store/store_file.h"

namespace bm {

enum class NamedKind : std::int32_t { Numeric = 1, String = 2 };

struct NamedPropertyEntry {
    std::uint32_t guidWord = 0;
    NamedKind kind = NamedKind::Numeric;
    std::uint32_t propertyId = 0;      // 0x8000 + wPropIdx
    std::uint32_t lid = 0;             // numeric names: the low 16 bits of dwPropertyID
    std::optional<std::string> name;   // string names: UTF-8, none when it cannot be located
    std::uint32_t dispid = 0;          // numeric names: the whole dwPropertyID
    std::optional<std::u16string> wideName;  // string names: the name as stored
    // The property set, when the GUID index names one that is known.
    std::optional<std::array<std::uint8_t, 16>> propertySet;
};

inline constexpr Guid kPsMapiGuid = propsets::kMapi;
inline constexpr Guid kPsPublicStringsGuid = propsets::kPublicStrings;

class NamedPropertyMap : public StoreExtension {
public:
    NamedPropertyMap() = default;
    // Entries in the order the entry stream holds them; they are kept
    // ascending by property identifier, and of equal identifiers the one
    // read last comes first.
    explicit NamedPropertyMap(std::vector<NamedPropertyEntry> streamOrder);
    // The first entry with that property identifier, or nullptr.
    const NamedPropertyEntry* Find(std::uint32_t propertyId) const;
    // Entries ascending by property identifier.
    const std::vector<NamedPropertyEntry>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    // Read from blocks that failed their checks: names may be missing or
    // wrong, and with them the named properties of every item.
    bool damaged = false;

private:
    std::vector<NamedPropertyEntry> entries_;
    std::unordered_map<std::uint32_t, std::size_t> first_;
};

// Builds the map from the entry, string and GUID streams (the bytes of ids
// 3, 4 and 2) and the hash buckets (ids 0x1000 and up). Every whole record
// is read; one whose N/GUID word is 0 names nothing and is passed over. A
// string name is looked for at the whole 32-bit offset its record gives,
// at its low 16 bits when the stream is shorter. A numeric name that only
// the buckets hold is taken from them. An entry whose GUID index lies past
// the GUID stream has no property set.
NamedPropertyMap BuildNamedPropertyMap(std::span<const std::uint8_t> entryStream,
                                       std::span<const std::uint8_t> stringStream,
                                       std::span<const std::uint8_t> guidStream = {},
                                       const std::vector<std::span<const std::uint8_t>>& bucketStreams = {});

// The map kept with the store, or nullptr before one was loaded.
const NamedPropertyMap* StoreNamedPropertyMap(const StoreFile& store);
// Whether the store's named properties cannot be trusted: its map was read
// from damaged blocks, or the store has a map node that could not be read.
bool NamedPropertyMapDamaged(const StoreFile& store);

// Reads node 0x61 and keeps its map with the store, replacing an earlier
// one. 1 when a map was built, 0 otherwise (no node, no data, no entry
// stream); the earlier map stays in that case.
int LoadNamedPropertyMap(StoreFile& store);

// A property name in UTF-16LE as UTF-8, ending at the first NUL unit.
std::string NarrowUtf16Name(std::span<const std::uint8_t> bytes);

inline constexpr std::uint32_t kNameToIdMapNid = 0x61;

}  // namespace bm
