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
// Both tables are indexed by hash maps (or, while blocks come in BID order
// and nodes in NID order, a sorted sample); lookups give the same first-match results as a scan in
// walk order (blocks) or pre-order (nodes). Records are compact: the
// forest's links are 32-bit record indices, so a table refuses to grow past
// what 32 bits number instead of wrapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <unordered_map>
#include <vector>

#include "common/chunked_array.h"
#include "store/flat_index.h"
#include "store/sorted_sample.h"

namespace bm {

struct StoreFile;

// The values of one BBT leaf entry.
struct BlockInfo {
    std::uint64_t bid = 0;           // as stored in the BBT (bit 0 clear)
    std::uint64_t offset = 0;        // file offset of the block
    std::uint32_t size = 0;          // cb: stored bytes, without trailer or padding
    std::int32_t refCount = 0;       // cRef, sign-extended from 16 bits
    std::uint32_t inflatedSize = 0;  // bytes after inflating; equals size unless compressed
    bool pastPageCount = false;      // taken from a slot at or past its page's entry count
};

// One BBT leaf entry as the block table keeps it, in 16 bytes. Entries whose
// values fit (BID below 2^32 with bit 0 clear, offset below 2^47, cb and
// inflated size below 2^16, cRef within 16 bits) are held whole in the
// record; any other entry (a damaged store may hold any value) keeps its
// values in the table's side list, and the record points there. Either way
// every value reads back exactly as appended.
class BlockEntry {
public:
    std::uint64_t bid() const { return Wide() ? WideInfo()->bid : word_[0]; }
    std::uint64_t offset() const {
        return Wide() ? WideInfo()->offset : word_[1] | (std::uint64_t{word_[2] & 0x7FFFu} << 32);
    }
    std::uint32_t size() const { return Wide() ? WideInfo()->size : word_[2] >> 16; }
    std::int32_t refCount() const {
        return Wide() ? WideInfo()->refCount : static_cast<std::int16_t>(static_cast<std::uint16_t>(word_[3] >> 16));
    }
    std::uint32_t inflatedSize() const { return Wide() ? WideInfo()->inflatedSize : word_[3] & 0xFFFFu; }
    bool pastPageCount() const { return Wide() ? WideInfo()->pastPageCount : (word_[2] & 0x8000u) != 0; }
    BlockInfo info() const;
    // Whether the values live in the side list (they do not fit the record).
    bool Wide() const { return (word_[0] & 1u) != 0; }

private:
    friend class BlockTable;
    static bool Fits(const BlockInfo& info);
    void Pack(const BlockInfo& info);  // requires Fits(info)
    void PointAt(const BlockInfo* wide);
    const BlockInfo* WideInfo() const;

    std::uint32_t word_[4] = {};
};
static_assert(sizeof(BlockEntry) == 16);

class BlockTable {
public:
    // Most entries a table holds: every entry has a 32-bit index.
    static constexpr std::size_t kMaxEntries = 0xFFFFFFFFu;

    BlockTable() = default;
    // A table that holds at most `maxEntries` (at most kMaxEntries).
    explicit BlockTable(std::size_t maxEntries);
    BlockTable(const BlockTable&) = delete;
    BlockTable& operator=(const BlockTable&) = delete;
    BlockTable(BlockTable&&) = default;
    BlockTable& operator=(BlockTable&&) = default;

    // Appends at the tail; the first entry of each BID is the one found,
    // unless it came from past a page's count and this one did not. Throws
    // std::length_error when the table already holds its most entries.
    const BlockEntry& Append(const BlockInfo& entry);
    // The first entry whose bid equals `bid` with bit 0 cleared; nullptr for
    // BID 0 or when absent.
    const BlockEntry* Find(std::uint64_t bid) const;
    // The index in entries() of the entry Find(bid) gives; kNoEntry when
    // there is none.
    static constexpr std::uint32_t kNoEntry = 0xFFFFFFFFu;
    std::uint32_t IndexOf(std::uint64_t bid) const;
    // Moves the entry Find(bid) gives to where its block really lies (an
    // index entry whose block the deep scan found elsewhere in the file);
    // records that point at the entry follow it. False when there is none.
    bool Relocate(std::uint64_t bid, std::uint64_t offset, std::uint32_t size, std::uint32_t inflatedSize);

    // 8,192 entries (128 KiB) a chunk.
    using Entries = ChunkedArray<BlockEntry, 8192>;
    const Entries& entries() const { return entries_; }
    const BlockEntry* head() const { return entries_.empty() ? nullptr : &entries_.front(); }
    const BlockEntry* tail() const { return entries_.empty() ? nullptr : &entries_.back(); }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    // Entries whose values live in the side list.
    std::size_t wideCount() const { return wide_.size(); }
    void Clear();
    // Bytes the lookup of entries takes beside the entries themselves.
    std::size_t LookupBytes() const;

private:
    void IndexAll();
    void Store(BlockEntry& record, const BlockInfo& info);

    // Entries in the order appended. While that order is by rising BID
    // (as a block B-tree's leaves list them) a lookup searches them through
    // a sorted sample of their BIDs, so the table costs its entries and an
    // eighth of a byte each; the first entry out of order builds the hash
    // index, which serves every lookup from then on.
    Entries entries_;
    std::deque<BlockInfo> wide_;  // values of the entries that do not fit their record
    SortedSample<std::uint64_t> sample_;
    bool inOrder_ = true;
    std::size_t maxEntries_ = kMaxEntries;
    FlatIndex<std::uint64_t> index_;  // bid -> index in entries_
};

// One NBT leaf entry as a record of the node forest, in 56 bytes. The links
// of the forest are record indices; NodeForest turns them into records
// (Parent, OldestChild, NewerSibling...). The block references are the
// block table's entries, whose BID is bidData or bidSub (bit 0 aside).
class NodeEntry {
public:
    std::uint32_t nid = 0;
    std::uint32_t nidParent = 0;   // as the NBT entry last read names it
    std::uint32_t childCount = 0;  // children ever attached (not lowered on a move)
    std::uint32_t placedOrder = 0; // order of first placement: the record's place in records()

    // bidSub's entry and bidData's entry, nullptr when absent.
    const BlockEntry* subnodeBlock() const { return (flags_ & kSubResolved) != 0 ? sub_.block : nullptr; }
    const BlockEntry* dataBlock() const { return (flags_ & kDataResolved) != 0 ? data_.block : nullptr; }
    // The NBT entry's BIDs as last read; kept for diagnostics and recovery.
    std::uint64_t bidData() const;
    std::uint64_t bidSub() const;
    // Sets bidData (bidSub) and its entry; a non-null entry has that BID
    // (bit 0 aside), else std::invalid_argument is thrown.
    void SetData(std::uint64_t bid, const BlockEntry* block);
    void SetSubnodes(std::uint64_t bid, const BlockEntry* block);

    bool topLevel() const { return (flags_ & kTopLevel) != 0; }  // linked in the top-level list
    bool waiting() const { return (flags_ & kWaiting) != 0; }    // waiting for the record of nidParent
    // Whether anything hangs below: a child in the forest, or (for a record
    // made up outside the forest) SetHoldsItems.
    bool hasChildren() const { return oldestChild_ != kNone || (flags_ & kHoldsItems) != 0; }
    // The entry was last placed from an index leaf page that failed its
    // checksum, or chosen by the deep scan among versions of it that differ:
    // its blocks, parent or version may not be the item's current ones.
    bool indexEntryDoubtful() const { return (flags_ & kDoubtful) != 0; }
    // Marks a made-up record as a folder that holds items of its own.
    void SetHoldsItems(bool holds);

private:
    friend class NodeForest;
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    static constexpr std::uint8_t kTopLevel = 1, kWaiting = 2, kDataResolved = 4, kSubResolved = 8,
                                  kDataBitZero = 16, kSubBitZero = 32, kHoldsItems = 64, kDoubtful = 128;
    union Ref {
        const BlockEntry* block;  // when resolved
        std::uint64_t bid;        // otherwise
    };
    void SetRef(Ref& ref, std::uint8_t resolved, std::uint8_t bitZero, std::uint64_t bid, const BlockEntry* block);
    std::uint64_t RefBid(const Ref& ref, std::uint8_t resolved, std::uint8_t bitZero) const;

    Ref data_{.bid = 0};
    Ref sub_{.bid = 0};
    std::uint32_t parent_ = kNone;  // kNone for top-level and waiting records
    std::uint32_t olderSibling_ = kNone;
    std::uint32_t newerSibling_ = kNone;
    std::uint32_t oldestChild_ = kNone;
    std::uint32_t newestChild_ = kNone;
    std::uint8_t flags_ = 0;
};
static_assert(sizeof(NodeEntry) <= 56);

// State kept while one NBT leaf page is placed.
struct LeafPageContext {
    std::uint64_t pageOffset = 0;
    std::uint32_t placed = 0;  // entries placed from this page
    bool doubtful = false;  // the entries are in doubt (see NodeEntry::indexEntryDoubtful)
};

class NodeForest {
public:
    // Most records a forest holds: every record has a 32-bit index.
    static constexpr std::size_t kMaxRecords = 0xFFFFFFFFu;

    NodeForest() = default;
    // A forest that holds at most `maxRecords` (at most kMaxRecords).
    explicit NodeForest(std::size_t maxRecords);
    NodeForest(const NodeForest&) = delete;
    NodeForest& operator=(const NodeForest&) = delete;
    NodeForest(NodeForest&&) = default;
    NodeForest& operator=(NodeForest&&) = default;

    // Places one NBT entry (see the top of this file). The block references
    // are resolved by the caller. Throws std::length_error when a new NID
    // comes and the forest already holds its most records.
    NodeEntry& Place(LeafPageContext& ctx, std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub,
                     std::uint32_t nidParent, const BlockEntry* dataBlock, const BlockEntry* subnodeBlock);

    // The record of a NID, in the forest or waiting for its parent.
    const NodeEntry* Find(std::uint32_t nid) const;
    // Whether the record hangs, through its parents, under a top-level record.
    bool IsInForest(const NodeEntry& node) const;
    // Records still waiting for a parent, in placement order.
    std::vector<const NodeEntry*> Orphans() const;

    // The links of a record of this forest; nullptr where there is none, and
    // for a record made up outside the forest.
    const NodeEntry* Parent(const NodeEntry& node) const { return At(node.parent_); }
    const NodeEntry* OldestChild(const NodeEntry& node) const { return At(node.oldestChild_); }
    const NodeEntry* NewestChild(const NodeEntry& node) const { return At(node.newestChild_); }
    const NodeEntry* OlderSibling(const NodeEntry& node) const { return At(node.olderSibling_); }
    const NodeEntry* NewerSibling(const NodeEntry& node) const { return At(node.newerSibling_); }
    // The NID of the record's parent in the forest, else its nidParent.
    std::uint32_t ParentNid(const NodeEntry& node) const;

    // Every record, in the order of first placement.
    // 4,096 records (224 KiB) a chunk.
    using Records = ChunkedArray<NodeEntry, 4096>;
    const Records& records() const { return records_; }
    const NodeEntry* first() const { return At(first_); }
    const NodeEntry* last() const { return At(last_); }
    std::size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    void Clear();
    // Bytes the lookup of records takes beside the records themselves.
    std::size_t LookupBytes() const {
        return sample_.bytes() + index_.capacity() * index_.slotSize();
    }

    // Deepest parent chain followed when checking for cycles; a chain that
    // is deeper is treated as one (the record is not attached under it).
    static constexpr std::size_t kMaxAncestorWalk = 4096;

private:
    const NodeEntry* At(std::uint32_t index) const {
        return index == NodeEntry::kNone ? nullptr : &records_[index];
    }
    NodeEntry* At(std::uint32_t index) { return index == NodeEntry::kNone ? nullptr : &records_[index]; }
    NodeEntry* FindMutable(std::uint32_t nid);
    std::uint32_t IndexOf(std::uint32_t nid) const;
    void IndexAll();
    void Attach(NodeEntry& r, bool isNew);
    void AttachTopLevel(NodeEntry& r);
    void AttachChild(NodeEntry& parent, NodeEntry& r);
    void Detach(NodeEntry& r);
    void Wait(NodeEntry& r);
    void AdoptWaitingFor(NodeEntry& r);
    bool IsAncestorOrSelf(const NodeEntry& candidate, const NodeEntry& of) const;

    // While records come in rising NID order (as a node B-tree's leaves list
    // them) a lookup searches them through a sorted sample of their NIDs;
    // the first new NID below the last builds the hash index, which serves
    // every lookup from then on.
    Records records_;
    SortedSample<std::uint32_t> sample_;
    bool inOrder_ = true;
    FlatIndex<std::uint32_t> index_;  // nid -> index in records_, once out of order
    // Waiting records (their indices) by the NID they wait for, oldest
    // first. Entries whose record stopped waiting (or waits for another NID)
    // are skipped lazily.
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> waiting_;
    std::uint32_t first_ = NodeEntry::kNone;
    std::uint32_t last_ = NodeEntry::kNone;
    std::size_t maxRecords_ = kMaxRecords;
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
