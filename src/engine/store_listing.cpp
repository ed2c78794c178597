#include "engine/store_listing.h"

#include <memory>
#include <utility>
#include <vector>

#include "engine/analysis_collector.h"
#include "engine/deep_recovery.h"
#include "engine/lost_folders.h"
#include "engine/mail_subtree.h"
#include "engine/unlisted_items.h"
#include "messaging/item_reader.h"
#include "store/nid_types.h"
#include "store/store_file.h"

namespace bm {

namespace {

struct PendingFolder {
    const NodeEntry* node = nullptr;
    ListedFolder folder;
};

// Frees the store's tables and file however the listing ends.
struct StoreGuard {
    StoreFile& store;
    ~StoreGuard() { ReleaseStore(store); }
};

// One made-up folder of recovered items, whole; `deleted` marks the ones
// that came back incomplete.
void ListMadeUpFolder(StoreFile& store, StoreReader& reader, const ListedFolder& folder,
                      const std::vector<const NodeEntry*>& items, const DeletedItems& deleted,
                      const StoreListingOptions& options, StoreListingVisitor& visitor, StoreListing& listing) {
    if (options.folderPath && *options.folderPath != folder.path) return;
    ++listing.foldersListed;
    visitor.OnFolderBegin(folder);
    for (const NodeEntry* item : items) {
        if (reader.StopRequested()) break;
        reader.pauseGate.Pass();
        std::unique_ptr<ItemRecord> record = ReadItem(store, *item, &reader, nullptr, RecipientRows::Skip);
        if (!record) {
            visitor.OnUnreadableItem(item->nid);
            continue;
        }
        record->incomplete = deleted.incomplete.count(item) != 0;
        visitor.OnItem(item->nid, *record);
    }
    visitor.OnFolderEnd(folder);
}

// "Recovered Items\Deleted" and its subfolders, as the runs walk them.
void ListDeletedItems(StoreFile& store, StoreReader& reader, const RecoveredItems& state,
                      const StoreListingOptions& options, StoreListingVisitor& visitor, StoreListing& listing) {
    const DeletedItems& deleted = state.deleted;
    if (deleted.empty() || reader.StopRequested()) return;
    const std::string path = std::string(kRootFolderPath) + std::string(kRecoveredItemsFolderName) + '\\' +
                             std::string(kDeletedItemsFolderName) + '\\';
    ListMadeUpFolder(store, reader, {path, kDeletedItemsNid, std::string(kMailFolderClass)}, deleted.items, deleted,
                     options, visitor, listing);
    for (const DeletedFolder& f : deleted.subfolders) {
        if (reader.StopRequested()) return;
        ListMadeUpFolder(store, reader, {path + f.name + '\\', f.folder.nid, std::string(kMailFolderClass)}, f.items,
                         deleted, options, visitor, listing);
    }
}

}  // namespace

StoreListing ListStoreContents(const std::filesystem::path& path, StoreListingVisitor& visitor, StoreReader& reader,
                               const StoreListingOptions& options) {
    StoreListing listing;
    StoreFile store;
    StoreGuard guard{store};
    MailSubtreeOptions subtreeOptions;
    subtreeOptions.deepScan = options.deepScan;
    subtreeOptions.recoverDeleted = options.recoverDeleted;
    const MailSubtree subtree = OpenMailSubtree(
        store, path, reader,
        [&] {
            listing.formatVersion = store.formatVersion;
            visitor.OnStoreOpened(store.formatVersion);
        },
        subtreeOptions);
    switch (subtree.status) {
    case MailSubtreeStatus::OpenFailed:
        listing.result = StoreListingResult::OpenFailed;
        return listing;
    case MailSubtreeStatus::StoreObjectMissing:
        listing.result = reader.StopRequested() ? StoreListingResult::Stopped : StoreListingResult::StoreUnreadable;
        return listing;
    case MailSubtreeStatus::NoRootFolder:
        listing.result = StoreListingResult::NoRootFolder;
        return listing;
    case MailSubtreeStatus::Found:
        break;
    }
    const NodeEntry* root = subtree.root;

    std::string rootClass;
    if (const auto rootRecord = ReadItem(store, *root, &reader)) rootClass = rootRecord->messageClass;
    std::vector<PendingFolder> stack;
    stack.push_back({root, {std::string(kRootFolderPath), root->nid, rootClass}});

    const auto listFolders = [&] {
        while (!stack.empty()) {
            if (reader.StopRequested()) return false;
            PendingFolder current = std::move(stack.back());
            stack.pop_back();
            const bool selected = !options.folderPath || *options.folderPath == current.folder.path;
            if (selected) {
                ++listing.foldersListed;
                visitor.OnFolderBegin(current.folder);
            }
            std::vector<PendingFolder> subfolders;
            for (const NodeEntry* child = store.forest.OldestChild(*current.node); child != nullptr; child = store.forest.NewerSibling(*child)) {
                if (reader.StopRequested()) break;
                reader.pauseGate.Pass();
                if ((!selected && !IsFolderNid(child->nid)) || IsUnlistedItem(store, *child)) continue;
                std::unique_ptr<ItemRecord> record = ReadWalkedNode(store, *child, &reader, RecipientRows::Skip);
                if (record && record->folderCounts) {
                    subfolders.push_back({child, {current.folder.path + record->displayName + '\\', child->nid,
                                                  record->messageClass, record->ownRecordLost}});
                } else if (selected) {
                    if (record)
                        visitor.OnItem(child->nid, *record);
                    else
                        visitor.OnUnreadableItem(child->nid);
                }
            }
            if (selected) visitor.OnFolderEnd(current.folder);
            for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) stack.push_back(std::move(*it));
        }
        return true;
    };
    if (!listFolders()) {
        listing.result = StoreListingResult::Stopped;
        return listing;
    }
    // What the deep scan found beyond the index, as the analysis and the
    // saving runs show it: folders whose parent was lost under the root,
    // then "Recovered Items".
    if (const RecoveredItems* state = RecoveryOf(store)) {
        for (const NodeEntry* folder : state->folders) {
            if (reader.StopRequested()) break;
            std::unique_ptr<ItemRecord> record = ReadWalkedNode(store, *folder, &reader, RecipientRows::Skip);
            if (!record || !record->folderCounts) continue;
            stack.push_back({folder, {std::string(kRootFolderPath) + record->displayName + '\\', folder->nid,
                                      record->messageClass, record->ownRecordLost}});
            if (!listFolders()) break;
        }
        const ListedFolder recovered{std::string(kRootFolderPath) + std::string(kRecoveredItemsFolderName) + '\\',
                                     kRecoveredItemsNid, {}};
        if (HasRecoveredItems(*state) && !reader.StopRequested())
            ListMadeUpFolder(store, reader, recovered, state->items, state->deleted, options, visitor, listing);
        ListDeletedItems(store, reader, *state, options, visitor, listing);
    }
    listing.result = reader.StopRequested() ? StoreListingResult::Stopped : StoreListingResult::Listed;
    return listing;
}

}  // namespace bm
