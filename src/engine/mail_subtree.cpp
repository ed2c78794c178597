#include "engine/mail_subtree.h"

#include <memory>

#include "engine/deep_recovery.h"
#include "engine/hierarchy_rows.h"
#include "engine/lost_folders.h"
#include "engine/unlisted_items.h"
#include "messaging/item_reader.h"
#include "messaging/named_properties.h"
#include "store/btree_walk.h"
#include "store/nid_types.h"

namespace bm {

namespace {

// The message store object and the subtree root it names.
struct StoreRoots {
    bool storeObject = false;
    const NodeEntry* root = nullptr;
};

StoreRoots FindStoreRoots(StoreFile& store, StoreReader& reader) {
    StoreRoots out;
    // The message store node is the one BuildIndexes places first; it is
    // looked up by its NID so a damaged tree that placed another node first
    // still finds it.
    const NodeEntry* storeNode = FindNode(store, kMessageStoreNid);
    if (storeNode == nullptr) storeNode = store.forest.first();
    std::unique_ptr<ItemRecord> storeObject = storeNode != nullptr ? ReadItem(store, *storeNode, &reader) : nullptr;
    if (!storeObject || !storeObject->storeFields) return out;
    out.storeObject = true;
    const Bytes& entryId = storeObject->storeFields->ipmSubtreeEntryId;
    out.root = FindRootFolder(
        store, entryId.empty() ? StoreRecordState::WithoutIpmSubtree : StoreRecordState::WithIpmSubtree, entryId);
    return out;
}

// A subtree root when the store no longer names one: the usual subtree
// folder when its record is there, else the made-up root.
const NodeEntry* StandInRoot(StoreFile& store) {
    for (const std::uint32_t nid : {kUsualIpmSubtreeNid, kDefaultIpmSubtreeNid}) {
        const NodeEntry* node = FindNode(store, nid);
        if (node != nullptr && node->dataBlock() != nullptr) return node;
    }
    auto* state = dynamic_cast<RecoveredItems*>(store.recovery.get());
    if (state == nullptr) return nullptr;
    state->standInRoot = NodeEntry{};
    state->standInRoot.nid = kStandInRootNid;
    return &state->standInRoot;
}

void WalkChildren(StoreFile& store, const NodeEntry& root, StoreReader& reader, const SubtreeWalk& walk) {
    const NodeEntry* node = store.forest.OldestChild(root);
    while (node != nullptr && walk.goOn()) {
        reader.pauseGate.Pass();
        if (!walk.goOn()) break;
        bool descend = false;
        if (IsUnlistedItem(store, *node)) {
            // Walked with "Recovered Items\Deleted", not as its folder's mail.
        } else if (node->dataBlock() != nullptr || IsFolderNid(node->nid)) {
            // A folder is walked also when its own record is lost: its
            // items and subfolders are still there below it.
            if (walk.beforeRead) walk.beforeRead(*node);
            std::unique_ptr<ItemRecord> record = ReadWalkedNode(store, *node, &reader, walk.recipients, walk.parts);
            if (walk.nodeRead) walk.nodeRead();
            if (record)
                descend = walk.visit(std::move(record), *node);
            else if (walk.readFailed)
                walk.readFailed(*node, NodeReadFailure::Unreadable);
        } else if (walk.readFailed) {
            walk.readFailed(*node, NodeReadFailure::NoDataBlock);
        }
        if (descend) {
            node = store.forest.OldestChild(*node);
            continue;
        }
        // Climb out of finished folders, never above the subtree root.
        while (store.forest.NewerSibling(*node) == nullptr && store.forest.Parent(*node) != nullptr && store.forest.Parent(*node) != &root) {
            if (!walk.leaveFolder()) break;
            node = store.forest.Parent(*node);
        }
        node = store.forest.NewerSibling(*node);
    }
}

// Items of a made-up folder, read one by one.
// `deleted` marks the records of deleted items that came back incomplete.
void WalkItems(StoreFile& store, const std::vector<const NodeEntry*>& items, StoreReader& reader,
               const SubtreeWalk& walk, const DeletedItems* deleted = nullptr) {
    for (const NodeEntry* item : items) {
        if (!walk.goOn()) break;
        reader.pauseGate.Pass();
        if (!walk.goOn()) break;
        if (walk.beforeRead) walk.beforeRead(*item);
        std::unique_ptr<ItemRecord> record = ReadItem(store, *item, &reader, nullptr, walk.recipients, walk.parts);
        if (walk.nodeRead) walk.nodeRead();
        if (!record) {
            if (walk.readFailed) walk.readFailed(*item, NodeReadFailure::Unreadable);
            continue;
        }
        if (deleted != nullptr) record->incomplete = deleted->incomplete.count(item) != 0;
        walk.visit(std::move(record), *item);
    }
}

// The part of the walk after the subtree: what deep recovery found (lost
// folders, "Recovered Items" and its folder "Deleted"); nothing when it
// never ran.
void WalkRecoveredPart(StoreFile& store, StoreReader& reader, const SubtreeWalk& walk) {
    const RecoveredItems* state = RecoveryOf(store);
    if (state == nullptr) return;
    if (walk.scanPhase && (!state->folders.empty() || HasRecoveredItems(*state))) walk.scanPhase();
    for (const NodeEntry* folder : state->folders) {
        if (!walk.goOn()) return;
        reader.pauseGate.Pass();
        if (!walk.goOn()) return;
        if (walk.beforeRead) walk.beforeRead(*folder);
        std::unique_ptr<ItemRecord> record = ReadWalkedNode(store, *folder, &reader, walk.recipients, walk.parts);
        if (walk.nodeRead) walk.nodeRead();
        if (!record && walk.readFailed) walk.readFailed(*folder, NodeReadFailure::Unreadable);
        if (!record || !walk.visit(std::move(record), *folder)) continue;
        WalkChildren(store, *folder, reader, walk);
        walk.leaveFolder();
    }
    if (!HasRecoveredItems(*state) || !walk.goOn()) return;
    if (!walk.visit(RecoveredItemsFolderRecord(state->items.size()), state->folder)) return;
    WalkItems(store, state->items, reader, walk);
    const DeletedItems& deleted = state->deleted;
    if (!deleted.empty() && walk.goOn() &&
        walk.visit(MadeUpFolderRecord(kDeletedItemsFolderName, deleted.items.size()), deleted.folder)) {
        WalkItems(store, deleted.items, reader, walk, &deleted);
        for (const DeletedFolder& folder : deleted.subfolders) {
            if (!walk.goOn()) break;
            if (!walk.visit(MadeUpFolderRecord(folder.name, folder.items.size()), folder.folder)) continue;
            WalkItems(store, folder.items, reader, walk, &deleted);
            walk.leaveFolder();
        }
        walk.leaveFolder();
    }
    walk.leaveFolder();
}

}  // namespace

MailSubtree OpenMailSubtree(StoreFile& store, const std::filesystem::path& path, StoreReader& reader,
                            const std::function<void()>& opened, const MailSubtreeOptions& options) {
    MailSubtree out;
    if (OpenStore(store, path, StoreOpenMode::Exclusive) != 0) return out;
    if (opened) opened();
    const int built = BuildIndexes(store, reader);
    LoadNamedPropertyMap(store);
    // The parents' hierarchy rows place the folders the index lost or
    // misplaced.
    if (!reader.StopRequested()) PlaceFoldersByHierarchyRows(store);
    StoreRoots roots = FindStoreRoots(store, reader);

    const bool incomplete = built != 0 || !roots.storeObject || roots.root == nullptr || IndexLooksIncomplete(store);
    if ((options.deepScan || options.recoverDeleted || (incomplete && options.recoverWhenIncomplete)) &&
        !reader.StopRequested()) {
        DeepRecoveryOptions recovery;
        recovery.indexIncomplete = incomplete;
        recovery.recoverDeleted = options.recoverDeleted;
        recovery.walkSettled = built == 0;
        recovery.progress = options.scanProgress;
        const RecoveredItems& state = RunDeepRecovery(store, reader, recovery);
        out.deepRecoveryRan = true;
        if (incomplete && !state.report.stopped) {
            if (!store.namedPropertyMap) LoadNamedPropertyMap(store);
            PlaceFoldersByHierarchyRows(store);
            if (roots.root == nullptr) roots = FindStoreRoots(store, reader);
            const NodeEntry* root = roots.root != nullptr ? roots.root : StandInRoot(store);
            if (root != nullptr) GatherLostItems(store, *root);
            const RecoveredItems* gathered = RecoveryOf(store);
            // A made-up root is offered only when there is something under it.
            const bool worthShowing = root != nullptr && (root->nid != kStandInRootNid || !gathered->items.empty() ||
                                                          !gathered->folders.empty());
            if (roots.root == nullptr && worthShowing) {
                roots.root = root;
                roots.storeObject = true;
            }
        }
    }
    if (!roots.storeObject) {
        out.status = MailSubtreeStatus::StoreObjectMissing;
        return out;
    }
    out.root = roots.root;
    if (out.deepRecoveryRan && out.root != nullptr && !RecoveryOf(store)->deleted.empty())
        SettleRecoveredFolder(store, *out.root);
    if (out.root != nullptr && !reader.StopRequested()) GatherUnlistedItems(store, *out.root);
    out.status = out.root != nullptr ? MailSubtreeStatus::Found : MailSubtreeStatus::NoRootFolder;
    return out;
}

void WalkMailSubtree(StoreFile& store, const NodeEntry& root, StoreReader& reader, const SubtreeWalk& walk) {
    WalkChildren(store, root, reader, walk);
    WalkRecoveredPart(store, reader, walk);
}

}  // namespace bm
