// An entry id of an object in this store: 4 flag bytes, the store's 16-byte
// record key, then the object's node id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace bm {

inline constexpr std::size_t kStoreEntryIdSize = 24;
inline constexpr std::size_t kStoreEntryIdNidAt = 20;

// The folder (normal or search) the entry id names; nullopt for a value of
// another size or one naming no folder.
std::optional<std::uint32_t> FolderNidOfEntryId(std::span<const std::uint8_t> entryId);

}  // namespace bm
