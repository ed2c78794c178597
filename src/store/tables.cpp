#include "store/tables.h"

#include "store/store_file.h"

namespace bm {

const BlockEntry& BlockTable::Append(const BlockEntry& entry) {
    entries_.push_back(entry);
    index_.try_emplace(entry.bid, &entries_.back());
    return entries_.back();
}

const BlockEntry* BlockTable::Find(std::uint64_t) const { return nullptr; }

void BlockTable::Clear() {
    index_.clear();
    entries_.clear();
}

NodeEntry& NodeForest::Place(LeafPageContext&, std::uint32_t nid, std::uint64_t, std::uint64_t, std::uint32_t,
                             const BlockEntry*, const BlockEntry*) {
    records_.emplace_back();
    records_.back().nid = nid;
    return records_.back();
}

const NodeEntry* NodeForest::Find(std::uint32_t) const { return nullptr; }
bool NodeForest::IsInForest(const NodeEntry&) const { return false; }
std::vector<const NodeEntry*> NodeForest::Orphans() const { return {}; }

void NodeForest::Clear() {
    index_.clear();
    waiting_.clear();
    records_.clear();
    first_ = last_ = nullptr;
    placements_ = 0;
}

const BlockEntry* FindBlock(const StoreFile& store, std::uint64_t bid) { return store.blocks.Find(bid); }
const NodeEntry* FindNode(const StoreFile& store, std::uint32_t nid) { return store.forest.Find(nid); }
void PlaceNodeEntry(StoreFile&, LeafPageContext&, std::uint32_t, std::uint64_t, std::uint64_t, std::uint32_t) {}
std::vector<const NodeEntry*> OrphanNodes(const StoreFile& store) { return store.forest.Orphans(); }
const NodeEntry* FindRootFolder(const StoreFile&, StoreRecordState, std::span<const std::uint8_t>) { return nullptr; }

}  // namespace bm
