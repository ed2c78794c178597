// The two in-memory tables built from a store's index B-trees.
//
// Block table: every BBT leaf entry in the order the walk met it (ascending
// BID within a leaf page, leaf pages in tree order). Duplicates are kept
// (a BID repeated in a page, or a whole second build appended); a lookup
// returns the entry appended first, preferring entries read from the live
// slots of a page: the walk also tries the slots past a page's own entry
// count, which after a page split hold stale copies of entries that live on
// a later page (often with an offset that is no longer valid). Such copies
// are found only when no live entry has that BID. Entries never move once appended, so
// node and subnode records point at them for the life of the table.
//
// Node forest: every NBT leaf entry becomes one NodeEntry, hung under the
// record of its nidParent, children in placement order. A record whose
// nidParent is 0 or itself (the root folder) is top level; top-level records
// are linked from first() (oldest) to last() (newest). A NID occurs once: a
// NID placed again updates its record and moves it when its parent changed.
//
// Orphans: a record whose parent has not been placed yet waits (pending) and
// is adopted as soon as a record with that NID is placed, on this leaf page
// or a later one. Records that no parent ever claimed stay reachable through
// Orphans() and FindNode, so later work can still offer them as recovered
// items. The forest never holds a cycle.
//
// Both tables are indexed by hash maps; lookups are O(1) and give the same
// first-match results as a scan in walk order (blocks) or pre-order (nodes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <unordered_map>
#include <vector>

#include "store/flat_index.h"

namespace bm {

struct StoreFile;

// One BBT leaf entry.
struct BlockEntry {
    std::uint64_t bid = 0;           // as stored in the BBT (bit 0 clear)
    std::uint64_t offset = 0;        // file offset of the block
    std::uint32_t size = 0;          // cb: stored bytes, without trailer or padding
    std::int32_t refCount = 0;       // cRef, sign-extended from 16 bits
    std::uint32_t inflatedSize = 0;  // bytes after inflating; equals size unless compressed
    bool pastPageCount = false;      // taken from a slot at or past its page's entry count
};

class BlockTable {
public:
    BlockTable() = default;
    BlockTable(const BlockTable&) = delete;
    BlockTable& operator=(const BlockTable&) = delete;
    BlockTable(BlockTable&&) = default;
    BlockTable& operator=(BlockTable&&) = default;

    // Appends at the tail; the first entry of each BID is the one found,
    // unless it came from past a page's count and this one did not.
    const BlockEntry& Append(const BlockEntry& entry);
    // The first entry whose bid equals `bid` with bit 0 cleared; nullptr for
    // BID 0 or when absent.
    const BlockEntry* Find(std::uint64_t bid) const;
    // Moves the entry Find(bid) gives to where its block really lies (an
    // index entry whose block the deep scan found elsewhere in the file);
    // records that point at the entry follow it. False when there is none.
    bool Relocate(std::uint64_t bid, std::uint64_t offset, std::uint32_t size, std::uint32_t inflatedSize);

    const std::deque<BlockEntry>& entries() const { return entries_; }
    const BlockEntry* head() const { return entries_.empty() ? nullptr : &entries_.front(); }
    const BlockEntry* tail() const { return entries_.empty() ? nullptr : &entries_.back(); }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    void Clear();
    // Bytes the lookup of entries takes beside the entries themselves.
    std::size_t LookupBytes() const;

private:
    const BlockEntry* FindInOrder(std::uint64_t bid) const;
    void IndexAll();

    // Entries in the order appended. While that order is by rising BID
    // (as a block B-tree's leaves list them) a lookup searches them through
    // a sample of every kSampleStride-th BID, so the table costs its entries
    // and an eighth of a byte each; the first entry out of order builds the
    // hash index, which serves every lookup from then on.
    static constexpr std::size_t kSampleStride = 64;
    std::deque<BlockEntry> entries_;
    std::vector<std::uint64_t> sample_;  // bid of entries_[k * kSampleStride]
    bool inOrder_ = true;
    FlatIndex<std::uint64_t, const BlockEntry> index_;
};

// One NBT leaf entry as a record of the node forest.
struct NodeEntry {
    std::uint32_t nid = 0;
    const BlockEntry* subnodeBlock = nullptr;  // bidSub's entry, nullptr when absent
    const BlockEntry* dataBlock = nullptr;     // bidData's entry, nullptr when absent
    std::uint32_t childCount = 0;              // children ever attached (not lowered on a move)
    NodeEntry* olderSibling = nullptr;
    NodeEntry* newerSibling = nullptr;
    NodeEntry* parent = nullptr;  // nullptr for top-level and waiting records
    NodeEntry* oldestChild = nullptr;
    NodeEntry* newestChild = nullptr;

    // The NBT entry as last read; kept for diagnostics and recovery.
    std::uint64_t bidData = 0;
    std::uint64_t bidSub = 0;
    std::uint32_t nidParent = 0;

    // Forest bookkeeping.
    bool topLevel = false;         // linked in the top-level list
    bool waiting = false;          // waiting for the record of nidParent
    std::uint64_t placedOrder = 0; // order of first placement
};

// State kept while one NBT leaf page is placed.
struct LeafPageContext {
    std::uint64_t pageOffset = 0;
    std::uint32_t placed = 0;  // entries placed from this page
};

class NodeForest {
public:
    NodeForest() = default;
    NodeForest(const NodeForest&) = delete;
    NodeForest& operator=(const NodeForest&) = delete;
    NodeForest(NodeForest&&) = default;
    NodeForest& operator=(NodeForest&&) = default;

    // Places one NBT entry (see the top of this file). The block references
    // are resolved by the caller.
    NodeEntry& Place(LeafPageContext& ctx, std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub,
                     std::uint32_t nidParent, const BlockEntry* dataBlock, const BlockEntry* subnodeBlock);

    // The record of a NID, in the forest or waiting for its parent.
    const NodeEntry* Find(std::uint32_t nid) const;
    // Whether the record hangs, through its parents, under a top-level record.
    bool IsInForest(const NodeEntry& node) const;
    // Records still waiting for a parent, in placement order.
    std::vector<const NodeEntry*> Orphans() const;

    // Every record, in the order of first placement.
    const std::deque<NodeEntry>& records() const { return records_; }
    const NodeEntry* first() const { return first_; }
    const NodeEntry* last() const { return last_; }
    std::size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    void Reserve(std::size_t n) { index_.Reserve(n); }
    void Clear();

    // Deepest parent chain followed when checking for cycles; a chain that
    // is deeper is treated as one (the record is not attached under it).
    static constexpr std::size_t kMaxAncestorWalk = 4096;

private:
    NodeEntry* FindMutable(std::uint32_t nid);
    void Attach(NodeEntry& r, bool isNew);
    void AttachTopLevel(NodeEntry& r);
    void AttachChild(NodeEntry& parent, NodeEntry& r);
    void Detach(NodeEntry& r);
    void Wait(NodeEntry& r);
    void AdoptWaitingFor(NodeEntry& r);
    bool IsAncestorOrSelf(const NodeEntry& candidate, const NodeEntry& of) const;

    std::deque<NodeEntry> records_;
    FlatIndex<std::uint32_t, NodeEntry> index_;
    // Waiting records by the NID they wait for, oldest first. Entries whose
    // record stopped waiting (or waits for another NID) are skipped lazily.
    std::unordered_map<std::uint32_t, std::vector<NodeEntry*>> waiting_;
    NodeEntry* first_ = nullptr;
    NodeEntry* last_ = nullptr;
    std::uint64_t placements_ = 0;
};

// The first block entry of a BID (bit 0 cleared), or nullptr.
const BlockEntry* FindBlock(const StoreFile& store, std::uint64_t bid);
// The record of a NID (there is at most one), or nullptr. Records waiting for
// a parent that never came are found too: nothing the store holds is hidden.
const NodeEntry* FindNode(const StoreFile& store, std::uint32_t nid);
// Resolves bidData and bidSub in the block table and places the entry.
void PlaceNodeEntry(StoreFile& store, LeafPageContext& ctx, std::uint32_t nid, std::uint64_t bidData,
                    std::uint64_t bidSub, std::uint32_t nidParent);
// Records that no parent adopted, in placement order.
std::vector<const NodeEntry*> OrphanNodes(const StoreFile& store);

// What the caller knows about the message store record (node 0x21).
enum class StoreRecordState : std::uint8_t {
    Missing,             // no store record, or one without store fields
    WithoutIpmSubtree,   // store fields without an IPM-subtree entry ID
    WithIpmSubtree,      // the entry ID's bytes are passed
};

// Default NID of the top folder when the store names none.
inline constexpr std::uint32_t kDefaultIpmSubtreeNid = 0x2142;

// The top folder of the mail hierarchy: the node named by bytes 20-23 of
// the IPM-subtree entry ID, or kDefaultIpmSubtreeNid without one (also when
// the entry ID is too short to hold a NID). nullptr when not found.
const NodeEntry* FindRootFolder(const StoreFile& store, StoreRecordState state,
                                std::span<const std::uint8_t> ipmSubtreeEntryId = {});

}  // namespace bm
