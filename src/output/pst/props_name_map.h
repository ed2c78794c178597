// The store's name-to-ID map: gives each named property (property set and a
// numeric id or a name) a property id from 0x8000 up, and renders the map's
// property context:
//
//   0x0001 bucket count (251)
//   0x0002 GUID stream: the property sets other than PS_MAPI and
//          PS_PUBLIC_STRINGS, 16 bytes each
//   0x0003 entry stream: 8 bytes per named property, in id order: the
//          numeric id or the name's offset in the string stream, then
//          (GUID index << 1 | is-name), then the id minus 0x8000
//   0x0004 string stream: per name a 4-byte byte count and the UTF-16LE
//          name, each entry starting at a multiple of 4
//   0x1000 + n  hash bucket n: the entries whose (numeric id, or the CRC of
//          the name, XOR the GUID field) modulo 251 is n, with the CRC in
//          place of the string offset
//
// GUID index 1 is PS_MAPI, 2 PS_PUBLIC_STRINGS, 3 and up the GUID stream.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "output/pst/ltp_pc.h"
#include "output/pst/props.h"

namespace bm::pst {

class NameToIdMap {
public:
    static constexpr std::uint32_t kBucketCount = 251;

    // The property id of a named property, assigning the next free one the
    // first time; string names that differ only in case share one id. Throws std::length_error when all 0x7FFF ids are taken,
    // std::invalid_argument for a key that is not named.
    std::uint16_t IdOf(const PropKey& key);

    std::size_t size() const { return entries_.size(); }

    // The property values of the map's property context.
    std::vector<PcValue> PropertyValues() const;

private:
    struct Entry {
        std::uint32_t idOrOffset;
        std::uint16_t guidField;
        std::uint16_t index;
        std::uint32_t hashKey;  // the numeric id or the name's CRC
    };
    std::uint16_t GuidIndex(const Guid& guid);
    static PropKey Folded(const PropKey& key);

    std::vector<Guid> guids_;
    std::vector<Entry> entries_;
    std::vector<std::uint8_t> strings_;
    std::unordered_map<PropKey, std::uint16_t, PropKeyHash> ids_;
};

}  // namespace bm::pst
