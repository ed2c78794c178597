// The node types a NID carries in its low five bits, as the reader and its
// checks name them (the format's words are in format/ndb.h).
#pragma once

#include <cstdint>

#include "format/ndb.h"

namespace bm {

inline constexpr std::uint32_t kNidTypeNormalFolder = NidTypeValue(NidType::NormalFolder);
inline constexpr std::uint32_t kNidTypeSearchFolder = NidTypeValue(NidType::SearchFolder);
inline constexpr std::uint32_t kNidTypeNormalMessage = NidTypeValue(NidType::NormalMessage);
inline constexpr std::uint32_t kNidTypeAttachment = NidTypeValue(NidType::Attachment);
inline constexpr std::uint32_t kNidTypeAssociatedMessage = NidTypeValue(NidType::AssocMessage);
inline constexpr std::uint32_t kNidTypeHierarchyTable = NidTypeValue(NidType::HierarchyTable);
inline constexpr std::uint32_t kNidTypeContentsTable = NidTypeValue(NidType::ContentsTable);

constexpr std::uint32_t NidTypeOf(std::uint32_t nid) { return nid & kNidTypeMask; }
constexpr bool IsNormalFolderNid(std::uint32_t nid) { return NidTypeOf(nid) == kNidTypeNormalFolder; }
constexpr bool IsNormalMessageNid(std::uint32_t nid) { return NidTypeOf(nid) == kNidTypeNormalMessage; }
// A folder's associated (hidden) item: a view, a rule, a setting.
constexpr bool IsAssociatedMessageNid(std::uint32_t nid) { return NidTypeOf(nid) == kNidTypeAssociatedMessage; }
// A folder of either kind: normal or search.
constexpr bool IsFolderNid(std::uint32_t nid) {
    return IsNormalFolderNid(nid) || NidTypeOf(nid) == kNidTypeSearchFolder;
}

}  // namespace bm
