// Merging what the deep scan found into the tables the index walk built.
//
// The walk's entries stay as they are, but for one case below; the scan
// fills gaps:
//   blocks  a BID the table lacks is added from the block's own trailer
//           (checked where it lies; a block whose checksum holds before one
//           taken by its structure), else from a block-tree leaf page the
//           scan found (also one the index no longer reaches). An entry
//           whose block is not where it says (no sound block of that BID
//           lies at its offset) but lies, sound, at exactly one other place
//           is moved there: the one change made to a walk's entry;
//   nodes   only when the walk left the node tree visibly incomplete. A NID
//           the forest lacks, whose record has no data block, or whose
//           record no leaf page the scan found agrees with (a page the walk
//           misread), is placed from the node-tree leaf pages the scan
//           found. Of
//           several versions of a node, those whose data block exists and
//           reads as a heap win, the newest (highest) data BID among them;
//           without such a version, the newest whose block exists.
// On a sound store (nothing to fill) the node forest is left untouched, so
// its listing does not change.
#pragma once

#include <cstdint>
#include <vector>

#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/store_scan.h"

namespace bm {

struct RebuildCounts {
    std::uint64_t blocksFromTrailers = 0;
    std::uint64_t blocksFromLeafPages = 0;
    std::uint64_t blocksRelocated = 0;
    std::uint64_t nodesAdded = 0;
    std::uint64_t nodesReplaced = 0;
    bool stopped = false;  // ended early on a stop request
};

// Whether the data block of `entry` reads as a heap under the store's method
// (an XBLOCK counts when its first data block does).
bool BlockReadsAsHeap(StoreFile& store, const BlockEntry& entry);

// Merges `scan` into the store's tables (see the top of this file).
// `agreed` marks (by placedOrder) the records a leaf entry agreed with that
// the scan left out of leafNodes: they count as agreed with as well.
// `reader` (optional) carries the pause gate and the stop request, which
// the merge honours between the blocks it looks for again and between nodes.
RebuildCounts MergeScanIntoTables(StoreFile& store, const StoreScan& scan, bool fillNodeGaps,
                                  const std::vector<bool>& agreed = {}, StoreReader* reader = nullptr);

}  // namespace bm
