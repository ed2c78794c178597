#include "engine/unlisted_items.h"

#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

#include "common/byte_reader.h"
#include "engine/deep_recovery.h"
#include "engine/lost_folders.h"
#include "format/properties.h"
#include "messaging/item_reader.h"
#include "messaging/property_reader.h"
#include "store/nid_types.h"
#include "store/subnodes.h"

namespace bm {

namespace {

// The node ids the folder's contents table lists; nullopt when the folder
// has no contents table or it cannot be read.
std::optional<std::unordered_set<std::uint32_t>> ListedItems(StoreFile& store, const NodeEntry& folder) {
    const NodeEntry* table = FindNode(store, (folder.nid & ~kNidTypeMask) | kNidTypeContentsTable);
    if (table == nullptr || table->dataBlock() == nullptr) return std::nullopt;
    SubnodeList subnodes;
    if (table->subnodeBlock() != nullptr) ReadSubnodes(store, *table->subnodeBlock(), subnodes);
    std::unordered_set<std::uint32_t> listed;
    bool rowsWithoutId = false;
    // A table read from damaged blocks may have lost rows (a block that
    // failed its checksum, a data tree cut short): it no longer says which
    // items are not listed.
    const DamageCounters before = store.damage;
    const bool read = ForEachPropertyChunk(store, *table->dataBlock(), &subnodes, [&](PropertyChunk&& row) {
        bool hasId = false;
        for (const PropertyValue& v : row.entries) {
            if (v.id != prop::kLtpRowId || v.numericNamed || v.stringNamed || !v.hasData()) continue;
            if (const auto nid = ByteReader(*v.data).peekAt(0, 4)) {
                listed.insert(static_cast<std::uint32_t>(*nid));
                hasId = true;
            }
        }
        rowsWithoutId = rowsWithoutId || !hasId;
    });
    // A row whose id cannot be read might be any item's.
    if (!read || rowsWithoutId || store.damage.Total() != before.Total()) return std::nullopt;
    return listed;
}

RecoveredItems& RecoveryStateOf(StoreFile& store) {
    if (auto* state = dynamic_cast<RecoveredItems*>(store.recovery.get())) return *state;
    auto state = std::make_unique<RecoveredItems>();
    RecoveredItems& out = *state;
    store.recovery = std::move(state);
    return out;
}

// The subfolder of "Deleted" for items of `folder`, added when new.
DeletedFolder& SubfolderFor(StoreFile& store, DeletedItems& deleted, const NodeEntry& folder) {
    for (DeletedFolder& f : deleted.subfolders)
        if (f.sourceNid == folder.nid) return f;
    DeletedFolder& f = deleted.subfolders.emplace_back();
    f.sourceNid = folder.nid;
    if (const std::unique_ptr<ItemRecord> record = ReadWalkedNode(store, folder, nullptr, RecipientRows::Skip))
        f.name = record->displayName;
    f.folder.nid = kFirstDeletedSubfolderNid + static_cast<std::uint32_t>(32 * (deleted.subfolders.size() - 1));
    f.folder.nidParent = kDeletedItemsNid;
    f.folder.SetHoldsItems(true);
    return f;
}

}  // namespace

void GatherUnlistedItems(StoreFile& store, const NodeEntry& root) {
    std::vector<const NodeEntry*> folders{&root};
    while (!folders.empty()) {
        const NodeEntry* folder = folders.back();
        folders.pop_back();
        std::vector<const NodeEntry*> items;
        for (const NodeEntry* child = store.forest.OldestChild(*folder); child != nullptr;
             child = store.forest.NewerSibling(*child)) {
            if (IsFolderNid(child->nid))
                folders.push_back(child);
            else if (IsNormalMessageNid(child->nid) && child->dataBlock() != nullptr)
                items.push_back(child);
        }
        if (items.empty() || !IsNormalFolderNid(folder->nid)) continue;
        const auto listed = ListedItems(store, *folder);
        if (!listed) continue;
        DeletedFolder* subfolder = nullptr;
        for (const NodeEntry* item : items) {
            if (listed->count(item->nid) != 0) continue;
            DeletedItems& deleted = RecoveryStateOf(store).deleted;
            if (subfolder == nullptr) subfolder = &SubfolderFor(store, deleted, *folder);
            // A record of its own, so that the item's folder is the
            // subfolder for every walk; the live record stays as it is.
            NodeEntry& record = deleted.records.emplace_back();
            record.nid = item->nid;
            record.SetData(item->bidData(), item->dataBlock());
            record.SetSubnodes(item->bidSub(), item->subnodeBlock());
            record.nidParent = subfolder->folder.nid;
            subfolder->items.push_back(&record);
            deleted.unlisted.insert(item);
            deleted.unlistedRecords.insert(&record);
        }
    }
    auto* state = dynamic_cast<RecoveredItems*>(store.recovery.get());
    if (state == nullptr || state->deleted.unlisted.empty()) return;
    state->deleted.folder.nid = kDeletedItemsNid;
    state->deleted.folder.SetHoldsItems(true);
    SettleRecoveredFolder(store, root);
}

bool IsUnlistedItem(const StoreFile& store, const NodeEntry& node) {
    const RecoveredItems* state = RecoveryOf(store);
    return state != nullptr && !state->deleted.unlisted.empty() && state->deleted.unlisted.count(&node) != 0;
}

bool IsUnlistedItemRecord(const StoreFile& store, const NodeEntry& node) {
    const RecoveredItems* state = RecoveryOf(store);
    return state != nullptr && state->deleted.unlistedRecords.count(&node) != 0;
}

}  // namespace bm
