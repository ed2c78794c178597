// The node types a NID carries in its low five bits, as the reader and its
// checks need them.
#pragma once

#include <cstdint>

namespace bm {

inline constexpr std::uint32_t kNidTypeMask = 0x1F;
inline constexpr std::uint32_t kNidTypeNormalFolder = 0x02;
inline constexpr std::uint32_t kNidTypeSearchFolder = 0x03;
inline constexpr std::uint32_t kNidTypeNormalMessage = 0x04;
inline constexpr std::uint32_t kNidTypeAttachment = 0x05;
inline constexpr std::uint32_t kNidTypeAssociatedMessage = 0x08;
inline constexpr std::uint32_t kNidTypeHierarchyTable = 0x0D;
inline constexpr std::uint32_t kNidTypeContentsTable = 0x0E;

constexpr std::uint32_t NidTypeOf(std::uint32_t nid) { return nid & kNidTypeMask; }
constexpr bool IsNormalFolderNid(std::uint32_t nid) { return NidTypeOf(nid) == kNidTypeNormalFolder; }
constexpr bool IsNormalMessageNid(std::uint32_t nid) { return NidTypeOf(nid) == kNidTypeNormalMessage; }
// A folder of either kind: normal or search.
constexpr bool IsFolderNid(std::uint32_t nid) {
    return IsNormalFolderNid(nid) || NidTypeOf(nid) == kNidTypeSearchFolder;
}

}  // namespace bm
