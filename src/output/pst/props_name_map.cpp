#include "output/pst/props_name_map.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "output/pst/props_tags.h"

namespace bm::pst {

namespace {
constexpr std::uint16_t kFirstNamedId = 0x8000;
constexpr std::uint16_t kGuidIndexMapi = 1;
constexpr std::uint16_t kGuidIndexPublicStrings = 2;
constexpr std::uint16_t kFirstStreamGuidIndex = 3;

void Append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    const std::size_t at = out.size();
    out.resize(at + 4);
    PutLe(out.data() + at, v, 4);
}

void AppendEntry(std::vector<std::uint8_t>& out, std::uint32_t first, std::uint16_t guidField, std::uint16_t index) {
    Append32(out, first);
    const std::size_t at = out.size();
    out.resize(at + 4);
    PutLe(out.data() + at, guidField, 2);
    PutLe(out.data() + at + 2, index, 2);
}
}  // namespace

std::uint16_t NameToIdMap::GuidIndex(const Guid& guid) {
    if (guid == propsets::kMapi) return kGuidIndexMapi;
    if (guid == propsets::kPublicStrings) return kGuidIndexPublicStrings;
    auto it = std::find(guids_.begin(), guids_.end(), guid);
    if (it == guids_.end()) {
        guids_.push_back(guid);
        it = guids_.end() - 1;
    }
    return static_cast<std::uint16_t>(kFirstStreamGuidIndex + (it - guids_.begin()));
}

// String names are one name whatever their case: the mail client treats
// two ids for "Content-Type" and "Content-type" as a damaged store. The map
// is keyed by the name folded to lower case (ASCII and Latin-1 letters,
// the letters mail headers and client-defined names use).
PropKey NameToIdMap::Folded(const PropKey& key) {
    PropKey folded = key;
    if (auto* name = std::get_if<std::u16string>(&folded.name)) {
        for (char16_t& c : *name) {
            if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c = static_cast<char16_t>(c + 0x20);
        }
    }
    return folded;
}

std::uint16_t NameToIdMap::IdOf(const PropKey& original) {
    if (!original.isNamed()) throw std::invalid_argument("not a named property");
    const PropKey key = Folded(original);
    if (auto it = ids_.find(key); it != ids_.end()) return it->second;
    if (entries_.size() >= 0x7FFF) throw std::length_error("the store's named property ids are used up");
    const std::uint16_t guidIndex = GuidIndex(key.propertySet);
    Entry e{};
    e.index = static_cast<std::uint16_t>(entries_.size());
    if (const auto* lid = std::get_if<std::uint32_t>(&key.name)) {
        e.idOrOffset = *lid;
        e.guidField = static_cast<std::uint16_t>(guidIndex << 1);
        e.hashKey = *lid;
    } else {
        const auto& name = std::get<std::u16string>(original.name);
        std::vector<std::uint8_t> utf16(name.size() * 2);
        for (std::size_t i = 0; i < name.size(); ++i) PutLe(utf16.data() + 2 * i, name[i], 2);
        while (strings_.size() % 4 != 0) strings_.push_back(0);
        e.idOrOffset = static_cast<std::uint32_t>(strings_.size());
        Append32(strings_, static_cast<std::uint32_t>(utf16.size()));
        strings_.insert(strings_.end(), utf16.begin(), utf16.end());
        e.guidField = static_cast<std::uint16_t>((guidIndex << 1) | 1);
        e.hashKey = ComputeCrc(utf16);
    }
    entries_.push_back(e);
    const auto id = static_cast<std::uint16_t>(kFirstNamedId + e.index);
    ids_.emplace(key, id);
    return id;
}

std::vector<PcValue> NameToIdMap::PropertyValues() const {
    std::vector<PcValue> values;
    std::vector<std::uint8_t> count(4);
    PutLe(count.data(), kBucketCount, 4);
    values.push_back({0x0001, PropType::Int32, count, std::nullopt});
    std::vector<std::uint8_t> guids;
    for (const auto& g : guids_) guids.insert(guids.end(), g.begin(), g.end());
    values.push_back({0x0002, PropType::Binary, std::move(guids), std::nullopt});
    std::vector<std::uint8_t> stream;
    std::map<std::uint32_t, std::vector<std::uint8_t>> buckets;
    for (const auto& e : entries_) {
        AppendEntry(stream, e.idOrOffset, e.guidField, e.index);
        AppendEntry(buckets[(e.hashKey ^ e.guidField) % kBucketCount], e.hashKey, e.guidField, e.index);
    }
    values.push_back({0x0003, PropType::Binary, std::move(stream), std::nullopt});
    values.push_back({0x0004, PropType::Binary, strings_, std::nullopt});
    for (auto& [bucket, bytes] : buckets) {
        values.push_back({static_cast<std::uint16_t>(0x1000 + bucket), PropType::Binary, std::move(bytes), std::nullopt});
    }
    return values;
}

}  // namespace bm::pst
