#include "store/tables.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "common/byte_reader.h"
#include "store/entry_id.h"
#include "store/store_file.h"

namespace bm {

BlockInfo BlockEntry::info() const {
    if (Wide()) return *WideInfo();
    return {bid(), offset(), size(), refCount(), inflatedSize(), pastPageCount()};
}

bool BlockEntry::Fits(const BlockInfo& info) {
    return info.bid <= 0xFFFFFFFFu && (info.bid & 1u) == 0 && info.offset < (std::uint64_t{1} << 47) &&
           info.size <= 0xFFFFu && info.inflatedSize <= 0xFFFFu && info.refCount >= INT16_MIN &&
           info.refCount <= INT16_MAX;
}

void BlockEntry::Pack(const BlockInfo& info) {
    word_[0] = static_cast<std::uint32_t>(info.bid);
    word_[1] = static_cast<std::uint32_t>(info.offset);
    word_[2] = static_cast<std::uint32_t>(info.offset >> 32) | (info.pastPageCount ? 0x8000u : 0u) | (info.size << 16);
    word_[3] = info.inflatedSize | (std::uint32_t{static_cast<std::uint16_t>(info.refCount)} << 16);
}

void BlockEntry::PointAt(const BlockInfo* wide) {
    word_[0] = 1;
    std::memcpy(&word_[1], &wide, sizeof wide);
    word_[3] = 0;
}

const BlockInfo* BlockEntry::WideInfo() const {
    const BlockInfo* wide = nullptr;
    std::memcpy(&wide, &word_[1], sizeof wide);
    return wide;
}

BlockTable::BlockTable(std::size_t maxEntries) : maxEntries_(std::min(maxEntries, kMaxEntries)) {}

void BlockTable::Store(BlockEntry& record, const BlockInfo& info) {
    if (record.Wide()) {
        *const_cast<BlockInfo*>(record.WideInfo()) = info;  // the side list's own element
    } else if (BlockEntry::Fits(info)) {
        record.Pack(info);
    } else {
        record.PointAt(&wide_.emplace_back(info));
    }
}

const BlockEntry& BlockTable::Append(const BlockInfo& entry) {
    if (entries_.size() >= maxEntries_) throw std::length_error("the block table is full");
    const auto at = static_cast<std::uint32_t>(entries_.size());
    if (inOrder_) {
        if (entries_.empty() || entries_.back().bid() < entry.bid) {
            sample_.Note(entries_.size(), entry.bid);
            Store(entries_.emplace_back(), entry);
            return entries_.back();
        }
        IndexAll();
    }
    Store(entries_.emplace_back(), entry);
    auto [found, inserted] = index_.TryEmplace(entry.bid, at);
    if (!inserted && entries_[found].pastPageCount() && !entry.pastPageCount) found = at;
    return entries_.back();
}

void BlockTable::IndexAll() {
    // Every entry so far has a BID of its own: each is the one found.
    inOrder_ = false;
    sample_.Clear();
    index_.Reserve(entries_.size() + 1);
    std::uint32_t at = 0;
    for (const BlockEntry& e : entries_) index_.TryEmplace(e.bid(), at++);
}

std::uint32_t BlockTable::IndexOf(std::uint64_t bid) const {
    if (bid == 0) return kNoEntry;
    const std::uint64_t key = bid & ~std::uint64_t{1};
    static_assert(FlatIndex<std::uint64_t>::kNoIndex == kNoEntry && SortedSample<std::uint64_t>::kNone == kNoEntry);
    if (inOrder_) return sample_.Find(entries_, key, [](const BlockEntry& e) { return e.bid(); });
    return index_.Find(key);
}

const BlockEntry* BlockTable::Find(std::uint64_t bid) const {
    const std::uint32_t at = IndexOf(bid);
    return at == kNoEntry ? nullptr : &entries_[at];
}

std::size_t BlockTable::LookupBytes() const {
    return sample_.bytes() + index_.capacity() * index_.slotSize() +
           wide_.size() * sizeof(BlockInfo);
}

bool BlockTable::Relocate(std::uint64_t bid, std::uint64_t offset, std::uint32_t size, std::uint32_t inflatedSize) {
    const BlockEntry* found = Find(bid);
    if (found == nullptr) return false;
    BlockInfo info = found->info();
    info.offset = offset;
    info.size = size;
    info.inflatedSize = inflatedSize;
    // The entries themselves are not const: only the lookup hands them out so.
    Store(*const_cast<BlockEntry*>(found), info);
    return true;
}

void BlockTable::Clear() {
    index_.Clear();
    entries_.clear();
    wide_.clear();
    sample_.Clear();
    inOrder_ = true;
}

void NodeEntry::SetRef(Ref& ref, std::uint8_t resolved, std::uint8_t bitZero, std::uint64_t bid,
                       const BlockEntry* block) {
    flags_ = static_cast<std::uint8_t>(flags_ & ~(resolved | bitZero));
    if (block == nullptr) {
        ref.bid = bid;
        return;
    }
    const std::uint64_t own = block->bid();
    if (bid != own && bid != (own | 1u)) throw std::invalid_argument("a node's block entry has another BID");
    ref.block = block;
    flags_ = static_cast<std::uint8_t>(flags_ | resolved | (bid != own ? bitZero : 0));
}

std::uint64_t NodeEntry::RefBid(const Ref& ref, std::uint8_t resolved, std::uint8_t bitZero) const {
    if ((flags_ & resolved) == 0) return ref.bid;
    return ref.block->bid() | ((flags_ & bitZero) != 0 ? 1u : 0u);
}

void NodeEntry::SetData(std::uint64_t bid, const BlockEntry* block) { SetRef(data_, kDataResolved, kDataBitZero, bid, block); }

void NodeEntry::SetSubnodes(std::uint64_t bid, const BlockEntry* block) {
    SetRef(sub_, kSubResolved, kSubBitZero, bid, block);
}

std::uint64_t NodeEntry::bidData() const { return RefBid(data_, kDataResolved, kDataBitZero); }

std::uint64_t NodeEntry::bidSub() const { return RefBid(sub_, kSubResolved, kSubBitZero); }

void NodeEntry::SetHoldsItems(bool holds) {
    flags_ = static_cast<std::uint8_t>(holds ? flags_ | kHoldsItems : flags_ & ~kHoldsItems);
}

NodeForest::NodeForest(std::size_t maxRecords) : maxRecords_(std::min(maxRecords, kMaxRecords)) {}

std::uint32_t NodeForest::IndexOf(std::uint32_t nid) const {
    static_assert(SortedSample<std::uint32_t>::kNone == NodeEntry::kNone);
    if (!inOrder_) return index_.Find(nid);
    return sample_.Find(records_, nid, [](const NodeEntry& r) { return r.nid; });
}

void NodeForest::IndexAll() {
    inOrder_ = false;
    sample_.Clear();
    index_.Reserve(records_.size() + 1);
    for (const NodeEntry& r : records_) index_.TryEmplace(r.nid, r.placedOrder);
}

NodeEntry* NodeForest::FindMutable(std::uint32_t nid) { return At(IndexOf(nid)); }

const NodeEntry* NodeForest::Find(std::uint32_t nid) const { return At(IndexOf(nid)); }

std::uint32_t NodeForest::ParentNid(const NodeEntry& node) const {
    const NodeEntry* parent = Parent(node);
    return parent != nullptr ? parent->nid : node.nidParent;
}

NodeEntry& NodeForest::Place(LeafPageContext& ctx, std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub,
                             std::uint32_t nidParent, const BlockEntry* dataBlock, const BlockEntry* subnodeBlock) {
    NodeEntry* r = FindMutable(nid);
    if (r == nullptr && records_.size() >= maxRecords_) throw std::length_error("the node forest is full");
    ++ctx.placed;
    if (r != nullptr) {
        r->flags_ = static_cast<std::uint8_t>(ctx.doubtful ? r->flags_ | NodeEntry::kDoubtful
                                                              : r->flags_ & ~NodeEntry::kDoubtful);
        r->SetData(bidData, dataBlock);
        r->SetSubnodes(bidSub, subnodeBlock);
        const bool parentChanged = r->nidParent != nidParent;
        r->nidParent = nidParent;
        const NodeEntry* parent = At(r->parent_);
        if (parent != nullptr && parent->nid != nidParent) {
            Detach(*r);
            Attach(*r, false);
        } else if (r->waiting() && parentChanged) {
            // Still waiting, but the entry now names another parent.
            r->flags_ &= static_cast<std::uint8_t>(~NodeEntry::kWaiting);
            Attach(*r, false);
        }
    } else {
        NodeEntry fresh;
        fresh.nid = nid;
        fresh.SetData(bidData, dataBlock);
        fresh.SetSubnodes(bidSub, subnodeBlock);
        fresh.nidParent = nidParent;
        if (ctx.doubtful) fresh.flags_ |= NodeEntry::kDoubtful;
        fresh.placedOrder = static_cast<std::uint32_t>(records_.size());
        if (inOrder_ && !records_.empty() && nid < records_.back().nid) IndexAll();
        if (inOrder_) {
            sample_.Note(records_.size(), nid);
        } else {
            index_.TryEmplace(nid, fresh.placedOrder);
        }
        r = &records_.emplace_back(fresh);
        Attach(*r, true);
    }
    AdoptWaitingFor(*r);
    return *r;
}

void NodeForest::Attach(NodeEntry& r, bool isNew) {
    if (r.nidParent == 0 || (isNew && r.nidParent == r.nid)) {
        AttachTopLevel(r);
        return;
    }
    NodeEntry* parent = FindMutable(r.nidParent);
    if (parent == nullptr) {
        Wait(r);
    } else if (IsAncestorOrSelf(r, *parent)) {
        AttachTopLevel(r);  // under itself or its own descendant: a loop
    } else {
        AttachChild(*parent, r);
    }
}

void NodeForest::AttachTopLevel(NodeEntry& r) {
    r.parent_ = NodeEntry::kNone;
    r.flags_ = static_cast<std::uint8_t>((r.flags_ & ~NodeEntry::kWaiting) | NodeEntry::kTopLevel);
    r.newerSibling_ = NodeEntry::kNone;
    r.olderSibling_ = last_;
    if (NodeEntry* last = At(last_)) last->newerSibling_ = r.placedOrder;
    if (first_ == NodeEntry::kNone) first_ = r.placedOrder;
    last_ = r.placedOrder;
}

void NodeForest::AttachChild(NodeEntry& parent, NodeEntry& r) {
    r.parent_ = parent.placedOrder;
    r.flags_ = static_cast<std::uint8_t>(r.flags_ & ~(NodeEntry::kWaiting | NodeEntry::kTopLevel));
    r.newerSibling_ = NodeEntry::kNone;
    r.olderSibling_ = parent.newestChild_;
    if (NodeEntry* newest = At(parent.newestChild_)) {
        newest->newerSibling_ = r.placedOrder;
    } else {
        parent.oldestChild_ = r.placedOrder;
    }
    parent.newestChild_ = r.placedOrder;
    ++parent.childCount;
}

void NodeForest::Detach(NodeEntry& r) {
    NodeEntry* parent = At(r.parent_);
    if (parent == nullptr) return;
    if (NodeEntry* older = At(r.olderSibling_)) {
        older->newerSibling_ = r.newerSibling_;
    } else {
        parent->oldestChild_ = r.newerSibling_;
    }
    if (NodeEntry* newer = At(r.newerSibling_)) {
        newer->olderSibling_ = r.olderSibling_;
    } else {
        parent->newestChild_ = r.olderSibling_;
    }
    r.olderSibling_ = NodeEntry::kNone;
    r.newerSibling_ = NodeEntry::kNone;
    r.parent_ = NodeEntry::kNone;
}

void NodeForest::Wait(NodeEntry& r) {
    r.parent_ = NodeEntry::kNone;
    r.flags_ = static_cast<std::uint8_t>((r.flags_ & ~NodeEntry::kTopLevel) | NodeEntry::kWaiting);
    waiting_[r.nidParent].push_back(r.placedOrder);
}

void NodeForest::AdoptWaitingFor(NodeEntry& r) {
    if (waiting_.empty()) return;
    const auto it = waiting_.find(r.nid);
    if (it == waiting_.end()) return;
    std::vector<std::uint32_t> candidates = std::move(it->second);
    waiting_.erase(it);
    std::vector<std::uint32_t> still;
    // Newest first, as the orphans are adopted in the order they wait.
    for (auto c = candidates.rbegin(); c != candidates.rend(); ++c) {
        NodeEntry& orphan = records_[*c];
        if (!orphan.waiting() || orphan.nidParent != r.nid) continue;  // stale
        if (IsAncestorOrSelf(orphan, r)) {
            still.push_back(*c);  // adopting it would close a loop
            continue;
        }
        AttachChild(r, orphan);
    }
    if (!still.empty()) {
        std::reverse(still.begin(), still.end());
        auto& list = waiting_[r.nid];
        list.insert(list.begin(), still.begin(), still.end());
    }
}

bool NodeForest::IsAncestorOrSelf(const NodeEntry& candidate, const NodeEntry& of) const {
    if (&candidate == &of) return true;
    if (candidate.oldestChild_ == NodeEntry::kNone) return false;  // nothing hangs below it
    std::size_t steps = 0;
    for (const NodeEntry* p = Parent(of); p != nullptr; p = Parent(*p)) {
        if (p == &candidate) return true;
        if (++steps > kMaxAncestorWalk) return true;  // too deep to tell: refuse
    }
    return false;
}

bool NodeForest::IsInForest(const NodeEntry& node) const {
    const NodeEntry* p = &node;
    std::size_t steps = 0;
    while (const NodeEntry* up = Parent(*p)) {
        p = up;
        if (++steps > kMaxAncestorWalk) return false;
    }
    return p->topLevel();
}

std::vector<const NodeEntry*> NodeForest::Orphans() const {
    std::vector<const NodeEntry*> out;
    for (const NodeEntry& r : records_) {
        if (r.waiting()) out.push_back(&r);
    }
    return out;  // records_ is in placement order already
}

void NodeForest::Clear() {
    index_.Clear();
    sample_.Clear();
    inOrder_ = true;
    waiting_.clear();
    records_.clear();
    first_ = last_ = NodeEntry::kNone;
}

const BlockEntry* FindBlock(const StoreFile& store, std::uint64_t bid) { return store.blocks.Find(bid); }

const NodeEntry* FindNode(const StoreFile& store, std::uint32_t nid) { return store.forest.Find(nid); }

void PlaceNodeEntry(StoreFile& store, LeafPageContext& ctx, std::uint32_t nid, std::uint64_t bidData,
                    std::uint64_t bidSub, std::uint32_t nidParent) {
    const BlockEntry* data = FindBlock(store, bidData);
    const BlockEntry* sub = FindBlock(store, bidSub);
    if (data == nullptr && bidData != 0) ++store.damage.nodesWithoutData;
    store.forest.Place(ctx, nid, bidData, bidSub, nidParent, data, sub);
}

std::vector<const NodeEntry*> OrphanNodes(const StoreFile& store) { return store.forest.Orphans(); }

const NodeEntry* FindRootFolder(const StoreFile& store, StoreRecordState state,
                                std::span<const std::uint8_t> ipmSubtreeEntryId) {
    if (state == StoreRecordState::Missing) return nullptr;
    std::uint32_t nid = kDefaultIpmSubtreeNid;
    if (state == StoreRecordState::WithIpmSubtree) {
        const ByteReader reader(ipmSubtreeEntryId);
        if (const auto v = reader.peekAt(kStoreEntryIdNidAt, 4)) nid = static_cast<std::uint32_t>(*v);
    }
    return FindNode(store, nid);
}

}  // namespace bm
