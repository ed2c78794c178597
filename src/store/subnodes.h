// A node's subnodes: blocks addressed by a NID local to the node.
//
// A node's bidSub names its subnode block (internal, never encoded):
//   SLBLOCK  btype 2, cLevel 0, cEnt at 2; entries from offset 4 (ANSI, 12
//            bytes: nid, bidData, bidSub) or 8 (Unicode, 24 bytes, each
//            field 8 bytes of which the NID uses the low 4)
//   SIBLOCK  btype 2, cLevel 1, cEnt at 2; entries (ANSI 8, Unicode 16
//            bytes: nid, bid of an SLBLOCK) at the same offsets
// The list is flat: an SIBLOCK's SLBLOCKs follow one another in entry order,
// and a subnode with its own subnode block (an attachment of an embedded
// message) is followed directly by its nested subnodes. A local NID met at
// two levels is listed twice; FindSubnode returns the first.
//
// A subnode whose data block is not in the block table is left out; one
// whose nested block cannot be read keeps its own record. Nesting is bounded
// and a block met twice is not read again, so a damaged tree cannot loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "store/store_file.h"

namespace bm {

struct SubnodeEntry {
    std::uint32_t nid = 0;
    const BlockEntry* block = nullptr;         // the subnode's data
    const BlockEntry* subnodeBlock = nullptr;  // its own subnode block, if any
    std::uint32_t level = 0;                   // 0 for the node's own subnodes
};

class SubnodeList {
public:
    // Room for `count` records in all, so that a list filled from a known
    // count grows once.
    void Reserve(std::size_t count);
    void Append(const SubnodeEntry& entry);
    // The block of the first record with that NID, or nullptr.
    const BlockEntry* Find(std::uint32_t nid) const;
    // The first record with that NID, or nullptr.
    const SubnodeEntry* FindEntry(std::uint32_t nid) const;
    const std::vector<SubnodeEntry>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

private:
    struct FirstRecord {
        std::uint32_t nid = 0;
        std::size_t at = 0;  // index in entries_
    };

    // Sorts first_ by NID and keeps each NID's first record only.
    void Settle() const;

    std::vector<SubnodeEntry> entries_;
    // Where each NID's first record is, sorted by NID once settled. A
    // subnode block lists its NIDs in ascending order, so appending is
    // mostly a push at the end; a record out of that order (a damaged or
    // merged list) is pushed too, and the next lookup sorts the whole once
    // instead of each append shifting the rest.
    mutable std::vector<FirstRecord> first_;
    mutable bool settled_ = true;
};

// Deepest nesting of subnode blocks followed.
inline constexpr std::uint32_t kMaxSubnodeNesting = 32;

// Appends the subnodes under the subnode block `entry` to `list`; returns
// the number appended (0 for an unreadable or empty block).
std::size_t ReadSubnodes(StoreFile& store, const BlockEntry& entry, SubnodeList& list);
SubnodeList ReadSubnodes(StoreFile& store, const BlockEntry& entry);

const BlockEntry* FindSubnode(const SubnodeList& list, std::uint32_t nid);

}  // namespace bm
