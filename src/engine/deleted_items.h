// Deleted items: messages the store still holds outside its live index.
//
// Deleting an item removes its entry from the node index, but its blocks
// stay in the file until the store is compacted, and earlier versions of
// index pages (and the slots past a leaf's count) still name it. After the
// deep scan has found every block and index page by its trailer, each
// message entry those pages name that the live index does not is read from
// its data and subnode blocks; what reads as a message becomes an item of
// "Recovered Items\Deleted", in a subfolder named after the folder it was
// deleted from when that folder is still in the store.
//
// A message found in several versions appears once, as its newest version
// (the highest data BID), unless versions differ in content (class,
// subject, times, bodies): then each distinct content appears.
//
// Message heaps that nothing names any more (no node, live or stale, and no
// internal block) are read too, and kept unless a live item or one found
// above has the same content: those are earlier versions of items the
// store still holds. They have no subnode list, so no recipients or
// attachments, and go straight into "Deleted".
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "messaging/item_record.h"
#include "store/store_file.h"
#include "store/store_scan.h"
#include "store/tables.h"

namespace bm {

inline constexpr std::string_view kDeletedItemsFolderName = "Deleted";
// Record ids of the made-up folders (folder type in the low five bits):
// "Deleted", and its subfolders counting up from the second.
inline constexpr std::uint32_t kDeletedItemsNid = 0xFFFFFFA2u;
inline constexpr std::uint32_t kFirstDeletedSubfolderNid = 0xFFFE0002u;
// Ids of further versions of a deleted message (message type), counting up.
inline constexpr std::uint32_t kFirstDeletedVersionNid = 0xF0000004u;

struct DeletedItemsReport {
    std::uint64_t entriesSeen = 0;      // message entries the live index lacks
    std::uint64_t fromStalePages = 0;   // items named by index pages no longer in use
    std::uint64_t fromStaleSlots = 0;   // items named only by slots past a leaf's count
    std::uint64_t fromFreeHeaps = 0;    // message heaps nothing names any more
    std::uint64_t versionsMerged = 0;   // older versions left out as equal to a newer one
    std::uint64_t unreadable = 0;       // entries whose data no longer reads as a message
    std::uint64_t withoutSubnodes = 0;  // items whose recipient/attachment data is gone (incomplete)
};

// A subfolder of "Deleted": the items deleted from one folder.
struct DeletedFolder {
    NodeEntry folder;          // made-up record, marked as holding items
    std::uint32_t sourceNid = 0;  // the folder they were deleted from
    std::string name;
    std::vector<const NodeEntry*> items;
};

struct DeletedItems {
    bool searched = false;  // the search for deleted items ran
    DeletedItemsReport report;
    NodeEntry folder;                       // "Deleted"
    std::vector<const NodeEntry*> items;    // items whose folder is not in the store
    std::deque<DeletedFolder> subfolders;   // in order of the folders' first deleted item
    std::deque<NodeEntry> records;          // the items' made-up records
    // Items whose subnode list (recipients, attachments) no longer reads.
    std::unordered_set<const NodeEntry*> incomplete;
    // The data blocks the items were read from.
    std::unordered_set<const BlockEntry*> dataBlocks;
    // Live items their folder's contents table does not list (see
    // unlisted_items.h), and the records that place them in the subfolders
    // beside the others.
    std::unordered_set<const NodeEntry*> unlisted;
    std::unordered_set<const NodeEntry*> unlistedRecords;

    bool empty() const { return items.empty() && subfolders.empty(); }
    // Whether one of the items was read from this block.
    bool holds(const BlockEntry& block) const { return dataBlocks.count(&block) != 0; }
    std::size_t itemCount() const;
};

// What tells a version of an item from another item: its subject and
// delivery time (its class too when it has none), whatever the bodies,
// flags and other times say; drafts and sent copies share it.
std::string IdentityKey(const ItemRecord& record);

// Finds the deleted items among what `scan` found; `parentNid` is the
// record id the folder "Deleted" hangs under.
void GatherDeletedItems(StoreFile& store, const StoreScan& scan, std::uint32_t parentNid, DeletedItems& out);

}  // namespace bm
