#include "store/entry_id.h"

#include "common/byte_reader.h"
#include "store/nid_types.h"

namespace bm {

std::optional<std::uint32_t> FolderNidOfEntryId(std::span<const std::uint8_t> entryId) {
    if (entryId.size() != kStoreEntryIdSize) return std::nullopt;
    const auto nid = ByteReader(entryId).peekAt(kStoreEntryIdNidAt, 4);
    if (!nid || !IsFolderNid(static_cast<std::uint32_t>(*nid))) return std::nullopt;
    return static_cast<std::uint32_t>(*nid);
}

}  // namespace bm
