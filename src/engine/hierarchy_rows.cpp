#include "engine/hierarchy_rows.h"

#include <algorithm>
#include <unordered_map>

#include "common/byte_reader.h"
#include "messaging/item_mapping.h"
#include "messaging/property_reader.h"
#include "store/nid_types.h"
#include "store/subnodes.h"
#include "store/tables.h"

namespace bm {

namespace {

constexpr std::uint32_t kRowIdProperty = 0x67F2;
constexpr std::uint32_t kDisplayNameProperty = 0x3001;
constexpr std::uint32_t kContainerClassProperty = 0x3613;

std::uint32_t TableNidOf(std::uint32_t folderNid) { return (folderNid & ~kNidTypeMask) | kNidTypeHierarchyTable; }

// The folder a hierarchy table belongs to: the normal folder of its index,
// else the search folder, as the forest holds them.
std::uint32_t OwnerOf(const StoreFile& store, std::uint32_t tableNid) {
    const std::uint32_t normal = (tableNid & ~kNidTypeMask) | kNidTypeNormalFolder;
    const std::uint32_t search = (tableNid & ~kNidTypeMask) | kNidTypeSearchFolder;
    if (FindNode(store, normal) == nullptr && FindNode(store, search) != nullptr) return search;
    return normal;
}

}  // namespace

std::vector<HierarchyRow> ReadHierarchyRows(StoreFile& store, std::uint32_t folderNid) {
    std::vector<HierarchyRow> rows;
    const NodeEntry* table = FindNode(store, TableNidOf(folderNid));
    if (table == nullptr || table->dataBlock() == nullptr) return rows;
    SubnodeList subnodes;
    if (table->subnodeBlock() != nullptr) ReadSubnodes(store, *table->subnodeBlock(), subnodes);
    ForEachPropertyChunk(store, *table->dataBlock(), &subnodes, [&](PropertyChunk&& chunk) {
        HierarchyRow row;
        for (const PropertyValue& v : chunk.entries) {
            if (!v.hasData() || v.numericNamed || v.stringNamed) continue;
            if (v.id == kRowIdProperty) {
                row.nid = static_cast<std::uint32_t>(ByteReader(*v.data).peekAt(0, 4).value_or(0));
            } else if (v.id == kDisplayNameProperty || v.id == kContainerClassProperty) {
                std::string& member = v.id == kDisplayNameProperty ? row.displayName : row.containerClass;
                if (auto text = ValueText(v, store.formatVersion, 0)) member = std::move(*text);
            }
        }
        if (IsFolderNid(row.nid) && row.nid != folderNid) rows.push_back(std::move(row));
    });
    // The table lists its last row first.
    std::reverse(rows.begin(), rows.end());
    return rows;
}

HierarchyPlacement PlaceFoldersByHierarchyRows(StoreFile& store) {
    HierarchyPlacement placed;
    // The folders each subfolder NID is listed by, in the order met.
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> listedBy;
    std::vector<std::uint32_t> order;
    std::vector<std::uint32_t> tables;
    for (const NodeEntry& node : store.forest.records())
        if (NidTypeOf(node.nid) == kNidTypeHierarchyTable && node.dataBlock() != nullptr) tables.push_back(node.nid);
    for (const std::uint32_t tableNid : tables) {
        const std::uint32_t owner = OwnerOf(store, tableNid);
        for (const HierarchyRow& row : ReadHierarchyRows(store, owner)) {
            auto& list = listedBy[row.nid];
            if (list.empty()) order.push_back(row.nid);
            if (std::find(list.begin(), list.end(), owner) == list.end()) list.push_back(owner);
        }
    }
    if (order.empty()) return placed;

    // The NIDs records wait for (their parent never came).
    std::unordered_map<std::uint32_t, std::size_t> waitedFor;
    for (const NodeEntry* orphan : OrphanNodes(store)) ++waitedFor[orphan->nidParent];

    for (const std::uint32_t nid : order) {
        const std::vector<std::uint32_t>& owners = listedBy[nid];
        const NodeEntry* record = FindNode(store, nid);
        if (record != nullptr && std::find(owners.begin(), owners.end(), record->nidParent) != owners.end()) continue;
        // Two tables that list the folder, neither of them its entry's
        // parent: the rows do not say which one holds it.
        if (owners.size() != 1) continue;
        LeafPageContext ctx;
        if (record == nullptr) {
            if (waitedFor.count(nid) == 0) continue;
            PlaceNodeEntry(store, ctx, nid, 0, 0, owners.front());
            ++placed.foldersAdded;
            continue;
        }
        if (record->nidParent == nid) continue;  // a top-level folder (the root) stays where it is
        ctx.doubtful = record->indexEntryDoubtful();
        // Placed again with the blocks it has: its damage was counted once.
        store.forest.Place(ctx, nid, record->bidData(), record->bidSub(), owners.front(), record->dataBlock(),
                           record->subnodeBlock());
        ++placed.foldersMoved;
    }
    if (placed.foldersMoved + placed.foldersAdded != 0) store.damage.orphanNodes = store.forest.Orphans().size();
    return placed;
}

}  // namespace bm
