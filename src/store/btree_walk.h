// Walking the two index B-trees into the block table and the node forest.
//
// Page metadata (entry count, level, trailer) is not trusted. A page at
// depth d is a leaf when d equals the tree's leaf depth, which starts
// unknown: until a leaf entry has been accepted every page is tried as an
// inner page, and an inner page whose child is rejected concludes that it is
// itself a leaf, fixes the leaf depth at its own depth and is walked again.
// Once the walk has its bearings a rejected child is skipped and counted.
//
// Which entry slots of a page are used is decided by the keys:
//   inner page   the first key must equal the key the parent expects; the
//                walk stops at a zero key, at the end of the read, and (BBT)
//                at a key at or above the bound the parent hands down
//   BBT leaf     stops at BID 0, after `limit` entries, or at a BID below
//                the previous one (equal BIDs in a row are all taken)
//   NBT leaf     at most `limit` slots; stops at a NID at or above the bound
//                or not above the previous one; NID 0 is skipped
// The first entry of the BBT must be BID 4 and of the NBT NID 0x21 when the
// root itself turns out to be a leaf. Keys are compared as unsigned values
// of their full width; "no key" and "no bound" are std::nullopt, so no valid
// BID or NID is cut off by a sentinel.
//
// A page met a second time in the same walk (a loop or a shared child in a
// damaged tree) is rejected, so every page is read a bounded number of times.
#pragma once

#include <cstdint>
#include <optional>

#include "store/store_file.h"
#include "store/store_reader.h"

namespace bm {

using TreeKey = std::optional<std::uint64_t>;

inline constexpr int kWalkRejected = -1;
inline constexpr int kWalkNodeLeafDone = 0;  // also: the node walk was cancelled
inline constexpr int kWalkBlockLeafDone = 2;
inline constexpr int kWalkInnerDone = 3;
inline constexpr int kWalkLeafDepthFound = 4;  // walk this page again as a leaf

inline constexpr std::uint64_t kFirstStoreBid = 4;
inline constexpr std::uint32_t kMessageStoreNid = 0x21;

// Walks the BBT and then the NBT into the tables (appending and merging into
// what they hold), then settles the encoding method. 0, or 2 when a root
// page cannot be used.
int BuildIndexes(StoreFile& store, StoreReader& reader);

int WalkBlockTree(StoreFile& store, StoreReader& reader, std::uint64_t offset, unsigned depth, TreeKey expected,
                  TreeKey upper);
int WalkNodeTree(StoreFile& store, StoreReader& reader, std::uint64_t offset, unsigned depth, TreeKey expected,
                 TreeKey upper);

// Chooses the method data blocks are decoded with: permutation, unless the
// message store's heap does not show its signature under it and the header
// names none (0) or cyclic (2), in which case the header's method holds.
// When the message store's data cannot be read, the first other node whose
// data block can be read is the evidence instead.
void SettleCryptMethod(StoreFile& store);

}  // namespace bm
