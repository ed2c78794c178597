#include "store/table_rebuild.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "common/byte_reader.h"
#include "store/blocks.h"

namespace bm {

namespace {

constexpr std::uint8_t kHeapSignature = 0xEC;

bool HeapHead(StoreFile& store, const BlockEntry& entry) {
    Bytes data;
    if (ReadBlockEntry(store, entry, data) < 4) return false;
    DecodeBlock(data, store.cryptMethod, entry.bid());
    return data[2] == kHeapSignature;
}

}  // namespace

bool BlockReadsAsHeap(StoreFile& store, const BlockEntry& entry) {
    if (!IsInternalBid(entry.bid())) return HeapHead(store, entry);
    Bytes tree;
    if (ReadBlockEntry(store, entry, tree) < 8 || tree[0] != 1 || tree[1] != 1) return false;
    const ByteReader reader(tree);
    const std::size_t width = store.layout != nullptr ? store.layout->idWidth : 8;
    const std::size_t first = store.layout != nullptr ? store.layout->internal.dataTreeEntriesAt : 8;
    const auto child = reader.peekAt(first, width);
    if (!child || IsInternalBid(*child)) return false;
    const BlockEntry* childEntry = FindBlock(store, *child);
    return childEntry != nullptr && HeapHead(store, *childEntry);
}

namespace {

// Passes the pause gate; true once a stop is requested.
bool StopRequestedAt(StoreReader* reader) {
    if (reader == nullptr) return false;
    reader->pauseGate.Pass();
    return reader->StopRequested();
}

// Moves index entries whose block the scan found sound at exactly one other
// place. The scan tries every aligned end in the file, so a sound block at
// the entry's own offset would have been found there; it is looked for
// again there (the scan may have kept only the blocks found elsewhere).
std::uint64_t RelocateMisplacedBlocks(StoreFile& store, const StoreScan& scan, StoreReader* reader,
                                      bool& stopped) {
    struct Sighting {
        std::size_t elsewhere = 0;
        const ScannedBlock* block = nullptr;
    };
    // Only blocks seen away from their entry's offset are tracked (in a
    // sound store none); then whether the scan finds each also at the
    // entry's own offset.
    std::unordered_map<std::uint64_t, Sighting> sightings;
    for (const ScannedBlock& block : scan.blocks) {
        if (block.checksumFailed) continue;  // only a sound block is worth a move
        const BlockEntry* entry = FindBlock(store, block.bid);
        if (entry == nullptr || block.offset == entry->offset()) continue;
        Sighting& s = sightings[entry->bid()];
        ++s.elsewhere;
        s.block = &block;
    }
    if (sightings.empty()) return 0;
    std::uint64_t moved = 0;
    for (const auto& [bid, s] : sightings) {
        if (s.elsewhere != 1 || scan.layout == nullptr) continue;
        if (StopRequestedAt(reader)) {
            stopped = true;
            break;
        }
        const BlockEntry* entry = FindBlock(store, bid);
        if (entry == nullptr || ScanFindsBlockAt(store.file, *scan.layout, entry->offset(), bid)) continue;
        if (store.blocks.Relocate(bid, s.block->offset, s.block->size, s.block->inflatedSize)) ++moved;
    }
    return moved;
}

}  // namespace

RebuildCounts MergeScanIntoTables(StoreFile& store, const StoreScan& scan, bool fillNodeGaps,
                                  const std::vector<bool>& agreed, StoreReader* reader) {
    RebuildCounts counts;
    counts.blocksRelocated = RelocateMisplacedBlocks(store, scan, reader, counts.stopped);
    if (counts.stopped) return counts;
    // Sound blocks first: of two copies of a BID, the one whose checksum
    // holds is the one kept.
    for (const bool checksumFailed : {false, true}) {
        for (const ScannedBlock& block : scan.blocks) {
            if (block.checksumFailed != checksumFailed || FindBlock(store, block.bid) != nullptr) continue;
            BlockInfo entry;
            entry.bid = block.bid;
            entry.offset = block.offset;
            entry.size = block.size;
            entry.inflatedSize = block.inflatedSize;
            entry.refCount = 1;
            store.blocks.Append(entry);
            ++counts.blocksFromTrailers;
        }
    }
    for (const BlockInfo& entry : scan.leafBlocks) {
        if (FindBlock(store, entry.bid) != nullptr) continue;
        store.blocks.Append(entry);
        ++counts.blocksFromLeafPages;
    }
    if (!fillNodeGaps) return counts;

    // The versions of each NID in file order; NIDs in order of first sight.
    std::unordered_map<std::uint32_t, std::vector<const ScannedNode*>> versions;
    std::vector<std::uint32_t> order;
    for (const ScannedNode& node : scan.leafNodes) {
        auto& list = versions[node.nid];
        if (list.empty()) order.push_back(node.nid);
        list.push_back(&node);
    }

    LeafPageContext ctx;
    for (const std::uint32_t nid : order) {
        if (StopRequestedAt(reader)) {
            counts.stopped = true;
            break;
        }
        const NodeEntry* existing = FindNode(store, nid);
        if (existing != nullptr && existing->dataBlock() != nullptr) {
            // A record that a leaf page the scan found agrees with stays; one
            // that none does came from a page the walk misread.
            const auto& list = versions[nid];
            const bool leftOut = existing->placedOrder < agreed.size() && agreed[existing->placedOrder];
            if (leftOut || std::any_of(list.begin(), list.end(), [&](const ScannedNode* v) {
                    return v->bidData == existing->bidData() && v->nidParent == existing->nidParent;
                }))
                continue;
        } else if (existing != nullptr && existing->bidData() == 0) {
            continue;
        }
        const ScannedNode* heapVersion = nullptr;
        const ScannedNode* blockVersion = nullptr;
        for (const ScannedNode* v : versions[nid]) {
            const BlockEntry* data = FindBlock(store, v->bidData);
            if (data == nullptr) continue;
            if ((blockVersion == nullptr || v->bidData > blockVersion->bidData)) blockVersion = v;
            if ((heapVersion == nullptr || v->bidData > heapVersion->bidData) && BlockReadsAsHeap(store, *data))
                heapVersion = v;
        }
        const ScannedNode* chosen = heapVersion != nullptr ? heapVersion : blockVersion;
        if (existing != nullptr && existing->dataBlock() != nullptr && heapVersion == nullptr) continue;
        if (chosen == nullptr) {
            if (existing != nullptr) continue;
            chosen = versions[nid].back();
        }
        ctx.pageOffset = chosen->pageOffset;
        // Of versions that differ, the one taken may not be the latest.
        // So is one read from a page whose checksum failed.
        ctx.doubtful = chosen->doubtful || std::any_of(versions[nid].begin(), versions[nid].end(), [&](const ScannedNode* v) {
                           return v->bidData != chosen->bidData;
                       });
        PlaceNodeEntry(store, ctx, nid, chosen->bidData, chosen->bidSub, chosen->nidParent);
        if (existing != nullptr) {
            ++counts.nodesReplaced;
        } else {
            ++counts.nodesAdded;
        }
    }
    store.damage.orphanNodes = store.forest.Orphans().size();
    return counts;
}

}  // namespace bm
