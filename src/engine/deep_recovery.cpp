#include "engine/deep_recovery.h"

#include <fmt/format.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <unordered_set>
#include <utility>

#include "common/byte_reader.h"
#include "engine/analysis_collector.h"
#include "engine/lost_folders.h"
#include "messaging/item_reader.h"
#include "store/blocks.h"
#include "store/btree_walk.h"
#include "store/nid_types.h"

namespace bm {

namespace {

// The root page of one tree among the scanned pages: the highest level,
// the newest (highest) BID among pages of that level.
const ScannedPage* FoundRoot(const StoreScan& scan, std::uint8_t type) {
    // Pages whose checksum holds first; the others only when there is none.
    const bool anySound = std::any_of(scan.pages.begin(), scan.pages.end(),
                                      [&](const ScannedPage& p) { return p.type == type && !p.checksumFailed; });
    const ScannedPage* best = nullptr;
    for (const ScannedPage& page : scan.pages) {
        if (page.type != type || (anySound && page.checksumFailed)) continue;
        if (best == nullptr || page.level > best->level || (page.level == best->level && page.bid > best->bid))
            best = &page;
    }
    return best;
}

// Every BID an internal block names: the children of data trees and the
// data and subnode blocks of subnode lists.
void MarkInternalReferences(StoreFile& store, const BlockEntry& entry, NamedBlocks& referenced) {
    Bytes block;
    if (ReadBlockEntry(store, entry, block) < 4) return;
    const ByteReader reader(block);
    const StoreLayout& layout = *store.layout;
    const std::size_t width = layout.idWidth;
    const auto type = block[0];
    const auto level = block[1];
    const auto count = static_cast<std::size_t>(reader.peekAt(2, 2).value_or(0));
    if (type == kDataTreeBlockType) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto bid = reader.peekAt(layout.internal.dataTreeEntriesAt + i * width, width);
            if (!bid) break;
            referenced.Add(*bid);
        }
    } else if (type == kSubnodeBlockType) {
        const std::size_t size = level == 0 ? layout.internal.subnodeLeafSize : layout.internal.subnodeInnerSize;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = layout.internal.subnodeEntriesAt + i * size;
            const auto first = reader.peekAt(at + width, width);
            if (!first) break;
            referenced.Add(*first);
            if (level == 0) {
                if (const auto sub = reader.peekAt(at + 2 * width, width)) referenced.Add(*sub);
            }
        }
    }
}

}  // namespace

// Whether a record read from a heap is an item a user would want back (a
// message-like object; not a folder, the store object or an attachment).
bool IsRecoverableItem(const ItemRecord& record) {
    return !record.folderCounts && !record.storeFields && !record.messageClass.empty();
}

NamedBlocks ReferencedBlocks(StoreFile& store) {
    NamedBlocks referenced(store.blocks);
    for (const NodeEntry& r : store.forest.records()) {
        referenced.Add(r.bidData());
        referenced.Add(r.bidSub());
    }
    for (const BlockEntry& e : store.blocks.entries()) {
        if (IsInternalBid(e.bid()) && FindBlock(store, e.bid()) == &e) MarkInternalReferences(store, e, referenced);
    }
    return referenced;
}

namespace {

void CollectSubtree(const NodeForest& forest, const NodeEntry& top, std::unordered_set<const NodeEntry*>& seen) {
    std::vector<const NodeEntry*> stack{&top};
    while (!stack.empty()) {
        const NodeEntry* n = stack.back();
        stack.pop_back();
        if (!seen.insert(n).second) continue;
        for (const NodeEntry* c = forest.OldestChild(*n); c != nullptr; c = forest.NewerSibling(*c)) stack.push_back(c);
    }
}

}  // namespace

namespace {

// A folder's container class ("IPF.Note", "IPF.Appointment", ...): a heap
// that holds one is a folder's, also without the folder's count cells.
bool IsFolderClass(std::string_view cls) { return cls == "IPF" || cls.starts_with("IPF."); }

// Folder nodes whose own record is lost, and the orphan folder heaps that
// are their current records. A heap is tied to a folder only when the
// folder's name as its witnesses give it (the parent's hierarchy row, the
// store's well-known entry ids) is the heap's display name, and no other
// lost folder has that name: a heap holds no NID of its own.
class LostFolderRecords {
public:
    explicit LostFolderRecords(StoreFile& store) : store_(store) {}

    void Tie(const BlockEntry& heap, const ItemRecord& folder) {
        if (folder.displayName.empty()) return;
        if (!listed_) List();
        const NodeEntry* match = nullptr;
        for (const auto& [node, name] : lost_) {
            if (name != folder.displayName) continue;
            if (match != nullptr) return;  // two folders of that name: neither is chosen
            match = node;
        }
        if (match == nullptr) return;
        LeafPageContext ctx;
        ctx.doubtful = true;  // the scan chose the block, not the index
        store_.forest.Place(ctx, match->nid, heap.bid(), match->bidSub(), match->nidParent, &heap,
                            match->subnodeBlock());
        std::erase_if(lost_, [&](const auto& lost) { return lost.first == match; });
    }

private:
    void List() {
        listed_ = true;
        for (const NodeEntry& r : store_.forest.records()) {
            if (!IsFolderNid(r.nid)) continue;
            if (r.dataBlock() != nullptr) {
                const std::unique_ptr<ItemRecord> own = ReadItem(store_, r);
                if (own && own->folderCounts && !own->storeFields) continue;
            }
            if (std::optional<LostFolderName> name = WitnessedFolderName(store_, r)) lost_.emplace_back(&r, name->name);
        }
    }

    StoreFile& store_;
    bool listed_ = false;
    std::vector<std::pair<const NodeEntry*, std::string>> lost_;
};

}  // namespace

const RecoveredItems* RecoveryOf(const StoreFile& store) {
    return dynamic_cast<const RecoveredItems*>(store.recovery.get());
}

bool IndexLooksIncomplete(const StoreFile& store) {
    const DamageCounters& d = store.damage;
    return d.pagesUnreadable != 0 || d.pagesRejected != 0 || d.pagesRevisited != 0 || d.pageCrcMismatches != 0 ||
           d.rootPagesUnusable != 0 || d.nodesWithoutData != 0 || FindNode(store, kMessageStoreNid) == nullptr;
}

const RecoveredItems& RunDeepRecovery(StoreFile& store, StoreReader& reader, const DeepRecoveryOptions& options) {
    auto state = std::make_unique<RecoveredItems>();
    DeepRecoveryReport& report = state->report;
    report.ran = true;
    report.indexIncomplete = options.indexIncomplete;
    bool walkSettled = options.walkSettled;

    if (store.layout == nullptr || !store.layout->walkable) {
        if (const StoreLayout* detected = DetectLayout(store.file)) {
            store.layout = detected;
            store.formatVersion = FormatVersionOf(*detected);
            report.layoutFromData = true;
            walkSettled = false;
        }
    }
    if (store.layout != nullptr && store.layout->walkable) {
        // A table the scan will not replace keeps what it already says: the
        // scan keeps only leaf entries it lacks and blocks it lacks or puts
        // elsewhere, which are all that is merged or moved.
        ScanFilters filters;
        std::vector<bool> agreed;  // records a leaf entry left out agreed with
        if (walkSettled) {
            // A leaf entry the record of its NID agrees with (and that has
            // its data) neither fills a gap nor is a deleted item.
            agreed.assign(store.forest.size(), false);
            filters.keepLeafNode = [&store, &agreed](const ScannedNode& node) {
                const NodeEntry* record = FindNode(store, node.nid);
                if (record == nullptr || record->dataBlock() == nullptr || record->bidData() != node.bidData ||
                    record->nidParent != node.nidParent)
                    return true;
                agreed[record->placedOrder] = true;
                return false;
            };
            // Old copies are looked at for deleted items only: never for a
            // NID whose record has its data.
            filters.keepStaleLeafNode = [&store](const ScannedNode& node) {
                const NodeEntry* record = FindNode(store, node.nid);
                return record == nullptr || record->dataBlock() == nullptr;
            };
            filters.keepLeafBlock = [&store](std::uint64_t bid) { return FindBlock(store, bid) == nullptr; };
            filters.keepPage = [](const ScannedPage&) { return false; };  // only a new walk looks for roots
            filters.keepBlock = [&store](const ScannedBlock& block) {
                const BlockEntry* entry = FindBlock(store, block.bid);
                return entry == nullptr || entry->offset() != block.offset;
            };
        }
        const StoreScan scan = ScanStoreFile(store.file, *store.layout, &reader, options.progress, 0, filters);
        report.stopped = scan.stopped;
        report.bytesScanned = scan.bytesScanned;
        report.blocksFound = scan.blocksFound;
        report.pagesFound = scan.pagesFound;
        if (!scan.stopped) {
            if (!walkSettled) {
                // The walk could not use the header's roots: walk again from
                // the roots the scan found, so the tables come out as a
                // sound index would have given them.
                const ScannedPage* bbtRoot = FoundRoot(scan, kBlockTreePageType);
                const ScannedPage* nbtRoot = FoundRoot(scan, kNodeTreePageType);
                if (bbtRoot != nullptr && nbtRoot != nullptr) {
                    store.forest.Clear();
                    store.blocks.Clear();
                    store.bbtRootOffset = bbtRoot->offset;
                    store.nbtRootOffset = nbtRoot->offset;
                    store.bbtLeafDepth = store.nbtLeafDepth = kLeafDepthUnknown;
                    store.bbtLeafSeen = store.nbtLeafSeen = false;
                    BuildIndexes(store, reader);
                }
                store.headerCryptMethod = static_cast<std::uint8_t>(DetectCryptMethod(store.file, scan));
            }
            // A walk that misread pages may have settled the encoding on a
            // node that is no heap; the blocks' majority decides instead.
            if (!walkSettled || options.indexIncomplete)
                store.cryptMethod = DetectCryptMethod(store.file, scan);
            report.merged = MergeScanIntoTables(store, scan, options.indexIncomplete, agreed, &reader);
            report.stopped = report.merged.stopped;
            if (options.recoverDeleted && !report.stopped)
                GatherDeletedItems(store, scan, kRecoveredItemsNid, state->deleted);
        }
    }
    store.recovery = std::move(state);
    return *RecoveryOf(store);
}

void GatherLostItems(StoreFile& store, const NodeEntry& root) {
    auto* state = dynamic_cast<RecoveredItems*>(store.recovery.get());
    if (state == nullptr || !state->report.indexIncomplete || state->report.stopped || store.layout == nullptr) return;
    state->folders.clear();
    state->items.clear();
    state->heapRecords.clear();

    // Heaps no node references: every BID named by a node, a data tree or
    // a subnode list is taken; what is left and starts a message's
    // property context is an orphan heap.
    // A folder heap among them is the current record of a folder whose index
    // entry names a lost block (see LostFolderRecords).
    const NamedBlocks referenced = ReferencedBlocks(store);
    LostFolderRecords lostFolders(store);
    std::uint32_t nextNid = kFirstOrphanHeapNid;
    const auto& entries = store.blocks.entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BlockEntry& e = entries[i];
        if (!referenced.FirstAndUnnamed(i)) continue;
        if (state->deleted.holds(e)) continue;
        if (!BlockReadsAsHeap(store, e)) continue;
        NodeEntry& record = state->heapRecords.emplace_back();
        record.nid = nextNid;
        record.SetData(e.bid(), &e);
        record.nidParent = kRecoveredItemsNid;
        std::unique_ptr<ItemRecord> item = ReadItem(store, record);
        const bool folderHeap = item && !item->storeFields && (item->folderCounts || IsFolderClass(item->messageClass));
        if (folderHeap) lostFolders.Tie(e, *item);
        if (!item || folderHeap || !IsRecoverableItem(*item)) {
            state->heapRecords.pop_back();
            continue;
        }
        nextNid -= 32;
        ++state->report.orphanHeaps;
    }
    std::unordered_set<const NodeEntry*> reached;
    CollectSubtree(store.forest, root, reached);
    for (const NodeEntry& r : store.forest.records()) {
        if (!r.waiting() || reached.count(&r) != 0) continue;
        // A folder whose own record is lost is gathered too when anything
        // hangs below it.
        if (IsFolderNid(r.nid) && (r.dataBlock() != nullptr || r.hasChildren())) {
            state->folders.push_back(&r);
            CollectSubtree(store.forest, r, reached);
        }
    }
    for (const NodeEntry& r : store.forest.records()) {
        if (r.waiting() && reached.count(&r) == 0 && IsNormalMessageNid(r.nid) && r.dataBlock() != nullptr)
            state->items.push_back(&r);
    }

    for (NodeEntry& record : state->heapRecords) state->items.push_back(&record);  // under kRecoveredItemsNid

    state->folder = NodeEntry{};
    SettleRecoveredFolder(store, root);
    state->report.recoveredFolders = state->folders.size();
    state->report.recoveredItems = state->items.size();
}

std::optional<DeletedAccount> DeletedAccountOf(const StoreFile& store) {
    const RecoveredItems* state = RecoveryOf(store);
    if (state == nullptr || !state->deleted.searched) return std::nullopt;
    const DeletedItemsReport& r = state->deleted.report;
    DeletedAccount out;
    out.fromStalePages = static_cast<std::int64_t>(r.fromStalePages);
    out.fromStaleSlots = static_cast<std::int64_t>(r.fromStaleSlots);
    out.fromFreeSpace = static_cast<std::int64_t>(r.fromFreeHeaps);
    out.versionsMerged = static_cast<std::int64_t>(r.versionsMerged);
    out.unreadable = static_cast<std::int64_t>(r.unreadable);
    return out;
}

const NodeEntry* FindRecoveredRecord(const StoreFile& store, std::uint32_t nid) {
    const RecoveredItems* state = RecoveryOf(store);
    if (state == nullptr) return nullptr;
    for (const NodeEntry* item : state->items)
        if (item->nid == nid) return item;
    for (const NodeEntry& record : state->deleted.records)
        if (record.nid == nid) return &record;
    return nullptr;
}

void SettleRecoveredFolder(StoreFile& store, const NodeEntry& root) {
    auto* state = dynamic_cast<RecoveredItems*>(store.recovery.get());
    if (state == nullptr) return;
    state->folder.nid = kRecoveredItemsNid;
    state->folder.nidParent = root.nid;
    // Marks the folder as one with children for the runs' walks; the
    // children themselves are `items` and `deleted`, never followed
    // through this link.
    state->folder.SetHoldsItems(HasRecoveredItems(*state));
    state->deleted.folder.nidParent = state->folder.nid;
}

std::unique_ptr<ItemRecord> MadeUpFolderRecord(std::string_view name, std::size_t itemCount) {
    auto record = std::make_unique<ItemRecord>();
    record->folderCounts = std::make_unique<FolderCounts>();
    record->folderCounts->contentCount = static_cast<std::uint32_t>(itemCount);
    record->displayName = std::string(name);
    record->messageClass = std::string(kMailFolderClass);
    return record;
}

std::unique_ptr<ItemRecord> RecoveredItemsFolderRecord(std::size_t itemCount) {
    return MadeUpFolderRecord(kRecoveredItemsFolderName, itemCount);
}

bool HasRecoveredItems(const RecoveredItems& state) { return !state.items.empty() || !state.deleted.empty(); }

std::string FormatRecoveryLine(const DeepRecoveryReport& r) {
    return fmt::format(
        "Deep scan: {} bytes scanned{}, {} blocks and {} index pages found, {} block entries and {} node entries "
        "added, {} block entries moved to where their block lies, {} nodes replaced, {} orphan heaps, {} folders "
        "and {} items recovered{}\r\n",
        r.bytesScanned, r.layoutFromData ? " (layout found from the data)" : "", r.blocksFound, r.pagesFound,
        r.merged.blocksFromTrailers + r.merged.blocksFromLeafPages, r.merged.nodesAdded, r.merged.blocksRelocated,
        r.merged.nodesReplaced,
        r.orphanHeaps, r.recoveredFolders, r.recoveredItems, r.stopped ? " (stopped)" : "");
}

std::string FormatDeletedLine(const DeletedItems& d) {
    const DeletedItemsReport& r = d.report;
    return fmt::format(
        "Deleted items: {} message entries outside the live index, {} items recovered ({} named by index pages no "
        "longer in use, {} by slots past a leaf's count, {} from message heaps nothing names), {} older versions "
        "equal to a newer one, {} no longer readable, {} without their recipient and attachment data\r\n",
        r.entriesSeen, d.itemCount() - d.unlisted.size(), r.fromStalePages, r.fromStaleSlots, r.fromFreeHeaps,
        r.versionsMerged, r.unreadable,
        r.withoutSubnodes);
}

std::int32_t RecoveredNodeCount(const StoreFile& store) {
    const RecoveredItems* state = RecoveryOf(store);
    if (state == nullptr) return 0;
    std::int64_t n = static_cast<std::int64_t>(state->items.size());
    for (const NodeEntry* folder : state->folders) {
        std::unordered_set<const NodeEntry*> seen;
        CollectSubtree(store.forest, *folder, seen);
        n += static_cast<std::int64_t>(seen.size());
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(n, INT32_MAX));
}

}  // namespace bm
