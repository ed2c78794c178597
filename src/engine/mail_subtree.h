// The first steps every walk of a store shares: open the file exclusively,
// load the node and block indexes and the name-to-ID map, read the message
// store object and find the root of the mail folder subtree.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>

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
};

// `opened` runs right after a successful open, before the indexes load.
MailSubtree OpenMailSubtree(StoreFile& store, const std::filesystem::path& path, StoreReader& reader,
                            const std::function<void()>& opened = {});

// What the pre-order walk of the subtree asks of its run.
struct SubtreeWalk {
    // Checked before each node and again after the pause gate.
    std::function<bool()> goOn;
    // After each node with a data block has been read (progress).
    std::function<void()> nodeRead;
    // A record read (never null); true when the walk descends into the
    // node's children next.
    std::function<bool(std::unique_ptr<ItemRecord>, const NodeEntry&)> visit;
    // The walk climbs out of the innermost open folder; false when none.
    std::function<bool()> leaveFolder;
};

// The walk both runs share: pre-order over the nodes below `root`, reading
// every node with a data block, descending where `visit` says so and
// climbing out of finished folders, never above `root`.
void WalkMailSubtree(StoreFile& store, const NodeEntry& root, StoreReader& reader, const SubtreeWalk& walk);

}  // namespace bm
