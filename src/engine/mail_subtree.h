// The first steps every walk of a store shares: open the file exclusively,
// load the node and block indexes and the name-to-ID map, read the message
// store object and find the root of the mail folder subtree.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "messaging/item_reader.h"
#include "messaging/item_record.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/tables.h"

namespace bm {

enum class MailSubtreeStatus : int {
    Found,
    OpenFailed,          // missing, unreadable or in use elsewhere
    StoreObjectMissing,  // no message store object, or one without store fields
    NoRootFolder,        // the subtree root named by the store is not in the forest
};

struct MailSubtree {
    MailSubtreeStatus status = MailSubtreeStatus::OpenFailed;
    const NodeEntry* root = nullptr;  // set when found; lives as long as the store's tables
    bool deepRecoveryRan = false;     // details in RecoveryOf(store)->report
};

struct MailSubtreeOptions {
    // Scan the whole file (deep recovery) even when the index walk leaves
    // the store looking complete. When it looks incomplete, the scan runs
    // regardless of this flag.
    bool deepScan = false;
    // Look for deleted items too (runs the scan); they go to
    // "Recovered Items\Deleted".
    bool recoverDeleted = false;
    // Whether deep recovery runs by itself when the store looks incomplete
    // (reports turn it off to show what the index walk alone gives).
    bool recoverWhenIncomplete = true;
    // Progress of the scan: bytes done and the file's size.
    std::function<void(std::uint64_t done, std::uint64_t total)> scanProgress;
};

// `opened` runs right after a successful open, before the indexes load.
// When the walk leaves the store visibly incomplete (see deep_recovery.h),
// or on request, deep recovery runs before the subtree root is looked for;
// without a store object or root it stands in with the usual subtree NID or
// a made-up root, as long as it found folders or items to show. Items
// their folder's contents table does not list are moved to "Recovered
// Items\Deleted" (see unlisted_items.h) once the root is known.
MailSubtree OpenMailSubtree(StoreFile& store, const std::filesystem::path& path, StoreReader& reader,
                            const std::function<void()>& opened = {}, const MailSubtreeOptions& options = {});

// Why the walk could not read a node.
enum class NodeReadFailure : std::uint8_t {
    NoDataBlock,  // the node names no data block, or one the block index lacks
    Unreadable,   // the block cannot be read, decoded or mapped
};

// What the pre-order walk of the subtree asks of its run.
struct SubtreeWalk {
    // A node the walk could not read (a folder's subtree is not walked).
    std::function<void(const NodeEntry&, NodeReadFailure)> readFailed;
    // From here on the nodes come from the deep scan (lost folders and
    // "Recovered Items"), not from the index.
    std::function<void()> scanPhase;
    // Checked before each node and again after the pause gate.
    std::function<bool()> goOn;
    // Before each node with a data block is read (a run that keeps an
    // account of the node's damage begins it here).
    std::function<void(const NodeEntry&)> beforeRead;
    // After each node with a data block has been read (progress).
    std::function<void()> nodeRead;
    // A record read (never null); true when the walk descends into the
    // node's children next.
    std::function<bool(std::unique_ptr<ItemRecord>, const NodeEntry&)> visit;
    // The walk climbs out of the innermost open folder; false when none.
    std::function<bool()> leaveFolder;
    // Whether the records carry their recipient rows (saving needs them).
    RecipientRows recipients = RecipientRows::Read;
    // Whether the records carry their bodies and recipient rows.
    ItemParts parts = ItemParts::All;
};

// The walk both runs share: pre-order over the nodes below `root`, reading
// every node with a data block, descending where `visit` says so and
// climbing out of finished folders, never above `root`. After deep
// recovery it goes on with the folders whose parent was lost, then with the
// folder "Recovered Items" and its records, then its folder "Deleted" and
// that one's subfolders, as if they hung under `root`.
void WalkMailSubtree(StoreFile& store, const NodeEntry& root, StoreReader& reader, const SubtreeWalk& walk);

}  // namespace bm
