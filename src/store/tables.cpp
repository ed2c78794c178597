#include "store/tables.h"

#include <algorithm>

#include "common/byte_reader.h"
#include "store/store_file.h"

namespace bm {

const BlockEntry& BlockTable::Append(const BlockEntry& entry) {
    if (inOrder_) {
        if (entries_.empty() || entries_.back().bid < entry.bid) {
            if (entries_.size() % kSampleStride == 0) sample_.push_back(entry.bid);
            entries_.push_back(entry);
            return entries_.back();
        }
        IndexAll();
    }
    entries_.push_back(entry);
    auto [found, inserted] = index_.TryEmplace(entry.bid, &entries_.back());
    if (!inserted && found->pastPageCount && !entry.pastPageCount) found = &entries_.back();
    return entries_.back();
}

void BlockTable::IndexAll() {
    // Every entry so far has a BID of its own: each is the one found.
    inOrder_ = false;
    sample_.clear();
    sample_.shrink_to_fit();
    index_.Reserve(entries_.size() + 1);
    for (const BlockEntry& e : entries_) index_.TryEmplace(e.bid, &e);
}

const BlockEntry* BlockTable::FindInOrder(std::uint64_t bid) const {
    const auto group = std::upper_bound(sample_.begin(), sample_.end(), bid);
    if (group == sample_.begin()) return nullptr;
    const std::size_t first = static_cast<std::size_t>(group - sample_.begin() - 1) * kSampleStride;
    const auto begin = entries_.begin() + static_cast<std::ptrdiff_t>(first);
    const auto end = entries_.begin() + static_cast<std::ptrdiff_t>(std::min(first + kSampleStride, entries_.size()));
    const auto it = std::lower_bound(begin, end, bid, [](const BlockEntry& e, std::uint64_t b) { return e.bid < b; });
    return it != end && it->bid == bid ? &*it : nullptr;
}

const BlockEntry* BlockTable::Find(std::uint64_t bid) const {
    if (bid == 0) return nullptr;
    const std::uint64_t key = bid & ~std::uint64_t{1};
    return inOrder_ ? FindInOrder(key) : index_.Find(key);
}

std::size_t BlockTable::LookupBytes() const {
    return sample_.capacity() * sizeof(std::uint64_t) + index_.capacity() * index_.slotSize();
}

bool BlockTable::Relocate(std::uint64_t bid, std::uint64_t offset, std::uint32_t size, std::uint32_t inflatedSize) {
    const BlockEntry* found = Find(bid);
    if (found == nullptr) return false;
    // The entries themselves are not const: only the index hands them out so.
    auto* entry = const_cast<BlockEntry*>(found);
    entry->offset = offset;
    entry->size = size;
    entry->inflatedSize = inflatedSize;
    return true;
}

void BlockTable::Clear() {
    index_.Clear();
    entries_.clear();
    sample_.clear();
    sample_.shrink_to_fit();
    inOrder_ = true;
}

NodeEntry* NodeForest::FindMutable(std::uint32_t nid) { return index_.Find(nid); }

const NodeEntry* NodeForest::Find(std::uint32_t nid) const { return index_.Find(nid); }

NodeEntry& NodeForest::Place(LeafPageContext& ctx, std::uint32_t nid, std::uint64_t bidData, std::uint64_t bidSub,
                             std::uint32_t nidParent, const BlockEntry* dataBlock, const BlockEntry* subnodeBlock) {
    ++ctx.placed;
    NodeEntry* r = index_.Find(nid);
    if (r != nullptr) {
        r->dataBlock = dataBlock;
        r->subnodeBlock = subnodeBlock;
        r->bidData = bidData;
        r->bidSub = bidSub;
        const bool parentChanged = r->nidParent != nidParent;
        r->nidParent = nidParent;
        if (r->parent != nullptr && r->parent->nid != nidParent) {
            Detach(*r);
            Attach(*r, false);
        } else if (r->waiting && parentChanged) {
            // Still waiting, but the entry now names another parent.
            r->waiting = false;
            Attach(*r, false);
        }
    } else {
        r = &records_.emplace_back();
        r->nid = nid;
        r->dataBlock = dataBlock;
        r->subnodeBlock = subnodeBlock;
        r->bidData = bidData;
        r->bidSub = bidSub;
        r->nidParent = nidParent;
        r->placedOrder = placements_++;
        index_.TryEmplace(nid, r);
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
    r.parent = nullptr;
    r.waiting = false;
    r.topLevel = true;
    r.newerSibling = nullptr;
    r.olderSibling = last_;
    if (last_ != nullptr) last_->newerSibling = &r;
    if (first_ == nullptr) first_ = &r;
    last_ = &r;
}

void NodeForest::AttachChild(NodeEntry& parent, NodeEntry& r) {
    r.parent = &parent;
    r.waiting = false;
    r.topLevel = false;
    r.newerSibling = nullptr;
    r.olderSibling = parent.newestChild;
    if (parent.newestChild != nullptr) {
        parent.newestChild->newerSibling = &r;
    } else {
        parent.oldestChild = &r;
    }
    parent.newestChild = &r;
    ++parent.childCount;
}

void NodeForest::Detach(NodeEntry& r) {
    NodeEntry* parent = r.parent;
    if (parent == nullptr) return;
    if (r.olderSibling != nullptr) {
        r.olderSibling->newerSibling = r.newerSibling;
    } else {
        parent->oldestChild = r.newerSibling;
    }
    if (r.newerSibling != nullptr) {
        r.newerSibling->olderSibling = r.olderSibling;
    } else {
        parent->newestChild = r.olderSibling;
    }
    r.olderSibling = nullptr;
    r.newerSibling = nullptr;
    r.parent = nullptr;
}

void NodeForest::Wait(NodeEntry& r) {
    r.parent = nullptr;
    r.topLevel = false;
    r.waiting = true;
    waiting_[r.nidParent].push_back(&r);
}

void NodeForest::AdoptWaitingFor(NodeEntry& r) {
    if (waiting_.empty()) return;
    const auto it = waiting_.find(r.nid);
    if (it == waiting_.end()) return;
    std::vector<NodeEntry*> candidates = std::move(it->second);
    waiting_.erase(it);
    std::vector<NodeEntry*> still;
    // Newest first, as the orphans are adopted in the order they wait.
    for (auto c = candidates.rbegin(); c != candidates.rend(); ++c) {
        NodeEntry* orphan = *c;
        if (!orphan->waiting || orphan->nidParent != r.nid) continue;  // stale
        if (IsAncestorOrSelf(*orphan, r)) {
            still.push_back(orphan);  // adopting it would close a loop
            continue;
        }
        AttachChild(r, *orphan);
    }
    if (!still.empty()) {
        std::reverse(still.begin(), still.end());
        auto& list = waiting_[r.nid];
        list.insert(list.begin(), still.begin(), still.end());
    }
}

bool NodeForest::IsAncestorOrSelf(const NodeEntry& candidate, const NodeEntry& of) const {
    if (&candidate == &of) return true;
    if (candidate.oldestChild == nullptr) return false;  // nothing hangs below it
    std::size_t steps = 0;
    for (const NodeEntry* p = of.parent; p != nullptr; p = p->parent) {
        if (p == &candidate) return true;
        if (++steps > kMaxAncestorWalk) return true;  // too deep to tell: refuse
    }
    return false;
}

bool NodeForest::IsInForest(const NodeEntry& node) const {
    const NodeEntry* p = &node;
    std::size_t steps = 0;
    while (p->parent != nullptr) {
        p = p->parent;
        if (++steps > kMaxAncestorWalk) return false;
    }
    return p->topLevel;
}

std::vector<const NodeEntry*> NodeForest::Orphans() const {
    std::vector<const NodeEntry*> out;
    for (const NodeEntry& r : records_) {
        if (r.waiting) out.push_back(&r);
    }
    return out;  // records_ is in placement order already
}

void NodeForest::Clear() {
    index_.Clear();
    waiting_.clear();
    records_.clear();
    first_ = last_ = nullptr;
    placements_ = 0;
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
        if (const auto v = reader.peekAt(20, 4)) nid = static_cast<std::uint32_t>(*v);
    }
    return FindNode(store, nid);
}

}  // namespace bm
