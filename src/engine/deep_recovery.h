// Deep recovery: getting items back when the index walk cannot reach them.
//
// It runs after the index walk, automatically when the walk left the store
// visibly incomplete (no message store node or root folder, index pages
// skipped or unusable, nodes whose data blocks are missing), and on request.
// Steps:
//   1. the layout comes from the header, or from the data when the header
//      names none (DetectLayout), and so does the encoding;
//   2. one sequential scan of the file (ScanStoreFile) finds blocks and
//      index pages by their trailers; its progress goes to the caller and
//      the reader's pause gate and stop request are honoured;
//   3. the finds are merged into the tables (MergeScanIntoTables); nodes
//      only when the index was incomplete, so a sound store lists the same;
//   4. when the index was incomplete: folders whose parent is lost are
//      walked under the subtree root, and messages whose folder is lost,
//      as well as message heaps that no node references (orphan heaps),
//      go to the folder "Recovered Items" under the root.
// What it found is kept in the store (StoreFile::recovery) for the walks of
// both runs (see WalkMailSubtree).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/deleted_items.h"
#include "engine/named_blocks.h"
#include "engine/reconciliation.h"
#include "messaging/item_record.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/store_scan.h"
#include "store/table_rebuild.h"
#include "store/tables.h"

namespace bm {

inline constexpr std::string_view kRecoveredItemsFolderName = "Recovered Items";
// Record ids of the folder and of the stand-in root, outside the ids a
// store hands out (folder type in the low five bits).
inline constexpr std::uint32_t kRecoveredItemsNid = 0xFFFFFFE2u;
inline constexpr std::uint32_t kStandInRootNid = 0xFFFFFFC2u;
// Ids of orphan heaps' records start here (message type), going down.
inline constexpr std::uint32_t kFirstOrphanHeapNid = 0xFFFFFF84u;
// The usual NID of the mail folder subtree, tried when the store object
// that names it is lost.
inline constexpr std::uint32_t kUsualIpmSubtreeNid = 0x8022;

struct DeepRecoveryReport {
    bool ran = false;
    bool stopped = false;           // the scan or the merge ended on a stop request
    bool indexIncomplete = false;   // the walk left the store visibly incomplete
    bool layoutFromData = false;    // the header named no layout; the data did
    std::uint64_t bytesScanned = 0;
    std::uint64_t blocksFound = 0;
    std::uint64_t pagesFound = 0;
    RebuildCounts merged;
    std::uint64_t orphanHeaps = 0;      // message heaps no node references
    std::uint64_t recoveredFolders = 0; // folders walked under the root
    std::uint64_t recoveredItems = 0;   // records in "Recovered Items"
};

// Kept in StoreFile::recovery once deep recovery ran.
class RecoveredItems : public StoreExtension {
public:
    DeepRecoveryReport report;
    // Folders whose parent is lost, walked under the subtree root.
    std::vector<const NodeEntry*> folders;
    // Records of "Recovered Items": messages whose folder is lost, then
    // the orphan heaps' records.
    std::vector<const NodeEntry*> items;
    // The folder "Recovered Items" (no data block; its record is made up).
    NodeEntry folder;
    // The stand-in for a subtree root the store no longer has.
    NodeEntry standInRoot;
    // Records made up for orphan heaps.
    std::deque<NodeEntry> heapRecords;
    // What "Recovered Items\Deleted" holds, when deleted items were asked for.
    DeletedItems deleted;
};

// The block entries something in the store names: the records' data and
// subnode blocks, and what internal blocks (data trees, subnode lists) name.
NamedBlocks ReferencedBlocks(StoreFile& store);

// Whether a record read from a heap is an item a user would want back (a
// message-like object; not a folder, the store object or an attachment).
bool IsRecoverableItem(const ItemRecord& record);

// The recovery state of a store, or nullptr when deep recovery never ran.
const RecoveredItems* RecoveryOf(const StoreFile& store);

// Whether the walk's damage counters show the index as incomplete, or the
// message store node is missing.
bool IndexLooksIncomplete(const StoreFile& store);

struct DeepRecoveryOptions {
    bool indexIncomplete = false;  // fill node gaps and gather lost items
    bool walkSettled = true;       // the index walk settled the encoding
    bool recoverDeleted = false;   // look for deleted items too
    ScanProgress progress;
};

// Runs steps 1-4 and keeps the outcome in store.recovery.
const RecoveredItems& RunDeepRecovery(StoreFile& store, StoreReader& reader, const DeepRecoveryOptions& options);

// Gathers the lost folders and items below `root` (step 4); called once the
// root is known. Does nothing unless the index was incomplete.
void GatherLostItems(StoreFile& store, const NodeEntry& root);

// The record of an item deep recovery made up or brought back (lost items,
// orphan heaps, deleted items) with this NID; nullptr when there is none.
const NodeEntry* FindRecoveredRecord(const StoreFile& store, std::uint32_t nid);

// What the search for deleted items found, for the run's account; nullopt
// when it did not run.
std::optional<DeletedAccount> DeletedAccountOf(const StoreFile& store);

// What an incomplete deleted item lost.
inline constexpr std::string_view kIncompleteDeletedItemLoss = "recipients and attachments";

// Hangs the folder "Recovered Items" under `root` once the root is known.
void SettleRecoveredFolder(StoreFile& store, const NodeEntry& root);

// The record of the "Recovered Items" folder.
std::unique_ptr<ItemRecord> RecoveredItemsFolderRecord(std::size_t itemCount);

// The record of a folder made up for what the scan found: `name`, holding
// `itemCount` items.
std::unique_ptr<ItemRecord> MadeUpFolderRecord(std::string_view name, std::size_t itemCount);

// Whether "Recovered Items" has anything to show: lost items or deleted ones.
bool HasRecoveredItems(const RecoveredItems& state);

// One line for the activity log: what the scan found and what came back.
std::string FormatRecoveryLine(const DeepRecoveryReport& report);
// And one for what the search for deleted items found.
std::string FormatDeletedLine(const DeletedItems& deleted);

// The progress range while the file is scanned (positions are permille).
inline constexpr std::uint64_t kScanProgressRange = 1000;

// Nodes the walk reads beyond the subtree: lost folders and their subtrees,
// the recovered items.
std::int32_t RecoveredNodeCount(const StoreFile& store);

}  // namespace bm
